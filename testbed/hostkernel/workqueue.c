// SPDX-License-Identifier: GPL-2.0
/*
 * Host layer: work queues. Items wait on their queue until the test runs it
 * (kxh_wq_run / kxh_wq_run_all), a flush runs it (deterministic mode) or
 * its worker does (live mode: scheduler.h); delayed work waits on a timer
 * first. Running is in process context, one item at a time.
 */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <linux/kernel.h>
#include <linux/list.h>
#include <linux/workqueue.h>
#include <kxhost/bug.h>
#include <kxhost/fault.h>
#include <kxhost/irq.h>
#include <kxhost/live.h>
#include <kxhost/workqueue.h>
#include "scheduler.h"

struct workqueue_struct {
	char name[64];
	unsigned int flags;
	struct list_head items;
	struct list_head node;		/* on all_wqs */
	struct work_struct *current_work;	/* live: the item its worker runs */
};

static struct workqueue_struct system_wq_store = {
	.name = "events",
	.items = LIST_HEAD_INIT(system_wq_store.items),
	.node = LIST_HEAD_INIT(system_wq_store.node),
};
struct workqueue_struct *system_wq = &system_wq_store;
static LIST_HEAD(all_wqs);
/* the item this thread runs (live mode has a worker thread per queue) */
static _Thread_local struct work_struct *running;

static void all_wqs_init(void)
{
	if (list_empty(&system_wq_store.node))
		list_add_tail(&system_wq_store.node, &all_wqs);
}

void kxh_init_work(struct work_struct *work, work_func_t func)
{
	work->pending = 0;
	INIT_LIST_HEAD(&work->entry);
	work->func = func;
	work->wq = NULL;
	work->runs = 0;
}

static void delayed_work_timer_fn(struct timer_list *t)
{
	struct delayed_work *dwork = container_of(t, struct delayed_work, timer);

	/* still pending: from the timer straight onto the queue */
	dwork->work.wq = dwork->wq;
	list_add_tail(&dwork->work.entry, &dwork->wq->items);
	kxh_sched()->kick();
}

void kxh_init_delayed_work(struct delayed_work *dwork, work_func_t func)
{
	kxh_init_work(&dwork->work, func);
	timer_setup(&dwork->timer, delayed_work_timer_fn, TIMER_IRQSAFE);
	dwork->wq = NULL;
}

struct workqueue_struct *alloc_workqueue(const char *fmt, unsigned int flags,
					 int max_active, ...)
{
	struct workqueue_struct *wq;
	va_list ap;

	(void)max_active;
	all_wqs_init();
	if (kxh_fault_check("alloc_workqueue"))
		return NULL;
	wq = calloc(1, sizeof(*wq));
	if (!wq)
		return NULL;
	va_start(ap, max_active);
	vsnprintf(wq->name, sizeof(wq->name), fmt, ap);
	va_end(ap);
	wq->flags = flags;
	INIT_LIST_HEAD(&wq->items);
	if (kxh_sched()->wq_start(wq)) {
		free(wq);
		return NULL;
	}
	list_add_tail(&wq->node, &all_wqs);
	return wq;
}

static void run_item(struct workqueue_struct *wq, struct work_struct *work)
{
	if (kxh_atomic_depth())
		kxh_bug("work run in atomic context");
	list_del_init(&work->entry);
	work->pending = 0;
	running = work;
	wq->current_work = work;
	work->runs++;
	work->func(work);
	wq->current_work = NULL;
	running = NULL;
	kxh_sched()->kick();
}

static void run_one(struct workqueue_struct *wq)
{
	run_item(wq, list_first_entry(&wq->items, struct work_struct, entry));
}

bool kxh_work_run(struct work_struct *work)
{
	struct workqueue_struct *wq = work->wq;

	/* queued, not waiting on its timer */
	if (!work->pending || list_empty(&work->entry))
		return false;
	if (wq->flags & __WQ_ORDERED)
		kxh_bug("work on ordered queue %s run out of turn", wq->name);
	run_item(wq, work);
	return true;
}

/* live mode: the worker runs what is queued (CPU held) */
void kxh_wq_live_run(struct workqueue_struct *wq)
{
	while (!list_empty(&wq->items))
		run_one(wq);
}

/* run queued items until done(arg) holds or the queue is empty */
static unsigned int run_until(struct workqueue_struct *wq, kxh_done_fn done, const void *arg)
{
	unsigned int n = 0;

	while (!(done && done(arg)) && !list_empty(&wq->items)) {
		if (++n > 1000000)
			kxh_bug("work queue %s never drains", wq->name);
		run_one(wq);
	}
	return n;
}

unsigned int kxh_wq_run(struct workqueue_struct *wq)
{
	return run_until(wq, NULL, NULL);
}

/* deterministic: no worker, so whoever waits for the work runs it */
void kxh_virtual_wq_wait(struct workqueue_struct *wq, kxh_done_fn done, const void *arg)
{
	run_until(wq, done, arg);
}

/* on its queue's list: queued, not waiting on its timer */
static bool work_queued(const struct work_struct *work)
{
	return work->pending && !list_empty(&work->entry);
}

/* run by a worker, not by the caller itself */
static bool work_running(const struct work_struct *work)
{
	return work->wq && work->wq->current_work == work && running != work;
}

static bool work_not_running(const void *arg)
{
	return !work_running(arg);
}

static bool work_done(const void *arg)
{
	return !work_queued(arg) && !work_running(arg);
}

