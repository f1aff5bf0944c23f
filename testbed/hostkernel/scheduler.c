// SPDX-License-Identifier: GPL-2.0
/*
 * Host layer: the three scheduler modes side by side (see scheduler.h) and
 * the switch between them.
 */
#include <linux/kernel.h>
#include <kxhost/bug.h>
#include <kxhost/kthread.h>
#include <kxhost/live.h>
#include "scheduler.h"

static void nothing(void) { }
static int no_worker(struct workqueue_struct *wq) { return 0; }
static void no_worker_stop(struct workqueue_struct *wq) { }

/* the test thread's side of the deterministic and the concurrent mode */
#define VIRTUAL_CLOCK_OPS \
	.now = kxh_virtual_now, \
	.block = kxh_virtual_block, \
	.delay = kxh_virtual_delay, \
	.wait_step = kxh_virtual_wait_step, \
	.kick = nothing, \
	.wq_start = no_worker, \
	.wq_stop = no_worker_stop, \
	.wq_wait = kxh_virtual_wq_wait, \
	.cpu_enter = nothing, \
	.cpu_leave = nothing

/* the default: one thread, the virtual clock, kernel threads take turns */
const struct kxh_sched_ops kxh_sched_deterministic = {
	.name = "deterministic",
	.parallel = false,
	.tasks = &kxh_tasks_take_turns,
	VIRTUAL_CLOCK_OPS,
};

/* the test thread as above; kernel threads run for real beside it */
const struct kxh_sched_ops kxh_sched_concurrent_ops = {
	.name = "concurrent",
	.parallel = true,
	.tasks = &kxh_tasks_run_freely,
	VIRTUAL_CLOCK_OPS,
};

/* real time; every context takes turns on the simulated CPU */
const struct kxh_sched_ops kxh_sched_live = {
	.name = "live",
	.parallel = true,
	.tasks = &kxh_tasks_run_freely,
	.now = kxh_live_mono_ns,
	.block = kxh_live_block,
	.delay = kxh_live_delay,
	.wait_step = kxh_blocking_wait_step,
	.kick = kxh_live_kick,
	.wq_start = kxh_live_wq_start,
	.wq_stop = kxh_live_worker_stop,
	.wq_wait = kxh_live_wq_wait,
	.cpu_enter = kxh_cpu_enter,
	.cpu_leave = kxh_cpu_leave,
};

const struct kxh_sched_ops *kxh_sched_mode = &kxh_sched_deterministic;

void kxh_sched_set(const struct kxh_sched_ops *ops)
{
	if (kxh_kthreads())
		kxh_bug("scheduler switched to %s mode with kernel threads alive", ops->name);
	__atomic_store_n(&kxh_sched_mode, ops, __ATOMIC_RELEASE);
}

void kxh_sched_concurrent(bool on)
{
	kxh_sched_set(on ? &kxh_sched_concurrent_ops : &kxh_sched_deterministic);
}

bool kxh_sched_is_concurrent(void)
{
	return kxh_sched()->parallel;
}
