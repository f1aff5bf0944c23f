/* SPDX-License-Identifier: GPL-2.0 */
/* Host stand-in for <linux/sched.h>: the task type, opaque so far. */
#ifndef _LINUX_SCHED_H
#define _LINUX_SCHED_H

#include <linux/types.h>

struct task_struct;

#endif
