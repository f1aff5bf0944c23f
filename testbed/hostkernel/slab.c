// SPDX-License-Identifier: GPL-2.0
/* Host layer: counted kmalloc()/kfree() with failure injection. */
#include <stdlib.h>
#include <string.h>

#include <linux/slab.h>
#include <linux/kernel.h>
#include <kxhost/bug.h>
#include <kxhost/fault.h>
#include <kxhost/irq.h>
#include <kxhost/slab.h>

static long live;
static unsigned long total;

void *kmalloc(size_t size, gfp_t flags)
{
	void *p;

	if (!(flags & __GFP_KXH_ATOMIC) && kxh_atomic_depth())
		kxh_bug("kmalloc(GFP_KERNEL) in atomic context");
	if (kxh_fault_check("kmalloc"))
		return NULL;
	p = malloc(size ? size : 1);
	if (!p)
		return NULL;
	if (flags & __GFP_ZERO)
		memset(p, 0, size);
	live++;
	total++;
	return p;
}

void *kzalloc(size_t size, gfp_t flags)
{
	return kmalloc(size, flags | __GFP_ZERO);
}

void *kmalloc_array(size_t n, size_t size, gfp_t flags)
{
	if (size && n > (size_t)-1 / size)
		return NULL;
	return kmalloc(n * size, flags);
}

void *kcalloc(size_t n, size_t size, gfp_t flags)
{
	return kmalloc_array(n, size, flags | __GFP_ZERO);
}

void kfree(const void *p)
{
	if (!p)
		return;
	live--;
	free((void *)p);
}

long kxh_slab_live(void)
{
	return live;
}

unsigned long kxh_slab_total(void)
{
	return total;
}
