// SPDX-License-Identifier: GPL-2.0
/*
 * Host layer: kernel threads on real threads, and the scheduler they share
 * with the test thread (see <kxhost/kthread.h>). The mode in force
 * (scheduler.h) picks how they take the CPU: in turns with the test, or
 * freely (concurrent and live modes; live also has them hold the simulated
 * CPU while they run).
 *
 * All thread state is guarded by one mutex, `big`. Taking turns, the task
 * that owns `cpu` runs and every other task waits on its own condition
 * variable until it is handed the CPU.
 */
#define _POSIX_C_SOURCE 200809L
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <linux/kernel.h>
#include <linux/kthread.h>
#include <linux/list.h>
#include <linux/sched.h>
#include <linux/wait.h>
#include <kxhost/bug.h>
#include <kxhost/fault.h>
#include <kxhost/kthread.h>
#include <kxhost/live.h>
#include <kxhost/race.h>
#include <kxhost/wait.h>
#include "scheduler.h"

#define MAX_TURNS 1000000

struct task_struct {
	char comm[TASK_COMM_LEN];
	int (*fn)(void *data);
	void *data;
	pthread_t thread;
	pthread_cond_t cv;
	int is_kthread;
	int runnable;		/* turn-taking: waits for a turn */
	int woken;		/* woken since it prepared to sleep */
	int sleeping;		/* inside kxh_task_sleep() */
	int sigpending;
	struct wait_queue_head *waiting_on;	/* last queue it waited on */
	int should_stop;
	int started;		/* its function was entered */
	int exited;
	int result;
	struct list_head node;	/* on tasks */
};

static pthread_mutex_t big = PTHREAD_MUTEX_INITIALIZER;
static struct task_struct test_task = {
	.comm = "test",
	.cv = PTHREAD_COND_INITIALIZER,
	.node = LIST_HEAD_INIT(test_task.node),
};
static LIST_HEAD(tasks);
static _Thread_local struct task_struct *self;
static struct task_struct *cpu = &test_task;
static unsigned int nlive, ntotal;

/* how kernel threads take the CPU (big held in every call) */
struct kxh_task_ops {
	/* a new thread may enter its function */
	bool (*may_start)(struct task_struct *t);
	/* t was woken or signalled */
	void (*poke)(struct task_struct *t);
	/* the calling thread gives the CPU up; back when it may run again */
	void (*yield)(struct task_struct *me);
	/* the calling thread has exited */
	void (*exited)(struct task_struct *me);
	/* the caller waits until t has exited */
	void (*join)(struct task_struct *t);
	/* kxh_sched_run() */
	unsigned int (*run)(void);
};

static const struct kxh_task_ops *task_ops(void)
{
	return kxh_sched()->tasks;
}

struct task_struct *kxh_current(void)
{
	return self ? self : &test_task;
}

/* ---- taking turns with the test -------------------------------------- */

/* hand the CPU to t and wait until it is ours again */
static void switch_to(struct task_struct *t)
{
	struct task_struct *me = kxh_current();

	cpu = t;
	pthread_cond_signal(&t->cv);
	while (cpu != me)
		pthread_cond_wait(&me->cv, &big);
}

static bool turns_may_start(struct task_struct *t)
{
	return cpu == t;
}

/* a woken (or signalled) sleeper, or a woken new thread, waits for its turn */
static void turns_poke(struct task_struct *t)
{
	if (t != kxh_current() && (t->sleeping || (!t->started && t->woken)))
		t->runnable = 1;
}

/* a kernel thread gives its turn back to the test */
static void turns_exited(struct task_struct *me)
{
	cpu = &test_task;
	pthread_cond_signal(&test_task.cv);
}

static void turns_yield(struct task_struct *me)
{
	turns_exited(me);
	while (cpu != me)
		pthread_cond_wait(&me->cv, &big);
}

/* the thread runs to its end, turn after turn */
static void turns_join(struct task_struct *t)
{
	unsigned int turns = 0;

	while (!t->exited) {
		if (++turns > MAX_TURNS)
			kxh_bug("thread %s does not stop", t->comm);
		t->runnable = 0;
		switch_to(t);
	}
}

/* every runnable thread runs until none is */
static unsigned int turns_run(void)
{
	unsigned int turns = 0;

	for (;;) {
		struct list_head *pos;
		struct task_struct *next = NULL;

		list_for_each(pos, &tasks) {
			struct task_struct *t = list_entry(pos, struct task_struct, node);

			if (t->runnable && !t->exited) {
				next = t;
				break;
			}
		}
		if (!next)
			break;
		if (++turns > MAX_TURNS)
			kxh_bug("kernel threads never settle (livelock)");
		next->runnable = 0;
		/* to the back of the line, so threads take turns fairly */
		list_del(&next->node);
		list_add_tail(&next->node, &tasks);
		switch_to(next);
	}
	return turns;
}

