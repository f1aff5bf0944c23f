/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/sched.h>: tasks are opaque; the test thread and
 * the host's kernel threads are tasks (<kxhost/kthread.h>).
 */
#ifndef _LINUX_SCHED_H
#define _LINUX_SCHED_H

#include <linux/types.h>
#include <linux/limits.h>

struct task_struct;

#define TASK_RUNNING 0x0000
#define TASK_INTERRUPTIBLE 0x0001
#define TASK_UNINTERRUPTIBLE 0x0002
#define TASK_WAKEKILL 0x0100
#define TASK_KILLABLE (TASK_WAKEKILL | TASK_UNINTERRUPTIBLE)
#define TASK_NORMAL (TASK_INTERRUPTIBLE | TASK_UNINTERRUPTIBLE)
#define MAX_SCHEDULE_TIMEOUT LONG_MAX

#define TASK_COMM_LEN 16

int wake_up_process(struct task_struct *p);
struct task_struct *kxh_current(void);
#define current kxh_current()
/* a signal is pending for the calling task */
int signal_pending(struct task_struct *p);

#endif
