/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Kernel threads and the host scheduler.
 *
 * Turn-taking mode (the default): exactly one of the test thread and the
 * kernel threads runs at any time. wake_up_process() and wake-ups on wait
 * queues only make a thread runnable; kxh_sched_run() lets every runnable
 * thread run until each sleeps again or exits. kthread_stop() runs the
 * thread to its end. A test thus writes out each interleaving it needs.
 *
 * Concurrent mode (kxh_sched_concurrent(true), before any thread is
 * made): threads run as soon as they are woken, in parallel with the test;
 * spin locks exclude for real. For the ThreadSanitizer tests.
 */
#ifndef KXHOST_KTHREAD_H
#define KXHOST_KTHREAD_H

#include <linux/types.h>

struct task_struct;

void kxh_sched_concurrent(bool on);
bool kxh_sched_is_concurrent(void);
/*
 * Turn-taking: run runnable threads until none is; returns the number of
 * turns given. Concurrent: wait until every thread sleeps or has exited.
 */
unsigned int kxh_sched_run(void);
/* kernel threads made and not yet stopped */
unsigned int kxh_kthreads(void);
/* kernel threads made so far */
unsigned int kxh_kthreads_total(void);
/* a live thread by name, NULL when none */
struct task_struct *kxh_kthread_find(const char *name);
const char *kxh_task_name(const struct task_struct *t);
/* the thread sleeps on a wait queue and has not been woken */
bool kxh_task_sleeping(struct task_struct *t);
/* deliver a signal: an interruptible sleep of t ends with -ERESTARTSYS */
void kxh_task_signal(struct task_struct *t);

/* ---- used by the host layer's wait queues ---------------------------- */

struct wait_queue_head;

/* the caller is a host kernel thread (not the test thread) */
bool kxh_in_kthread(void);
/* a kernel thread about to test its condition: wake-ups from now on count */
long kxh_kthread_prepare_wait(struct wait_queue_head *wq_head, int state);
/* a kernel thread sleeps until woken (or, interruptible, signalled) */
long kxh_kthread_wait_schedule(struct wait_queue_head *wq_head, long timeout, int state);
/* wake the kernel threads that wait on the queue */
void kxh_kthread_wake_queue(struct wait_queue_head *wq_head);

#endif
