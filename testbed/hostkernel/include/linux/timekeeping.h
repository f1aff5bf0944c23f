/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/timekeeping.h>: the clocks read the host's virtual
 * clock, which only the test moves (<kxhost/time.h>).
 */
#ifndef _LINUX_TIMEKEEPING_H
#define _LINUX_TIMEKEEPING_H

#include <linux/ktime.h>

struct system_time_snapshot {
	u64 cycles;
	ktime_t real;
	ktime_t raw;
	ktime_t boot;
	unsigned int clock_was_set_seq;
	u8 cs_was_changed_seq;
};

ktime_t ktime_get(void);
ktime_t ktime_get_real(void);
ktime_t ktime_get_boottime(void);
ktime_t ktime_get_raw(void);
u64 ktime_get_ns(void);
u64 ktime_get_real_ns(void);
u64 ktime_get_boottime_ns(void);
void ktime_get_real_ts64(struct timespec64 *ts);
void ktime_get_ts64(struct timespec64 *ts);
void ktime_get_raw_ts64(struct timespec64 *ts);
void ktime_get_snapshot(struct system_time_snapshot *snap);
time64_t ktime_get_real_seconds(void);
time64_t ktime_get_seconds(void);
/* sets CLOCK_REALTIME; -EINVAL for a time that is not normalised */
int do_settimeofday64(const struct timespec64 *ts);

#endif
