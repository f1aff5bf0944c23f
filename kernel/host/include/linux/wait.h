/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/wait.h>: only the type so far; the waiting and
 * waking calls come with the code that sleeps on a queue.
 */
#ifndef _LINUX_WAIT_H
#define _LINUX_WAIT_H

#include <linux/types.h>
#include <linux/spinlock.h>

struct wait_queue_head {
	spinlock_t lock;
	struct list_head head;
};
typedef struct wait_queue_head wait_queue_head_t;

#endif
