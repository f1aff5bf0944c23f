// SPDX-License-Identifier: GPL-2.0
/*
 * The exported time calls from PHY threads running for real, against the
 * receive worker and the removal of the serial device. Also run under
 * ThreadSanitizer: a blocked caller must be woken by the next second, and
 * removal must wait for callers inside the calls before the channels go.
 */
#define _POSIX_C_SOURCE 200809L
#include <sched.h>
#include <stdlib.h>
#include <string.h>

#include <linux/kthread.h>
#include "kx_serial.h"
#include "ktest.h"

struct caller {
	int idx;
	unsigned long timeout;
	int ret;
	int done;
	int nowait;		/* spin on the non-blocking call instead */
	int loop;		/* go on until the device is gone */
	unsigned int records;
	struct pps_uart_time rec;
	wait_queue_head_t stop_wq;
};

static int phy_thread(void *data)
{
	struct caller *c = data;
	struct pps_uart_time rec;
	int ret;

	for (;;) {
		if (c->nowait)
			ret = pps_uart_get_time_nowait(&rec, c->idx);
		else
			ret = pps_uart_get_time(&rec, c->timeout, c->idx);
		if (ret == 0) {
			c->rec = rec;
			__atomic_fetch_add(&c->records, 1, __ATOMIC_RELEASE);
		}
		if (ret == -ENODEV || (!c->loop && ret != -EAGAIN))
			break;
	}
	__atomic_store_n(&c->ret, ret, __ATOMIC_RELEASE);
	__atomic_store_n(&c->done, 1, __ATOMIC_RELEASE);
	/* a kernel thread stays until it is stopped */
	while (!kthread_should_stop())
		wait_event_interruptible(c->stop_wq, kthread_should_stop());
	return 0;
}

static struct task_struct *start(struct caller *c)
{
	struct task_struct *t;

	init_waitqueue_head(&c->stop_wq);
	t = kthread_run(phy_thread, c, "pps%d-adj", c->idx);
	KT_FALSE(IS_ERR(t));
	return t;
}

/*
 * The host's kernel threads sleep without a time limit only (their timed
 * sleeps are not modelled); the timeout itself is tested on the test thread.
 */
#define NO_LIMIT ((unsigned long)MAX_SCHEDULE_TIMEOUT)

/* until the thread sleeps in its wait (bounded) */
static void until_asleep(struct task_struct *t)
{
	long i;

	for (i = 0; i < 100000000L && !kxh_task_sleeping(t); i++)
		sched_yield();
	KT_TRUE(kxh_task_sleeping(t));
}

static void until_done(struct caller *c)
{
	long i;

	for (i = 0; i < 100000000L && !__atomic_load_n(&c->done, __ATOMIC_ACQUIRE); i++)
		sched_yield();
	KT_TRUE(__atomic_load_n(&c->done, __ATOMIC_ACQUIRE));
}

static void up(void)
{
	kxh_sched_concurrent(true);
	sx_bound();
	/* the reference second */
	sx_second(SX_T0, 1);
}

KTEST(a_blocked_caller_is_woken_by_the_next_second)
{
	struct caller c = { .idx = 1, .timeout = NO_LIMIT };
	struct task_struct *t;

	up();
	t = start(&c);
	until_asleep(t);
	sx_second(SX_T0 + 1, 1);
	until_done(&c);
	KT_EQ(c.ret, 0);
	KT_EQ(c.records, 1);
	KT_EQ(c.rec.gps_sec, SX_T0 + 2);
	kthread_stop(t);
	/* the other channel kept its copy */
	KT_EQ(pps_uart_get_time_nowait(&c.rec, 0), 0);
}

KTEST(removal_wakes_a_blocked_caller_and_waits_for_it)
{
	struct caller c = { .idx = 0, .timeout = NO_LIMIT };
	struct task_struct *t;

	up();
	t = start(&c);
	until_asleep(t);
	kxh_serdev_del(sx_uart);
	until_done(&c);
	KT_EQ(c.ret, -ENODEV);
	KT_EQ(c.records, 0);
	KT_EQ(g_ctx, NULL);
	kthread_stop(t);
}

KTEST(removal_races_callers_inside_the_calls)
{
	struct caller a = { .idx = 0, .nowait = 1, .loop = 1 };
	struct caller b = { .idx = 1, .timeout = NO_LIMIT, .loop = 1 };
	struct task_struct *ta, *tb;
	int i;

	up();
	ta = start(&a);
	tb = start(&b);
	/* seconds flow while both threads take records (at least one each) */
	for (i = 1; i <= 50 || (i < 100000 &&
				(!__atomic_load_n(&a.records, __ATOMIC_ACQUIRE) ||
				 !__atomic_load_n(&b.records, __ATOMIC_ACQUIRE))); i++)
		sx_second(SX_T0 + i, 1);
	kxh_serdev_del(sx_uart);
	until_done(&a);
	until_done(&b);
	KT_EQ(a.ret, -ENODEV);
	KT_EQ(b.ret, -ENODEV);
	KT_TRUE(a.records >= 1 && a.records <= (unsigned int)i);
	KT_TRUE(b.records >= 1 && b.records <= (unsigned int)i);
	kthread_stop(ta);
	kthread_stop(tb);
}
