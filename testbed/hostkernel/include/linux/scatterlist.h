/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/scatterlist.h>, what lib/kfifo.c's DMA helpers
 * use (the module has no DMA): a plain array of entries, the last one
 * marked, no chained tables.
 */
#ifndef _LINUX_SCATTERLIST_H
#define _LINUX_SCATTERLIST_H

#include <linux/types.h>
#include <asm/page.h>

struct scatterlist {
	struct page *page;
	unsigned int offset;
	unsigned int length;
	bool end;
};

static inline void sg_set_page(struct scatterlist *sg, struct page *page,
			       unsigned int len, unsigned int offset)
{
	sg->page = page;
	sg->offset = offset;
	sg->length = len;
}

static inline void sg_mark_end(struct scatterlist *sg)
{
	sg->end = true;
}

static inline struct scatterlist *sg_next(struct scatterlist *sg)
{
	return sg->end ? NULL : sg + 1;
}

#endif
