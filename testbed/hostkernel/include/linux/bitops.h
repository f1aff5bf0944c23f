/* SPDX-License-Identifier: GPL-2.0 */
/* Host stand-in for <linux/bitops.h>: the generic, non-atomic bit helpers. */
#ifndef _LINUX_BITOPS_H
#define _LINUX_BITOPS_H

#include <linux/types.h>
#include <linux/compiler.h>

#define BITS_PER_LONG (8 * (int)sizeof(long))
#define BITS_TO_LONGS(nr) (((nr) + BITS_PER_LONG - 1) / BITS_PER_LONG)
#define BIT_WORD(nr) ((nr) / BITS_PER_LONG)
#define BIT_MASK(nr) (1UL << ((nr) % BITS_PER_LONG))

/* last (most significant) set bit, 1-based; 0 for 0 */
static inline int fls(unsigned int x)
{
	return x ? 32 - __builtin_clz(x) : 0;
}

static inline int fls64(u64 x)
{
	return x ? 64 - __builtin_clzll(x) : 0;
}

static inline unsigned int fls_long(unsigned long l)
{
	return (unsigned int)fls64(l);
}

static inline void __set_bit(unsigned long nr, unsigned long *addr)
{
	addr[BIT_WORD(nr)] |= BIT_MASK(nr);
}

static inline void __clear_bit(unsigned long nr, unsigned long *addr)
{
	addr[BIT_WORD(nr)] &= ~BIT_MASK(nr);
}

static inline bool test_bit(unsigned long nr, const unsigned long *addr)
{
	return (addr[BIT_WORD(nr)] & BIT_MASK(nr)) != 0;
}

#endif
