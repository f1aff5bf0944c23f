/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The host layer's scheduler: everything that differs between its three
 * modes, behind one table of operations. The primitives (wait queues, work
 * queues, timers and sleeps, mutexes, kernel threads) are written once
 * against it and never ask which mode runs.
 *
 *  deterministic  one thread, the virtual clock; sleeps let virtual time
 *                 pass, a wait-queue sleep is a step of the test's sleep
 *                 hook, work runs when someone runs or flushes its queue,
 *                 kernel threads take turns with the test (kxh_sched_run).
 *  concurrent     the same, but kernel threads run for real, in parallel
 *                 with the test (the ThreadSanitizer tests).
 *  live           real time on one simulated CPU (a mutex held by whatever
 *                 runs module code); sleepers give the CPU up until a kick
 *                 or their deadline; each work queue has a worker thread.
 *
 * The tables are in scheduler.c; the deterministic operations sit with the
 * state they drive (time.c: the virtual clock, wait.c: the sleep hook,
 * workqueue.c: the queues), the live ones in live.c (the CPU, its waits,
 * the workers), the two policies for kernel threads in kthread.c.
 * Layer-internal: tests use <kxhost/...>.
 */
#ifndef KXHOST_SCHEDULER_H
#define KXHOST_SCHEDULER_H

#include <linux/types.h>

struct task_struct;
struct wait_queue_head;
struct workqueue_struct;
struct kxh_task_ops;

typedef bool (*kxh_done_fn)(const void *arg);

struct kxh_sched_ops {
	const char *name;
	/* other contexts run while one holds a spin lock: a taker spins */
	bool parallel;
	/* how kernel threads take the CPU (kthread.c) */
	const struct kxh_task_ops *tasks;

	/* CLOCK_MONOTONIC in ns */
	s64 (*now)(void);
	/*
	 * The calling context sleeps until done(arg) holds (NULL: never) or
	 * the monotonic time reaches deadline (< 0: none). Deterministic:
	 * nothing runs behind its back, so only time passes, to the deadline.
	 */
	void (*block)(kxh_done_fn done, const void *arg, s64 deadline);
	/* a busy delay of ns: the context keeps the CPU */
	void (*delay)(s64 ns);
	/* one sleep step on a wait queue of a context that is not a kernel
	 * thread; returns the jiffies of timeout left */
	long (*wait_step)(struct wait_queue_head *wq_head, long timeout, int state);
	/* something a sleeper may wait for happened */
	void (*kick)(void);

	/* a work queue is made / destroyed: its worker comes and goes */
	int (*wq_start)(struct workqueue_struct *wq);
	void (*wq_stop)(struct workqueue_struct *wq);
	/* sleep until done(arg) holds for work on wq; deterministic: the
	 * caller runs the queue's items itself, for want of a worker */
	void (*wq_wait)(struct workqueue_struct *wq, kxh_done_fn done, const void *arg);

	/* the simulated CPU, around what a kernel thread runs and sleeps */
	void (*cpu_enter)(void);
	void (*cpu_leave)(void);
};

extern const struct kxh_sched_ops *kxh_sched_mode;

/* the mode in force */
static inline const struct kxh_sched_ops *kxh_sched(void)
{
	return __atomic_load_n(&kxh_sched_mode, __ATOMIC_ACQUIRE);
}

/* switch modes: before any kernel thread is made */
void kxh_sched_set(const struct kxh_sched_ops *ops);

extern const struct kxh_sched_ops kxh_sched_deterministic;
extern const struct kxh_sched_ops kxh_sched_concurrent_ops;
extern const struct kxh_sched_ops kxh_sched_live;

/* kthread.c: kernel threads take turns with the test, or run freely */
extern const struct kxh_task_ops kxh_tasks_take_turns;
extern const struct kxh_task_ops kxh_tasks_run_freely;

/* deterministic operations */
s64 kxh_virtual_now(void);
void kxh_virtual_block(kxh_done_fn done, const void *arg, s64 deadline);
void kxh_virtual_delay(s64 ns);
long kxh_virtual_wait_step(struct wait_queue_head *wq_head, long timeout, int state);
/* wait.c: a sleep step that blocks until woken, signalled or out of time */
long kxh_blocking_wait_step(struct wait_queue_head *wq_head, long timeout, int state);
void kxh_virtual_wq_wait(struct workqueue_struct *wq, kxh_done_fn done, const void *arg);

/* live operations (live.c); kxh_live_mono_ns, kxh_live_kick, kxh_cpu_enter
 * and kxh_cpu_leave are in <kxhost/live.h> */
void kxh_live_block(kxh_done_fn done, const void *arg, s64 deadline);
void kxh_live_delay(s64 ns);
void kxh_live_wq_wait(struct workqueue_struct *wq, kxh_done_fn done, const void *arg);
int kxh_live_wq_start(struct workqueue_struct *wq);

#endif
