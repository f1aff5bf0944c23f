/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <asm/page.h>: 4 KiB pages, and the host's memory mapped
 * one to one (a page's "physical" address is its virtual one, so a buffer is
 * contiguous wherever it is contiguous in the process).
 */
#ifndef _ASM_PAGE_H
#define _ASM_PAGE_H

#include <linux/types.h>

#define PAGE_SHIFT 12
#define PAGE_SIZE (1UL << PAGE_SHIFT)
#define PAGE_MASK (~(PAGE_SIZE - 1))

struct page;

#define offset_in_page(p) ((unsigned long)(p) & ~PAGE_MASK)
#define virt_to_page(p) ((struct page *)((unsigned long)(p) & PAGE_MASK))
#define page_to_phys(page) ((phys_addr_t)(unsigned long)(page))

#endif