const struct kxh_task_ops kxh_tasks_take_turns = {
	.may_start = turns_may_start,
	.poke = turns_poke,
	.yield = turns_yield,
	.exited = turns_exited,
	.join = turns_join,
	.run = turns_run,
};

/* ---- running freely ----------------------------------------------------- */

static bool free_may_start(struct task_struct *t)
{
	return t->woken;
}

static void free_poke(struct task_struct *t)
{
	pthread_cond_signal(&t->cv);
}

/* the test may be waiting for every thread to sleep or exit */
static void free_exited(struct task_struct *me)
{
	pthread_cond_broadcast(&test_task.cv);
}

static void free_yield(struct task_struct *me)
{
	free_exited(me);
	pthread_cond_wait(&me->cv, &big);
}

static void free_join(struct task_struct *t)
{
	while (!t->exited)
		pthread_cond_wait(&kxh_current()->cv, &big);
}

static bool quiescent(void)
{
	struct list_head *pos;

	list_for_each(pos, &tasks) {
		struct task_struct *t = list_entry(pos, struct task_struct, node);

		if (!t->exited && (!t->sleeping || t->woken || t->sigpending))
			return false;
		if (!t->exited && !t->started && t->woken)
			return false;
	}
	return true;
}

/* wait until every thread sleeps or has exited */
static unsigned int free_run(void)
{
	while (!quiescent())
		pthread_cond_wait(&test_task.cv, &big);
	return 0;
}

const struct kxh_task_ops kxh_tasks_run_freely = {
	.may_start = free_may_start,
	.poke = free_poke,
	.yield = free_yield,
	.exited = free_exited,
	.join = free_join,
	.run = free_run,
};

/* ---- kernel threads ----------------------------------------------------- */

unsigned int kxh_sched_run(void)
{
	unsigned int turns;

	if (self)
		kxh_bug("kxh_sched_run() from a kernel thread");
	pthread_mutex_lock(&big);
	turns = task_ops()->run();
	pthread_mutex_unlock(&big);
	return turns;
}

static void *kthread_main(void *arg)
{
	struct task_struct *t = arg;
	int ret = -EINTR;

	self = t;
	pthread_mutex_lock(&big);
	/* a new thread sleeps until it is woken (or stopped) */
	while (!task_ops()->may_start(t))
		pthread_cond_wait(&t->cv, &big);
	t->woken = 0;
	t->started = !t->should_stop;
	pthread_mutex_unlock(&big);

	if (t->started) {
		/* live mode: the thread runs on the CPU like every other context */
		kxh_sched()->cpu_enter();
		ret = t->fn(t->data);
		kxh_sched()->cpu_leave();
	}

	pthread_mutex_lock(&big);
	t->result = ret;
	t->exited = 1;
	task_ops()->exited(t);
	pthread_mutex_unlock(&big);
	return NULL;
}

struct task_struct *kthread_create(int (*threadfn)(void *data), void *data,
				   const char *namefmt, ...)
{
	struct task_struct *t;
	va_list ap;
	int err;

	might_sleep();
	err = kxh_fault_check("kthread_create");
	if (err)
		return ERR_PTR(err);
	t = calloc(1, sizeof(*t));
	if (!t)
		return ERR_PTR(-ENOMEM);
	va_start(ap, namefmt);
	vsnprintf(t->comm, sizeof(t->comm), namefmt, ap);
	va_end(ap);
	t->fn = threadfn;
	t->data = data;
	t->is_kthread = 1;
	pthread_cond_init(&t->cv, NULL);
	pthread_mutex_lock(&big);
	list_add_tail(&t->node, &tasks);
	nlive++;
	ntotal++;
	pthread_mutex_unlock(&big);
	if (pthread_create(&t->thread, NULL, kthread_main, t)) {
		pthread_mutex_lock(&big);
		list_del(&t->node);
		nlive--;
		pthread_mutex_unlock(&big);
		pthread_cond_destroy(&t->cv);
		free(t);
		return ERR_PTR(-ENOMEM);
	}
	return t;
}

static void wake_locked(struct task_struct *t)
{
	t->woken = 1;
	task_ops()->poke(t);
}

int wake_up_process(struct task_struct *p)
{
	int was;

	pthread_mutex_lock(&big);
	was = p->sleeping || (!p->started && !p->exited);
	wake_locked(p);
	pthread_mutex_unlock(&big);
	return was;
}

