/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/timer.h>: timers fire (in the test's thread, as a
 * softirq would) when the virtual clock passes their expiry, see
 * kxh_time_advance_ns().
 */
#ifndef _LINUX_TIMER_H
#define _LINUX_TIMER_H

#include <linux/types.h>
#include <linux/jiffies.h>

struct timer_list {
	struct list_head entry;		/* on the host's armed-timer list when armed */
	unsigned long expires;
	void (*function)(struct timer_list *t);
	u32 flags;
	int armed;
};

#define TIMER_IRQSAFE 0x00200000

#define __TIMER_INITIALIZER(n, fn, fl) \
	{ .entry = { NULL, NULL }, .expires = 0, .function = (fn), .flags = (fl), .armed = 0 }
#define DEFINE_TIMER(n, fn) struct timer_list n = __TIMER_INITIALIZER(n, fn, 0)

void timer_setup(struct timer_list *t, void (*fn)(struct timer_list *), unsigned int flags);
int mod_timer(struct timer_list *t, unsigned long expires);
void add_timer(struct timer_list *t);
int del_timer(struct timer_list *t);
int del_timer_sync(struct timer_list *t);
#define timer_pending(t) ((t)->armed != 0)
#define from_timer(var, t, field) \
	((__typeof__(var))((char *)(t) - __builtin_offsetof(__typeof__(*var), field)))

#endif
