/* SPDX-License-Identifier: GPL-2.0 */
/* Host stand-in for <linux/bitmap.h>: bitmaps of unsigned longs. */
#ifndef _LINUX_BITMAP_H
#define _LINUX_BITMAP_H

#include <linux/bitops.h>

#define DECLARE_BITMAP(name, bits) unsigned long name[BITS_TO_LONGS(bits)]

/* the bits beyond nbits in the last word are left undefined, as in the kernel */
static inline void bitmap_complement(unsigned long *dst, const unsigned long *src,
				     unsigned int nbits)
{
	unsigned int k;

	for (k = 0; k < BITS_TO_LONGS(nbits); k++)
		dst[k] = ~src[k];
}

#endif
