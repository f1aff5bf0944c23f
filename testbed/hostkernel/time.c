// SPDX-License-Identifier: GPL-2.0
/*
 * Host layer: jiffies, timers, sleeps and clock reads, on the clock of the
 * mode in force (scheduler.h). The virtual clock of the deterministic mode
 * is here: it moves only when the test advances it or a context sleeps.
 */
#include <linux/delay.h>
#include <linux/kernel.h>
#include <linux/list.h>
#include <linux/ktime.h>
#include <linux/timer.h>
#include <linux/timekeeping.h>
#include <kxhost/bug.h>
#include <kxhost/live.h>
#include <kxhost/time.h>
#include "scheduler.h"

#define NS_PER_JIFFY (NSEC_PER_SEC / HZ)
#define MONO_START (100LL * NSEC_PER_SEC)

static s64 mono_ns = MONO_START;
static s64 real_offset_ns = 1767225600LL * NSEC_PER_SEC - MONO_START; /* 2026-01-01 */
static s64 slept_ns;
volatile unsigned long jiffies = (unsigned long)(MONO_START / NS_PER_JIFFY);
u64 jiffies_64 = (u64)(MONO_START / NS_PER_JIFFY);
static LIST_HEAD(timers);

struct timespec64 ns_to_timespec64(s64 nsec)
{
	struct timespec64 ts;
	s32 rem;

	ts.tv_sec = div_s64_rem(nsec, NSEC_PER_SEC, &rem);
	if (rem < 0) {
		ts.tv_sec--;
		rem += NSEC_PER_SEC;
	}
	ts.tv_nsec = rem;
	return ts;
}

static void fire_timers(void)
{
	int fired;

	do {
		struct list_head *pos;
		struct timer_list *t, *first = NULL;

		fired = 0;
		list_for_each(pos, &timers) {
			t = list_entry(pos, struct timer_list, entry);
			if (time_after_eq(jiffies, t->expires) &&
			    (!first || time_before(t->expires, first->expires)))
				first = t;
		}
		if (first) {
			list_del_init(&first->entry);
			first->armed = 0;
			if (first->function)
				first->function(first);
			fired = 1;
		}
	} while (fired);
}

/* the monotonic time now: the virtual clock, or in live mode the real one */
static s64 now_ns(void)
{
	return kxh_sched()->now();
}

s64 kxh_virtual_now(void)
{
	return mono_ns;
}

static void set_mono(s64 ns)
{
	mono_ns = ns;
	jiffies = (unsigned long)(mono_ns / NS_PER_JIFFY);
	jiffies_64 = (u64)jiffies;
	fire_timers();
}

void kxh_time_set_real(s64 sec, long nsec)
{
	real_offset_ns = sec * NSEC_PER_SEC + nsec - now_ns();
}

void kxh_time_advance_ns(s64 ns)
{
	if (ns < 0)
		kxh_bug("the monotonic clock cannot go back");
	/* step jiffy by jiffy so timers fire in order at their own time */
	while (ns > 0) {
		s64 step = NS_PER_JIFFY - mono_ns % NS_PER_JIFFY;

		if (step > ns)
			step = ns;
		ns -= step;
		set_mono(mono_ns + step);
	}
}

s64 kxh_time_mono_ns(void)
{
	return now_ns();
}

s64 kxh_time_real_ns(void)
{
	return now_ns() + real_offset_ns;
}

/* live mode: CLOCK_REALTIME starts at the machine's and lives on its own */
void kxh_time_live_start(void)
{
	struct timespec64 ts;
	s64 host = kxh_live_host_real_ns();

	ts = ns_to_timespec64(host);
	mono_ns = kxh_live_mono_ns();
	kxh_time_set_real(ts.tv_sec, ts.tv_nsec);
	jiffies = (unsigned long)(mono_ns / NS_PER_JIFFY);
	jiffies_64 = (u64)jiffies;
}

/* live mode, each jiffy (CPU held): jiffies catch up, expired timers fire */
void kxh_time_live_tick(void)
{
	set_mono(kxh_live_mono_ns());
}

s64 kxh_time_slept_ns(void)
{
	return slept_ns;
}

