/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/bug.h>: WARN_ON (<linux/printk.h>) is recorded,
 * BUG_ON, where the kernel would oops, ends the test at once.
 */
#ifndef _LINUX_BUG_H
#define _LINUX_BUG_H

#include <linux/compiler.h>
#include <linux/printk.h>
#include <kxhost/bug.h>

#define BUG() kxh_bug("BUG at %s:%d", __FILE__, __LINE__)
#define BUG_ON(cond) do { if (unlikely(cond)) BUG(); } while (0)

#endif
