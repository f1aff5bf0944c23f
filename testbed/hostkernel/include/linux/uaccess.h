/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/uaccess.h>. User memory is the test's memory; a
 * fault is simulated with the fault sites "copy_to_user" and
 * "copy_from_user" (nothing is copied then) or a null pointer. Both return
 * the number of bytes NOT copied, and may sleep.
 */
#ifndef _LINUX_UACCESS_H
#define _LINUX_UACCESS_H

#include <linux/types.h>
#include <linux/compiler.h>
#include <linux/kernel.h>	/* min(), the limits: the kernel's reaches them too */

unsigned long copy_to_user(void __user *to, const void *from, unsigned long n);
unsigned long copy_from_user(void *to, const void __user *from, unsigned long n);

#endif