static bool wq_idle(const void *arg)
{
	const struct workqueue_struct *wq = arg;

	return list_empty(&wq->items) && !wq->current_work;
}

unsigned int kxh_wq_run_all(void)
{
	unsigned int n = 0, step;

	all_wqs_init();
	do {
		struct list_head *pos;

		step = 0;
		list_for_each(pos, &all_wqs)
			step += kxh_wq_run(list_entry(pos, struct workqueue_struct, node));
		n += step;
	} while (step);
	return n;
}

unsigned int kxh_wq_pending(struct workqueue_struct *wq)
{
	struct list_head *pos;
	unsigned int n = 0;

	list_for_each(pos, &wq->items)
		n++;
	return n;
}

const char *kxh_wq_name(struct workqueue_struct *wq)
{
	return wq->name;
}

unsigned int kxh_wq_flags(struct workqueue_struct *wq)
{
	return wq->flags;
}

unsigned int kxh_wq_count(void)
{
	struct list_head *pos;
	unsigned int n = 0;

	all_wqs_init();
	list_for_each(pos, &all_wqs)
		n++;
	return n - 1;
}

struct workqueue_struct *kxh_wq_find(const char *name)
{
	struct list_head *pos;

	all_wqs_init();
	list_for_each(pos, &all_wqs) {
		struct workqueue_struct *wq = list_entry(pos, struct workqueue_struct, node);

		if (!strcmp(wq->name, name))
			return wq;
	}
	return NULL;
}

void flush_workqueue(struct workqueue_struct *wq)
{
	might_sleep();
	kxh_sched()->wq_wait(wq, wq_idle, wq);
}

void drain_workqueue(struct workqueue_struct *wq)
{
	flush_workqueue(wq);
}

void destroy_workqueue(struct workqueue_struct *wq)
{
	if (wq == system_wq)
		kxh_bug("destroy_workqueue(system_wq)");
	drain_workqueue(wq);
	kxh_sched()->wq_stop(wq);
	list_del(&wq->node);
	free(wq);
}

/* wq is the system queue or one made and not yet destroyed */
static bool wq_alive(struct workqueue_struct *wq)
{
	struct list_head *pos;

	if (wq == system_wq)
		return true;
	list_for_each(pos, &all_wqs)
		if (list_entry(pos, struct workqueue_struct, node) == wq)
			return true;
	return false;
}

bool queue_work(struct workqueue_struct *wq, struct work_struct *work)
{
	if (!wq)
		kxh_bug("queue_work on a null workqueue");
	if (!wq_alive(wq))
		kxh_bug("queue_work on a destroyed workqueue");
	if (!work->func)
		kxh_bug("queue_work of an uninitialised work item");
	if (work->pending)
		return false;
	work->pending = 1;
	work->wq = wq;
	list_add_tail(&work->entry, &wq->items);
	kxh_sched()->kick();
	return true;
}

bool queue_delayed_work(struct workqueue_struct *wq, struct delayed_work *dwork,
			unsigned long delay)
{
	if (!wq)
		kxh_bug("queue_delayed_work on a null workqueue");
	if (dwork->work.pending)
		return false;
	if (!delay)
		return queue_work(wq, &dwork->work);
	dwork->work.pending = 1;
	dwork->wq = wq;
	dwork->timer.function = delayed_work_timer_fn;
	mod_timer(&dwork->timer, jiffies + delay);
	return true;
}

bool cancel_work(struct work_struct *work)
{
	if (!work->pending)
		return false;
	list_del_init(&work->entry);
	work->pending = 0;
	return true;
}

bool cancel_work_sync(struct work_struct *work)
{
	bool ret;

	might_sleep();
	if (running == work)
		kxh_bug("cancel_work_sync from the work itself (deadlock)");
	ret = cancel_work(work);
	if (work_running(work))
		kxh_sched()->wq_wait(work->wq, work_not_running, work);
	return ret;
}

bool cancel_delayed_work(struct delayed_work *dwork)
{
	if (del_timer(&dwork->timer)) {
		dwork->work.pending = 0;
		return true;
	}
	return cancel_work(&dwork->work);
}

bool cancel_delayed_work_sync(struct delayed_work *dwork)
{
	bool ret;

	might_sleep();
	if (running == &dwork->work)
		kxh_bug("cancel_delayed_work_sync from the work itself (deadlock)");
	ret = cancel_delayed_work(dwork);
	if (work_running(&dwork->work))
		kxh_sched()->wq_wait(dwork->work.wq, work_not_running, &dwork->work);
	return ret;
}

bool mod_delayed_work(struct workqueue_struct *wq, struct delayed_work *dwork,
		      unsigned long delay)
{
	bool was = cancel_delayed_work(dwork);

	queue_delayed_work(wq, dwork, delay);
	return was;
}

/*
 * Waits for the work queued or running, as in the kernel: work still on
 * its timer is not waited for. Deterministic, the queue runs it now, with
 * what was queued before it.
 */
bool flush_work(struct work_struct *work)
{
	bool busy;

	might_sleep();
	busy = work_queued(work) || work_running(work);
	if (busy)
		kxh_sched()->wq_wait(work->wq, work_done, work);
	return busy;
}

bool flush_delayed_work(struct delayed_work *dwork)
{
	if (del_timer(&dwork->timer)) {
		dwork->work.wq = dwork->wq;
		list_add_tail(&dwork->work.entry, &dwork->wq->items);
		kxh_sched()->kick();
	}
	return flush_work(&dwork->work);
}
