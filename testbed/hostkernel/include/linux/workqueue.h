/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/workqueue.h>. Work never runs by itself: the test
 * runs queued items in queuing order when it chooses (<kxhost/workqueue.h>),
 * so every interleaving a test needs is written out in the test. Delayed work
 * moves to its queue when the virtual clock passes its expiry.
 */
#ifndef _LINUX_WORKQUEUE_H
#define _LINUX_WORKQUEUE_H

#include <linux/types.h>
#include <linux/compiler.h>
#include <linux/timer.h>

struct work_struct;
struct workqueue_struct;
typedef void (*work_func_t)(struct work_struct *work);

struct work_struct {
	unsigned long pending;		/* queued and not yet started */
	struct list_head entry;
	work_func_t func;
	struct workqueue_struct *wq;	/* queue it sits on, or last ran on */
	unsigned int runs;		/* times it ran (host statistics) */
};

struct delayed_work {
	struct work_struct work;
	struct timer_list timer;
	struct workqueue_struct *wq;
};

#define __WORK_INITIALIZER(n, f) \
	{ .pending = 0, .entry = { &(n).entry, &(n).entry }, .func = (f) }
#define DECLARE_WORK(n, f) struct work_struct n = __WORK_INITIALIZER(n, f)
#define __DELAYED_WORK_INITIALIZER(n, f, tflags) \
	{ .work = __WORK_INITIALIZER((n).work, (f)), \
	  .timer = __TIMER_INITIALIZER((n).timer, NULL, (tflags)) }
#define DECLARE_DELAYED_WORK(n, f) \
	struct delayed_work n = __DELAYED_WORK_INITIALIZER(n, f, 0)

void kxh_init_work(struct work_struct *work, work_func_t func);
void kxh_init_delayed_work(struct delayed_work *dwork, work_func_t func);
#define INIT_WORK(w, f) kxh_init_work((w), (f))
#define INIT_DELAYED_WORK(w, f) kxh_init_delayed_work((w), (f))

static inline struct delayed_work *to_delayed_work(struct work_struct *work)
{
	return (struct delayed_work *)((char *)work - __builtin_offsetof(struct delayed_work, work));
}

#define work_pending(w) (READ_ONCE((w)->pending) != 0)
#define delayed_work_pending(w) (work_pending(&(w)->work) || timer_pending(&(w)->timer))

enum {
	WQ_UNBOUND = 1 << 1,
	WQ_FREEZABLE = 1 << 2,
	WQ_MEM_RECLAIM = 1 << 3,
	WQ_HIGHPRI = 1 << 4,
	WQ_CPU_INTENSIVE = 1 << 5,
	__WQ_ORDERED = 1 << 17,
};

extern struct workqueue_struct *system_wq;

struct workqueue_struct *alloc_workqueue(const char *fmt, unsigned int flags,
					 int max_active, ...) __printf(1, 4);
#define alloc_ordered_workqueue(fmt, flags, args...) \
	alloc_workqueue(fmt, WQ_UNBOUND | __WQ_ORDERED | (flags), 1, ##args)
#define create_singlethread_workqueue(name) \
	alloc_ordered_workqueue("%s", WQ_MEM_RECLAIM, (name))
#define create_workqueue(name) alloc_workqueue("%s", WQ_MEM_RECLAIM, 1, (name))
void destroy_workqueue(struct workqueue_struct *wq);
void flush_workqueue(struct workqueue_struct *wq);
void drain_workqueue(struct workqueue_struct *wq);

bool queue_work(struct workqueue_struct *wq, struct work_struct *work);
bool queue_delayed_work(struct workqueue_struct *wq, struct delayed_work *dwork,
			unsigned long delay);
bool mod_delayed_work(struct workqueue_struct *wq, struct delayed_work *dwork,
		      unsigned long delay);
bool cancel_work(struct work_struct *work);
bool cancel_work_sync(struct work_struct *work);
bool cancel_delayed_work(struct delayed_work *dwork);
bool cancel_delayed_work_sync(struct delayed_work *dwork);
bool flush_work(struct work_struct *work);
bool flush_delayed_work(struct delayed_work *dwork);

static inline bool schedule_work(struct work_struct *work)
{
	return queue_work(system_wq, work);
}

static inline bool schedule_delayed_work(struct delayed_work *dwork, unsigned long delay)
{
	return queue_delayed_work(system_wq, dwork, delay);
}

#endif
