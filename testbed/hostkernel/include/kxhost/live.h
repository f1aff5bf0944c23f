/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Live mode: the module runs as on a uniprocessor kernel without
 * preemption, in real time, instead of under a test's control.
 *
 * One lock, the CPU, is held by whatever runs module code: a work queue's
 * worker thread, the timer tick, a kernel thread, the thread raising an
 * interrupt, a thread making a system call on an attribute or device node.
 * Sleeping (wait queues, msleep, a busy mutex, waiting for work to finish)
 * gives the CPU up until a wake-up or the deadline. Jiffies and the clock
 * reads follow CLOCK_MONOTONIC; CLOCK_REALTIME is a clock of its own that
 * do_settimeofday64() sets, never the machine's.
 *
 * kxh_live_start() is called once, before anything else of the layer, by a
 * program that runs the module live; the deterministic mode the tests use
 * is unchanged when it is never called.
 */
#ifndef KXHOST_LIVE_H
#define KXHOST_LIVE_H

#include <linux/types.h>

struct workqueue_struct;

/* switch to live mode; the calling thread then holds the CPU */
void kxh_live_start(void);
/* stop the tick and the system work queue's worker (CPU not held) */
void kxh_live_stop(void);
bool kxh_live(void);

void kxh_cpu_enter(void);
void kxh_cpu_leave(void);
/* something a sleeper may wait for happened (CPU held) */
void kxh_live_kick(void);
/* give the CPU up until kicked or until `deadline_ns` (monotonic, < 0: none) */
void kxh_live_wait(s64 deadline_ns);
s64 kxh_live_mono_ns(void);
/* the machine's CLOCK_REALTIME, read once to start the live clock from */
s64 kxh_live_host_real_ns(void);

/*
 * Signals for the calling thread's interruptible sleeps: the flag, owned by
 * the caller, is tested as a pending signal (NULL: none).
 */
void kxh_live_signal_source(const volatile int *flag);
bool kxh_live_signal_pending(void);

/* ---- used by the layer ------------------------------------------------- */

/* a work queue's worker thread: started by alloc, stopped by destroy */
int kxh_live_worker_start(struct workqueue_struct *wq, void (*run)(struct workqueue_struct *wq));
void kxh_live_worker_stop(struct workqueue_struct *wq);

#endif
