// SPDX-License-Identifier: GPL-2.0
/*
 * Host layer: wait queues. A kernel thread sleeps until woken (kthread.c);
 * any other context takes a sleep step of the mode in force (scheduler.h).
 * The deterministic step is here: it hands control to the test's sleep hook
 * (standing for the rest of the system) and, unless the queue was woken or
 * a signal arrived meanwhile, lets one jiffy of virtual time pass.
 */
#include <linux/kernel.h>
#include <linux/errno.h>
#include <linux/jiffies.h>
#include <linux/wait.h>
#include <kxhost/bug.h>
#include <kxhost/irq.h>
#include <kxhost/kthread.h>
#include <kxhost/live.h>
#include <kxhost/time.h>
#include <kxhost/wait.h>
#include "scheduler.h"

#define NS_PER_JIFFY (1000000000LL / HZ)
/* an endless sleep that nothing ends within an hour of virtual time hangs */
#define IDLE_LIMIT (3600L * HZ)
/* wake-ups that never make the condition true: the task spins */
#define SPIN_LIMIT 1000000L

static void (*sleep_hook)(void *arg);
static void *sleep_hook_arg;
static int signal_flag;
static unsigned long sleep_steps;
static long idle_steps, spin_steps;

void kxh_wait_set_hook(void (*fn)(void *arg), void *arg)
{
	sleep_hook = fn;
	sleep_hook_arg = arg;
}

void kxh_signal_raise(void)
{
	signal_flag = 1;
}

void kxh_signal_clear(void)
{
	signal_flag = 0;
}

int kxh_signal_is_pending(void)
{
	return signal_flag || kxh_live_signal_pending();
}

unsigned long kxh_wait_steps(void)
{
	return sleep_steps;
}

void init_waitqueue_head(struct wait_queue_head *wq_head)
{
	spin_lock_init(&wq_head->lock);
	INIT_LIST_HEAD(&wq_head->head);
	wq_head->kxh_wakeups = 0;
	wq_head->kxh_sleepers = 0;
}

void __wake_up(struct wait_queue_head *wq_head, unsigned int mode, int nr, void *key)
{
	(void)mode;
	(void)nr;
	(void)key;
	if (!wq_head->head.next)
		kxh_bug("wake-up on an uninitialised wait queue");
	/* wake-ups may come from several threads (host kernel threads) */
	__atomic_fetch_add(&wq_head->kxh_wakeups, 1, __ATOMIC_SEQ_CST);
	kxh_kthread_wake_queue(wq_head);
	kxh_sched()->kick();
}

long kxh_prepare_to_wait_event(struct wait_queue_head *wq_head, int state)
{
	if (!wq_head->head.next)
		kxh_bug("wait on an uninitialised wait queue");
	if (kxh_atomic_depth())
		kxh_bug("sleeping on a wait queue in atomic context");
	if (kxh_in_kthread())
		return kxh_kthread_prepare_wait(wq_head, state);
	if ((state & TASK_INTERRUPTIBLE) && kxh_signal_is_pending())
		return -ERESTARTSYS;
	return 0;
}

long kxh_wait_schedule(struct wait_queue_head *wq_head, long timeout, int state)
{
	/* a host kernel thread sleeps for real until woken */
	if (kxh_in_kthread())
		return kxh_kthread_wait_schedule(wq_head, timeout, state);
	return kxh_sched()->wait_step(wq_head, timeout, state);
}

/* deterministic: the sleep hook plays the rest of the system for one step */
long kxh_virtual_wait_step(struct wait_queue_head *wq_head, long timeout, int state)
{
	unsigned int wakeups;

	wakeups = __atomic_load_n(&wq_head->kxh_wakeups, __ATOMIC_SEQ_CST);
	might_sleep();
	sleep_steps++;
	wq_head->kxh_sleepers++;
	if (sleep_hook)
		sleep_hook(sleep_hook_arg);
	wq_head->kxh_sleepers--;
	if (__atomic_load_n(&wq_head->kxh_wakeups, __ATOMIC_SEQ_CST) != wakeups ||
	    ((state & TASK_INTERRUPTIBLE) && signal_flag)) {
		if (++spin_steps > SPIN_LIMIT)
			kxh_bug("task woken for ever without its condition");
		return timeout;
	}
	spin_steps = 0;
	kxh_time_advance_ns(NS_PER_JIFFY);
	if (timeout == MAX_SCHEDULE_TIMEOUT) {
		if (++idle_steps > IDLE_LIMIT)
			kxh_bug("task sleeps for ever on a wait queue nobody wakes");
		return timeout;
	}
	idle_steps = 0;
	return timeout > 0 ? timeout - 1 : 0;
}

struct sleeper {
	struct wait_queue_head *wq_head;
	unsigned int wakeups;
	int state;
};

static bool woken_or_signalled(const void *arg)
{
	const struct sleeper *s = arg;

	return __atomic_load_n(&s->wq_head->kxh_wakeups, __ATOMIC_SEQ_CST) != s->wakeups ||
	       ((s->state & TASK_INTERRUPTIBLE) && kxh_signal_is_pending());
}

/* a sleep step that blocks (live mode): until woken, signalled or out of time */
long kxh_blocking_wait_step(struct wait_queue_head *wq_head, long timeout, int state)
{
	const struct kxh_sched_ops *sched = kxh_sched();
	struct sleeper s = {
		.wq_head = wq_head,
		.wakeups = __atomic_load_n(&wq_head->kxh_wakeups, __ATOMIC_SEQ_CST),
		.state = state,
	};
	s64 deadline = -1, left;

	if (timeout != MAX_SCHEDULE_TIMEOUT)
		deadline = sched->now() + (s64)timeout * NS_PER_JIFFY;
	wq_head->kxh_sleepers++;
	sched->block(woken_or_signalled, &s, deadline);
	wq_head->kxh_sleepers--;
	if (deadline < 0)
		return timeout;
	left = deadline - sched->now();
	return left > 0 ? (long)((left + NS_PER_JIFFY - 1) / NS_PER_JIFFY) : 0;
}
