/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/slab.h>. Allocations are counted (live and total)
 * and can be made to fail (fault site "kmalloc", see <kxhost/fault.h>).
 */
#ifndef _LINUX_SLAB_H
#define _LINUX_SLAB_H

#include <linux/types.h>
#include <linux/gfp.h>

void *kmalloc(size_t size, gfp_t flags);
void *kzalloc(size_t size, gfp_t flags);
void *kcalloc(size_t n, size_t size, gfp_t flags);
void *kmalloc_array(size_t n, size_t size, gfp_t flags);
void kfree(const void *p);

#endif
