/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Running queued work. Items run one at a time in queuing order; an item
 * queued while the queue runs is run in the same call.
 */
#ifndef KXHOST_WORKQUEUE_H
#define KXHOST_WORKQUEUE_H

#include <linux/workqueue.h>

/* run what is queued on wq; returns the number of items run */
unsigned int kxh_wq_run(struct workqueue_struct *wq);
/*
 * Run this queued item now, ahead of the items queued before it, as a
 * worker on another CPU may on an unordered queue (the system queue);
 * false when it is not queued. Aborts on an ordered queue.
 */
bool kxh_work_run(struct work_struct *work);
/* run every queue until all are empty */
unsigned int kxh_wq_run_all(void);
unsigned int kxh_wq_pending(struct workqueue_struct *wq);
const char *kxh_wq_name(struct workqueue_struct *wq);
unsigned int kxh_wq_flags(struct workqueue_struct *wq);
/* live workqueues other than the system one */
unsigned int kxh_wq_count(void);
/* look a workqueue up by name, NULL when none */
struct workqueue_struct *kxh_wq_find(const char *name);
/* live mode (<kxhost/live.h>): a queue's worker runs what is queued */
void kxh_wq_live_run(struct workqueue_struct *wq);

#endif
