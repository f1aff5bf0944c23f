// SPDX-License-Identifier: GPL-2.0
/*
 * The host layer's live mode (kxkernel): work, timers and sleepers run on
 * threads of their own in real time, taking turns on the one simulated
 * CPU. Each case starts live mode in its own process. Waits for other
 * threads are bounded loops of short sleeps, never a measure of speed.
 */
#include <string.h>

#include <kxhost.h>
#include <linux/delay.h>
#include <linux/jiffies.h>
#include <linux/mutex.h>
#include <linux/timekeeping.h>
#include <linux/wait.h>
#include <linux/workqueue.h>
#include "ktest.h"

static volatile int started, done;
static DEFINE_MUTEX(lock);
static DECLARE_WAIT_QUEUE_HEAD(wq);

/* sleep (giving the CPU up) until *flag is set; at most 10 s */
static void await(volatile int *flag)
{
	int i;

	for (i = 0; i < 10000 && !*flag; i++)
		msleep(1);
	KT_TRUE(*flag);
}

static void mark_fn(struct work_struct *w)
{
	done = 1;
}

KTEST(live_delayed_work_runs_when_due_on_its_worker)
{
	static struct delayed_work dw;

	kxh_live_start();
	INIT_DELAYED_WORK(&dw, mark_fn);
	queue_delayed_work(system_wq, &dw, 2);
	/* nothing else runs while this thread holds the CPU */
	mdelay(20);
	KT_EQ(done, 0);
	await(&done);
	KT_EQ(dw.work.runs, 1);
}

static void slow_fn(struct work_struct *w)
{
	started = 1;
	mutex_lock(&lock);
	msleep(50);
	mutex_unlock(&lock);
	done = 1;
}

KTEST(live_cancel_work_sync_waits_for_the_running_item)
{
	static struct work_struct w;

	kxh_live_start();
	mutex_init(&lock);
	INIT_WORK(&w, slow_fn);
	queue_work(system_wq, &w);
	await(&started);
	KT_FALSE(cancel_work_sync(&w));		/* no longer queued ... */
	KT_EQ(done, 1);				/* ... but waited for */
}

/* the worker runs a flushed item; an item still on its timer is not waited for */
KTEST(live_flush_waits_for_queued_work_not_for_timers)
{
	static struct delayed_work dw;
	static struct work_struct w;

	kxh_live_start();
	INIT_DELAYED_WORK(&dw, mark_fn);
	queue_delayed_work(system_wq, &dw, 1000 * HZ);
	KT_FALSE(flush_work(&dw.work));
	KT_EQ(done, 0);
	KT_TRUE(cancel_delayed_work_sync(&dw));
	INIT_WORK(&w, mark_fn);
	queue_work(system_wq, &w);
	KT_TRUE(flush_work(&w));
	KT_EQ(done, 1);
}

KTEST(live_mutex_held_across_a_sleep_is_waited_for)
{
	static struct work_struct w;

	kxh_live_start();
	mutex_init(&lock);
	INIT_WORK(&w, slow_fn);
	queue_work(system_wq, &w);
	await(&started);
	mutex_lock(&lock);	/* the work sleeps holding it: wait, not a deadlock */
	KT_EQ(done, 1);		/* it went on from its unlock to its end */
	mutex_unlock(&lock);
}

static void wake_fn(struct work_struct *w)
{
	done = 1;
	wake_up_interruptible(&wq);
}

KTEST(live_timed_waits_end_by_wake_up_or_timeout)
{
	static struct delayed_work dw;
	s64 before;
	long left;

	kxh_live_start();
	before = ktime_get();
	left = wait_event_interruptible_timeout(wq, done, 5);
	KT_EQ(left, 0);
	KT_TRUE(ktime_get() - before >= 5 * (NSEC_PER_SEC / HZ));

	INIT_DELAYED_WORK(&dw, wake_fn);
	queue_delayed_work(system_wq, &dw, 1);
	left = wait_event_interruptible_timeout(wq, done, 100 * HZ);
	KT_EQ(done, 1);
	KT_TRUE(left > 0);
}

KTEST(live_settimeofday_moves_only_the_simulated_clock)
{
	struct timespec64 ts = { .tv_sec = 946684800, .tv_nsec = 0 };	/* 2000-01-01 */
	s64 host = kxh_live_host_real_ns();

	kxh_live_start();
	KT_EQ(do_settimeofday64(&ts), 0);
	KT_TRUE(ktime_get_real_seconds() - 946684800 < 60);
	KT_TRUE(kxh_live_host_real_ns() >= host);		/* the machine's clock went on */
	KT_TRUE(kxh_live_host_real_ns() / NSEC_PER_SEC > 946684800 + 86400);
}
