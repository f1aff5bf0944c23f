/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The virtual clock. Monotonic time starts at 100 s; CLOCK_REALTIME is the
 * monotonic time plus an offset the test sets. Nothing moves the clock but
 * kxh_time_advance_ns() and sleeps in the module's code; timers whose expiry
 * is passed fire (in order) during the advance.
 */
#ifndef KXHOST_TIME_H
#define KXHOST_TIME_H

#include <linux/types.h>
#include <linux/time64.h>

void kxh_time_set_real(s64 sec, long nsec);
void kxh_time_advance_ns(s64 ns);
s64 kxh_time_mono_ns(void);
s64 kxh_time_real_ns(void);
/* total time spent in msleep() and friends */
s64 kxh_time_slept_ns(void);
/* successful do_settimeofday64() calls and the last time set */
unsigned int kxh_time_settime_count(void);
struct timespec64 kxh_time_settime_last(void);

/* live mode (<kxhost/live.h>): start from the machine's clock; each jiffy */
void kxh_time_live_start(void);
void kxh_time_live_tick(void);

#endif
