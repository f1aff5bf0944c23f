/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/wait.h>: wait queues, wake-ups and the
 * wait_event family with the kernel's return values.
 *
 * The host runs the module on the test's thread, so a sleeping task cannot
 * be woken by another one. Instead every sleep step of a waiting task calls
 * the test's sleep hook (<kxhost/wait.h>), which stands for everything else
 * the system does meanwhile: it may push data, run work, wake the queue or
 * send the task a signal. A step in which the queue was not woken lets one
 * jiffy of virtual time pass (timers fire). An uninterruptible sleep that
 * nothing can end aborts the test (it would hang the task for ever).
 */
#ifndef _LINUX_WAIT_H
#define _LINUX_WAIT_H

#include <linux/types.h>
#include <linux/compiler.h>
#include <linux/kernel.h>
#include <linux/list.h>
#include <linux/spinlock.h>
#include <linux/sched.h>

struct wait_queue_head {
	spinlock_t lock;
	struct list_head head;
	unsigned int kxh_wakeups;	/* wake-up calls so far (host) */
	unsigned int kxh_sleepers;	/* tasks sleeping on it now (host) */
};
typedef struct wait_queue_head wait_queue_head_t;

#define __WAIT_QUEUE_HEAD_INITIALIZER(name) { \
	.lock = __SPIN_LOCK_UNLOCKED(name.lock), \
	.head = LIST_HEAD_INIT(name.head), \
	.kxh_wakeups = 0, .kxh_sleepers = 0 }
#define DECLARE_WAIT_QUEUE_HEAD(name) \
	struct wait_queue_head name = __WAIT_QUEUE_HEAD_INITIALIZER(name)

void init_waitqueue_head(struct wait_queue_head *wq_head);
void __wake_up(struct wait_queue_head *wq_head, unsigned int mode, int nr, void *key);

#define wake_up(x) __wake_up(x, TASK_NORMAL, 1, NULL)
#define wake_up_nr(x, nr) __wake_up(x, TASK_NORMAL, nr, NULL)
#define wake_up_all(x) __wake_up(x, TASK_NORMAL, 0, NULL)
#define wake_up_interruptible(x) __wake_up(x, TASK_INTERRUPTIBLE, 1, NULL)
#define wake_up_interruptible_all(x) __wake_up(x, TASK_INTERRUPTIBLE, 0, NULL)

static inline int waitqueue_active(struct wait_queue_head *wq_head)
{
	return READ_ONCE(wq_head->kxh_sleepers) != 0;
}

/* host: before a sleep step; -ERESTARTSYS when an interruptible sleeper has a signal */
long kxh_prepare_to_wait_event(struct wait_queue_head *wq_head, int state);
/* host: one sleep step of at most `timeout` jiffies; the jiffies left */
long kxh_wait_schedule(struct wait_queue_head *wq_head, long timeout, int state);

#define ___wait_is_interruptible(state) \
	((state) == TASK_INTERRUPTIBLE || (state) == TASK_KILLABLE)

#define ___wait_cond_timeout(condition) \
({ \
	bool __cond = (condition); \
	if (__cond && !__ret) \
		__ret = 1; \
	__cond || !__ret; \
})

#define ___wait_event(wq_head, condition, state, ret, cmd) \
({ \
	long __ret = ret; \
	for (;;) { \
		long __int = kxh_prepare_to_wait_event(&(wq_head), state); \
		if (condition) \
			break; \
		if (___wait_is_interruptible(state) && __int) { \
			__ret = __int; \
			break; \
		} \
		cmd; \
	} \
	__ret; \
})

#define wait_event(wq_head, condition) \
do { \
	might_sleep(); \
	if (condition) \
		break; \
	(void)___wait_event(wq_head, condition, TASK_UNINTERRUPTIBLE, 0, \
			    kxh_wait_schedule(&(wq_head), MAX_SCHEDULE_TIMEOUT, \
					      TASK_UNINTERRUPTIBLE)); \
} while (0)

#define wait_event_timeout(wq_head, condition, timeout) \
({ \
	long __ret = timeout; \
	might_sleep(); \
	if (!___wait_cond_timeout(condition)) \
		__ret = ___wait_event(wq_head, ___wait_cond_timeout(condition), \
				      TASK_UNINTERRUPTIBLE, timeout, \
				      __ret = kxh_wait_schedule(&(wq_head), __ret, \
								TASK_UNINTERRUPTIBLE)); \
	__ret; \
})

#define wait_event_interruptible(wq_head, condition) \
({ \
	int __ret = 0; \
	might_sleep(); \
	if (!(condition)) \
		__ret = (int)___wait_event(wq_head, condition, TASK_INTERRUPTIBLE, 0, \
					   kxh_wait_schedule(&(wq_head), MAX_SCHEDULE_TIMEOUT, \
							     TASK_INTERRUPTIBLE)); \
	__ret; \
})

#define wait_event_interruptible_timeout(wq_head, condition, timeout) \
({ \
	long __ret = timeout; \
	might_sleep(); \
	if (!___wait_cond_timeout(condition)) \
		__ret = ___wait_event(wq_head, ___wait_cond_timeout(condition), \
				      TASK_INTERRUPTIBLE, timeout, \
				      __ret = kxh_wait_schedule(&(wq_head), __ret, \
								TASK_INTERRUPTIBLE)); \
	__ret; \
})

#endif
