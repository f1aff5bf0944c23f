/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Simulated register blocks behind ioremap(). A model is installed at a
 * physical address with kxh_io_install(); other addresses get plain
 * registers. Every write (offset, value) is recorded per block.
 */
#ifndef KXHOST_IO_H
#define KXHOST_IO_H

#include <linux/types.h>

struct kxh_io_block;

struct kxh_io_ops {
	/* return the value read; regs holds the block's register words */
	u32 (*read)(struct kxh_io_block *blk, u32 off);
	void (*write)(struct kxh_io_block *blk, u32 off, u32 value);
};

struct kxh_io_block {
	phys_addr_t phys;
	size_t size;
	u32 *regs;			/* size / 4 words */
	const struct kxh_io_ops *ops;	/* NULL: plain registers */
	int mapped;			/* live ioremap()s */
	unsigned int nwrites;
	struct { u32 off, value; } writes[256];	/* first 256 writes */
};

struct kxh_io_block *kxh_io_install(phys_addr_t phys, size_t size,
				    const struct kxh_io_ops *ops);
struct kxh_io_block *kxh_io_find(phys_addr_t phys);
/* the register word at off, without side effects */
u32 kxh_io_peek(struct kxh_io_block *blk, u32 off);
void kxh_io_poke(struct kxh_io_block *blk, u32 off, u32 value);
unsigned long kxh_io_reads(void);

#endif
