/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/io.h>. ioremap() hands out a simulated register
 * block for the physical address: a model when a test installed one there
 * (the TPM4 timer, <kxhost/tpm4.h>), plain 32-bit registers otherwise. Every
 * write is recorded per block (<kxhost/io.h>).
 */
#ifndef _LINUX_IO_H
#define _LINUX_IO_H

#include <linux/types.h>

void __iomem *ioremap(phys_addr_t phys, size_t size);
void iounmap(volatile void __iomem *addr);
u32 readl(const volatile void __iomem *addr);
void writel(u32 value, volatile void __iomem *addr);
u16 readw(const volatile void __iomem *addr);
void writew(u16 value, volatile void __iomem *addr);
u8 readb(const volatile void __iomem *addr);
void writeb(u8 value, volatile void __iomem *addr);

#define readl_relaxed(a) readl(a)
#define writel_relaxed(v, a) writel((v), (a))
#define ioread32(a) readl(a)
#define iowrite32(v, a) writel((v), (a))

#endif