void kxh_task_wake(struct task_struct *t)
{
	pthread_mutex_lock(&big);
	wake_locked(t);
	pthread_mutex_unlock(&big);
}

bool kthread_should_stop(void)
{
	struct task_struct *t = self;

	if (!t)
		kxh_bug("kthread_should_stop() outside a kernel thread");
	return __atomic_load_n(&t->should_stop, __ATOMIC_ACQUIRE) != 0;
}

int kthread_stop(struct task_struct *k)
{
	int ret;

	might_sleep();
	kxh_race_point("kthread_stop");
	if (IS_ERR_OR_NULL(k))
		kxh_bug("kthread_stop() of no thread");
	if (k == self)
		kxh_bug("kthread_stop() of the calling thread");
	/* live mode: the thread needs the CPU to reach its end */
	kxh_sched()->cpu_leave();
	pthread_mutex_lock(&big);
	__atomic_store_n(&k->should_stop, 1, __ATOMIC_RELEASE);
	wake_locked(k);
	task_ops()->join(k);
	pthread_mutex_unlock(&big);
	pthread_join(k->thread, NULL);
	pthread_mutex_lock(&big);
	list_del(&k->node);
	nlive--;
	pthread_mutex_unlock(&big);
	ret = k->result;
	pthread_cond_destroy(&k->cv);
	free(k);
	kxh_sched()->cpu_enter();
	return ret;
}

bool kxh_in_kthread(void)
{
	return self != NULL;
}

long kxh_kthread_prepare_wait(struct wait_queue_head *wq_head, int state)
{
	struct task_struct *me = self;
	long ret = 0;

	pthread_mutex_lock(&big);
	me->waiting_on = wq_head;
	me->woken = 0;
	if ((state & TASK_INTERRUPTIBLE) && me->sigpending) {
		/* a kernel thread handles the signal by leaving the wait */
		me->sigpending = 0;
		ret = -ERESTARTSYS;
	}
	pthread_mutex_unlock(&big);
	return ret;
}

long kxh_kthread_wait_schedule(struct wait_queue_head *wq_head, long timeout, int state)
{
	struct task_struct *me = self;
	bool interruptible = state & TASK_INTERRUPTIBLE;

	might_sleep();
	if (timeout != MAX_SCHEDULE_TIMEOUT)
		kxh_bug("timed sleeps of kernel threads are not modelled");
	kxh_sched()->cpu_leave();
	pthread_mutex_lock(&big);
	me->sleeping = 1;
	while (!me->woken && !(interruptible && me->sigpending))
		task_ops()->yield(me);
	me->sleeping = 0;
	pthread_mutex_unlock(&big);
	kxh_sched()->cpu_enter();
	return timeout;
}

void kxh_kthread_wake_queue(struct wait_queue_head *wq_head)
{
	struct list_head *pos;

	pthread_mutex_lock(&big);
	list_for_each(pos, &tasks) {
		struct task_struct *t = list_entry(pos, struct task_struct, node);

		if (t->waiting_on == wq_head)
			wake_locked(t);
	}
	pthread_mutex_unlock(&big);
}

int signal_pending(struct task_struct *p)
{
	int s;

	if (p == &test_task)
		return kxh_signal_is_pending();

	pthread_mutex_lock(&big);
	s = p->sigpending;
	pthread_mutex_unlock(&big);
	return s;
}

void kxh_task_signal(struct task_struct *t)
{
	pthread_mutex_lock(&big);
	t->sigpending = 1;
	task_ops()->poke(t);
	pthread_mutex_unlock(&big);
}

unsigned int kxh_kthreads(void)
{
	unsigned int n;

	pthread_mutex_lock(&big);
	n = nlive;
	pthread_mutex_unlock(&big);
	return n;
}

unsigned int kxh_kthreads_total(void)
{
	return ntotal;
}

struct task_struct *kxh_kthread_find(const char *name)
{
	struct list_head *pos;
	struct task_struct *found = NULL;

	pthread_mutex_lock(&big);
	list_for_each(pos, &tasks) {
		struct task_struct *t = list_entry(pos, struct task_struct, node);

		if (!strcmp(t->comm, name) && !t->exited) {
			found = t;
			break;
		}
	}
	pthread_mutex_unlock(&big);
	return found;
}

const char *kxh_task_name(const struct task_struct *t)
{
	return t->comm;
}

bool kxh_task_sleeping(struct task_struct *t)
{
	bool s;

	pthread_mutex_lock(&big);
	s = t->sleeping && !t->woken;
	pthread_mutex_unlock(&big);
	return s;
}
