/* SPDX-License-Identifier: GPL-2.0 */
#ifndef _LINUX_KTIME_H
#define _LINUX_KTIME_H

#include <linux/types.h>
#include <linux/time64.h>
#include <linux/jiffies.h>

typedef s64 ktime_t;

static inline ktime_t ktime_set(s64 secs, unsigned long nsecs)
{
	return secs * NSEC_PER_SEC + (s64)nsecs;
}

#define ktime_sub(a, b) ((a) - (b))
#define ktime_add(a, b) ((a) + (b))
#define ktime_add_ns(k, ns) ((k) + (ns))
#define ktime_sub_ns(k, ns) ((k) - (ns))
#define ktime_to_ns(k) ((s64)(k))
#define ns_to_ktime(ns) ((ktime_t)(ns))
#define ktime_to_timespec64(k) ns_to_timespec64(k)
#define timespec64_to_ktime(ts) ktime_set((ts).tv_sec, (ts).tv_nsec)

static inline s64 ktime_to_us(ktime_t k)
{
	return k / 1000;
}

static inline s64 ktime_to_ms(ktime_t k)
{
	return k / 1000000;
}

#include <linux/timekeeping.h>

#endif
