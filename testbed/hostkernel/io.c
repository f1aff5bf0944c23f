// SPDX-License-Identifier: GPL-2.0
/* Host layer: simulated register blocks behind ioremap(). */
#include <stdlib.h>
#include <string.h>

#include <linux/kernel.h>
#include <linux/io.h>
#include <kxhost/bug.h>
#include <kxhost/fault.h>
#include <kxhost/io.h>

#define MAX_BLOCKS 16

static struct kxh_io_block *blocks[MAX_BLOCKS];
static unsigned int nblocks;
static unsigned long nreads;

struct kxh_io_block *kxh_io_find(phys_addr_t phys)
{
	unsigned int i;

	for (i = 0; i < nblocks; i++)
		if (phys >= blocks[i]->phys && phys < blocks[i]->phys + blocks[i]->size)
			return blocks[i];
	return NULL;
}

struct kxh_io_block *kxh_io_install(phys_addr_t phys, size_t size,
				    const struct kxh_io_ops *ops)
{
	struct kxh_io_block *blk;

	if (kxh_io_find(phys))
		kxh_bug("register block at %#llx installed twice", (unsigned long long)phys);
	if (nblocks == MAX_BLOCKS)
		kxh_bug("too many register blocks");
	blk = calloc(1, sizeof(*blk));
	if (!blk)
		abort();
	/* the registers live in their own allocation so ASan sees overruns */
	blk->regs = calloc(size / 4, 4);
	if (!blk->regs)
		abort();
	blk->phys = phys;
	blk->size = size;
	blk->ops = ops;
	blocks[nblocks++] = blk;
	return blk;
}

static struct kxh_io_block *from_addr(const volatile void *addr, u32 *off)
{
	unsigned int i;

	for (i = 0; i < nblocks; i++) {
		const char *base = (const char *)blocks[i]->regs;
		const char *a = (const char *)addr;

		if (a >= base && a < base + blocks[i]->size) {
			if (!blocks[i]->mapped)
				kxh_bug("access to unmapped register block %#llx",
					(unsigned long long)blocks[i]->phys);
			*off = (u32)(a - base);
			return blocks[i];
		}
	}
	kxh_bug("register access outside any mapped block: %p", (const void *)addr);
}

void __iomem *ioremap(phys_addr_t phys, size_t size)
{
	struct kxh_io_block *blk;

	if (kxh_fault_check("ioremap"))
		return NULL;
	blk = kxh_io_find(phys);

	if (!blk)
		blk = kxh_io_install(phys, size < 4096 ? 4096 : size, NULL);
	if (phys + size > blk->phys + blk->size)
		kxh_bug("ioremap beyond the block at %#llx", (unsigned long long)blk->phys);
	blk->mapped++;
	return (char *)blk->regs + (phys - blk->phys);
}

void iounmap(volatile void __iomem *addr)
{
	u32 off;
	struct kxh_io_block *blk = from_addr(addr, &off);

	blk->mapped--;
}

u32 kxh_io_peek(struct kxh_io_block *blk, u32 off)
{
	return blk->regs[off / 4];
}

void kxh_io_poke(struct kxh_io_block *blk, u32 off, u32 value)
{
	blk->regs[off / 4] = value;
}

unsigned long kxh_io_reads(void)
{
	return nreads;
}

u32 readl(const volatile void __iomem *addr)
{
	u32 off;
	struct kxh_io_block *blk = from_addr(addr, &off);

	if (off & 3)
		kxh_bug("unaligned 32-bit register read at %#x", off);
	nreads++;
	if (blk->ops && blk->ops->read)
		return blk->ops->read(blk, off);
	return blk->regs[off / 4];
}

void writel(u32 value, volatile void __iomem *addr)
{
	u32 off;
	struct kxh_io_block *blk = from_addr(addr, &off);

	if (off & 3)
		kxh_bug("unaligned 32-bit register write at %#x", off);
	if (blk->nwrites < sizeof(blk->writes) / sizeof(blk->writes[0])) {
		blk->writes[blk->nwrites].off = off;
		blk->writes[blk->nwrites].value = value;
	}
	blk->nwrites++;
	if (blk->ops && blk->ops->write)
		blk->ops->write(blk, off, value);
	else
		blk->regs[off / 4] = value;
}

u16 readw(const volatile void __iomem *addr)
{
	u32 off;
	struct kxh_io_block *blk = from_addr(addr, &off);

	return (u16)(blk->regs[off / 4] >> (8 * (off & 2)));
}

void writew(u16 value, volatile void __iomem *addr)
{
	u32 off;
	struct kxh_io_block *blk = from_addr(addr, &off);
	u32 shift = 8 * (off & 2);

	blk->regs[off / 4] = (blk->regs[off / 4] & ~(0xFFFFu << shift)) | ((u32)value << shift);
}

u8 readb(const volatile void __iomem *addr)
{
	u32 off;
	struct kxh_io_block *blk = from_addr(addr, &off);

	return (u8)(blk->regs[off / 4] >> (8 * (off & 3)));
}

void writeb(u8 value, volatile void __iomem *addr)
{
	u32 off;
	struct kxh_io_block *blk = from_addr(addr, &off);
	u32 shift = 8 * (off & 3);

	blk->regs[off / 4] = (blk->regs[off / 4] & ~(0xFFu << shift)) | ((u32)value << shift);
}
