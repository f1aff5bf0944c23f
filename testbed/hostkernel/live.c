// SPDX-License-Identifier: GPL-2.0
/*
 * Host layer: live mode (see <kxhost/live.h>), the operations of its
 * scheduler (scheduler.h). One mutex is the CPU; one condition variable
 * carries every wake-up, and each sleeper tests its own condition again
 * when it gets the CPU back, as a task does after schedule(). A tick thread
 * moves jiffies and fires timers every jiffy; each work queue has one
 * worker thread.
 */
#define _POSIX_C_SOURCE 200809L
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <linux/kernel.h>
#include <linux/errno.h>
#include <linux/jiffies.h>
#include <linux/workqueue.h>
#include <kxhost/bug.h>
#include <kxhost/kthread.h>
#include <kxhost/live.h>
#include <kxhost/time.h>
#include <kxhost/workqueue.h>
#include "scheduler.h"

#define NS_PER_JIFFY (1000000000LL / HZ)
#define MAX_WORKERS 16

static pthread_mutex_t cpu = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t kick;
static _Thread_local int cpu_depth;
static _Thread_local const volatile int *signal_flag;

static pthread_t tick_thread;
static volatile int tick_stop;

static struct worker {
	struct workqueue_struct *wq;
	void (*run)(struct workqueue_struct *wq);
	pthread_t thread;
	volatile int stop;
} workers[MAX_WORKERS];

bool kxh_live(void)
{
	return kxh_sched() == &kxh_sched_live;
}

s64 kxh_live_mono_ns(void)
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return (s64)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

s64 kxh_live_host_real_ns(void)
{
	struct timespec ts;

	clock_gettime(CLOCK_REALTIME, &ts);
	return (s64)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

void kxh_cpu_enter(void)
{
	if (!cpu_depth++)
		pthread_mutex_lock(&cpu);
}

void kxh_cpu_leave(void)
{
	if (cpu_depth <= 0)
		kxh_bug("CPU left by a thread that does not hold it");
	if (!--cpu_depth)
		pthread_mutex_unlock(&cpu);
}

void kxh_live_kick(void)
{
	if (kxh_live())
		pthread_cond_broadcast(&kick);
}

void kxh_live_wait(s64 deadline_ns)
{
	struct timespec ts;

	if (cpu_depth != 1)
		kxh_bug("live sleep without the CPU, or with it taken twice");
	if (deadline_ns < 0) {
		pthread_cond_wait(&kick, &cpu);
		return;
	}
	ts.tv_sec = (time_t)(deadline_ns / 1000000000LL);
	ts.tv_nsec = (long)(deadline_ns % 1000000000LL);
	pthread_cond_timedwait(&kick, &cpu, &ts);
}

void kxh_live_block(kxh_done_fn done, const void *arg, s64 deadline)
{
	while (!(done && done(arg)) && (deadline < 0 || kxh_live_mono_ns() < deadline))
		kxh_live_wait(deadline);
}

/* a busy delay: the CPU stays taken for real time */
void kxh_live_delay(s64 ns)
{
	s64 until = kxh_live_mono_ns() + ns;

	while (kxh_live_mono_ns() < until)
		;
}

void kxh_live_signal_source(const volatile int *flag)
{
	signal_flag = flag;
}

bool kxh_live_signal_pending(void)
{
	return signal_flag && *signal_flag;
}

/* every jiffy: jiffies follow the monotonic clock, expired timers fire */
static void *tick_main(void *arg)
{
	s64 next = kxh_live_mono_ns();

	(void)arg;
	while (!tick_stop) {
		struct timespec ts;

		next += NS_PER_JIFFY;
		ts.tv_sec = (time_t)(next / 1000000000LL);
		ts.tv_nsec = (long)(next % 1000000000LL);
		clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, NULL);
		kxh_cpu_enter();
		kxh_time_live_tick();
		pthread_cond_broadcast(&kick);
		kxh_cpu_leave();
	}
	return NULL;
}

static void *worker_main(void *arg)
{
	struct worker *w = arg;

	kxh_cpu_enter();
	while (!w->stop) {
		w->run(w->wq);
		if (!w->stop)
			kxh_live_wait(-1);
	}
	kxh_cpu_leave();
	return NULL;
}

int kxh_live_worker_start(struct workqueue_struct *wq, void (*run)(struct workqueue_struct *wq))
{
	unsigned int i;

	for (i = 0; i < MAX_WORKERS; i++)
		if (!workers[i].wq)
			break;
	if (i == MAX_WORKERS)
		return -ENOMEM;
	workers[i].wq = wq;
	workers[i].run = run;
	workers[i].stop = 0;
	if (pthread_create(&workers[i].thread, NULL, worker_main, &workers[i])) {
		workers[i].wq = NULL;
		return -ENOMEM;
	}
	return 0;
}

int kxh_live_wq_start(struct workqueue_struct *wq)
{
	return kxh_live_worker_start(wq, kxh_wq_live_run);
}

/* the queue's worker runs the work; the caller gives the CPU up meanwhile */
void kxh_live_wq_wait(struct workqueue_struct *wq, kxh_done_fn done, const void *arg)
{
	kxh_live_block(done, arg, -1);
}

void kxh_live_worker_stop(struct workqueue_struct *wq)
{
	unsigned int i;
	int depth = cpu_depth;

	for (i = 0; i < MAX_WORKERS; i++)
		if (workers[i].wq == wq)
			break;
	if (i == MAX_WORKERS)
		return;
	workers[i].stop = 1;
	pthread_cond_broadcast(&kick);
	/* the worker needs the CPU to see its stop flag */
	while (cpu_depth)
		kxh_cpu_leave();
	pthread_join(workers[i].thread, NULL);
	while (cpu_depth < depth)
		kxh_cpu_enter();
	workers[i].wq = NULL;
}

void kxh_live_start(void)
{
	pthread_condattr_t ca;

	if (kxh_live())
		kxh_bug("live mode started twice");
	pthread_condattr_init(&ca);
	pthread_condattr_setclock(&ca, CLOCK_MONOTONIC);
	pthread_cond_init(&kick, &ca);
	pthread_condattr_destroy(&ca);
	kxh_cpu_enter();
	kxh_sched_set(&kxh_sched_live);
	kxh_time_live_start();
	if (kxh_live_worker_start(system_wq, kxh_wq_live_run) ||
	    pthread_create(&tick_thread, NULL, tick_main, NULL))
		kxh_bug("live mode: cannot start its threads");
}

void kxh_live_stop(void)
{
	tick_stop = 1;
	pthread_join(tick_thread, NULL);
	kxh_cpu_enter();
	kxh_live_worker_stop(system_wq);
	kxh_cpu_leave();
}
