/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/kthread.h>. Each kernel thread is a real thread
 * of the test process. By default they take turns with the test (one runs
 * at a time, a woken thread runs when the test calls kxh_sched_run()), so a
 * test decides every interleaving; in concurrent mode they run freely, for
 * the ThreadSanitizer tests (<kxhost/kthread.h>).
 */
#ifndef _LINUX_KTHREAD_H
#define _LINUX_KTHREAD_H

#include <linux/types.h>
#include <linux/err.h>
#include <linux/sched.h>

struct task_struct *kthread_create(int (*threadfn)(void *data), void *data,
				   const char *namefmt, ...) __printf(3, 4);
bool kthread_should_stop(void);
int kthread_stop(struct task_struct *k);

#define kthread_run(threadfn, data, namefmt, ...) ({ \
	struct task_struct *__k = kthread_create(threadfn, data, namefmt, ##__VA_ARGS__); \
	if (!IS_ERR(__k)) \
		wake_up_process(__k); \
	__k; })

#endif