/* clock reads */
ktime_t ktime_get(void) { return now_ns(); }
ktime_t ktime_get_real(void) { return now_ns() + real_offset_ns; }
ktime_t ktime_get_boottime(void) { return now_ns(); }
ktime_t ktime_get_raw(void) { return now_ns(); }
u64 ktime_get_ns(void) { return (u64)now_ns(); }
u64 ktime_get_real_ns(void) { return (u64)(now_ns() + real_offset_ns); }
u64 ktime_get_boottime_ns(void) { return (u64)now_ns(); }
time64_t ktime_get_real_seconds(void) { return ns_to_timespec64(ktime_get_real()).tv_sec; }
time64_t ktime_get_seconds(void) { return ns_to_timespec64(now_ns()).tv_sec; }

void ktime_get_real_ts64(struct timespec64 *ts)
{
	*ts = ns_to_timespec64(ktime_get_real());
}

void ktime_get_ts64(struct timespec64 *ts)
{
	*ts = ns_to_timespec64(now_ns());
}

void ktime_get_raw_ts64(struct timespec64 *ts)
{
	*ts = ns_to_timespec64(now_ns());
}

void ktime_get_snapshot(struct system_time_snapshot *snap)
{
	s64 mono = now_ns();

	snap->cycles = (u64)mono;
	snap->real = mono + real_offset_ns;
	snap->raw = mono;
	snap->boot = mono;
	snap->clock_was_set_seq = 0;
	snap->cs_was_changed_seq = 0;
}

/* setting the system clock: counted, the last value kept (<kxhost/time.h>) */
static unsigned int settime_count;
static struct timespec64 settime_last;

int do_settimeofday64(const struct timespec64 *ts)
{
	might_sleep();
	if (ts->tv_sec < 0 || ts->tv_nsec < 0 || ts->tv_nsec >= NSEC_PER_SEC)
		return -EINVAL;
	settime_count++;
	settime_last = *ts;
	kxh_time_set_real(ts->tv_sec, ts->tv_nsec);
	return 0;
}

unsigned int kxh_time_settime_count(void)
{
	return settime_count;
}

struct timespec64 kxh_time_settime_last(void)
{
	return settime_last;
}

/* timers */
void timer_setup(struct timer_list *t, void (*fn)(struct timer_list *), unsigned int flags)
{
	t->function = fn;
	t->flags = flags;
	t->expires = 0;
	t->armed = 0;
	INIT_LIST_HEAD(&t->entry);
}

int mod_timer(struct timer_list *t, unsigned long expires)
{
	int was = t->armed;

	if (was)
		list_del_init(&t->entry);
	t->expires = expires;
	t->armed = 1;
	list_add_tail(&t->entry, &timers);
	return was;
}

void add_timer(struct timer_list *t)
{
	if (t->armed)
		kxh_bug("add_timer on an armed timer");
	mod_timer(t, t->expires);
}

int del_timer(struct timer_list *t)
{
	if (!t->armed)
		return 0;
	list_del_init(&t->entry);
	t->armed = 0;
	return 1;
}

int del_timer_sync(struct timer_list *t)
{
	return del_timer(t);
}

/* deterministic: nothing runs behind the sleeper's back; time passes */
void kxh_virtual_block(kxh_done_fn done, const void *arg, s64 deadline)
{
	if ((done && done(arg)) || deadline < 0)
		return;
	if (deadline > mono_ns)
		kxh_time_advance_ns(deadline - mono_ns);
}

void kxh_virtual_delay(s64 ns)
{
	kxh_time_advance_ns(ns);
}

static void sleep_ns(s64 ns)
{
	const struct kxh_sched_ops *sched = kxh_sched();

	might_sleep();
	slept_ns += ns;
	sched->block(NULL, NULL, sched->now() + ns);
}

static void delay_ns(s64 ns)
{
	kxh_sched()->delay(ns);
}

void msleep(unsigned int msecs)
{
	/* at least the time asked, rounded up to whole jiffies plus one */
	unsigned long j = msecs_to_jiffies(msecs) + 1;

	sleep_ns((s64)j * NS_PER_JIFFY);
}

unsigned long msleep_interruptible(unsigned int msecs)
{
	msleep(msecs);
	return 0;
}

void usleep_range(unsigned long min, unsigned long max)
{
	(void)max;
	sleep_ns((s64)min * NSEC_PER_USEC);
}

void udelay(unsigned long usecs)
{
	delay_ns((s64)usecs * NSEC_PER_USEC);
}

void mdelay(unsigned long msecs)
{
	delay_ns((s64)msecs * NSEC_PER_MSEC);
}

void ndelay(unsigned long nsecs)
{
	delay_ns((s64)nsecs);
}
