/* SPDX-License-Identifier: GPL-2.0 */
#ifndef _LINUX_TIME64_H
#define _LINUX_TIME64_H

#include <linux/types.h>
#include <linux/math64.h>

#define MSEC_PER_SEC 1000L
#define USEC_PER_MSEC 1000L
#define NSEC_PER_USEC 1000L
#define NSEC_PER_MSEC 1000000L
#define USEC_PER_SEC 1000000L
#define NSEC_PER_SEC 1000000000L

struct timespec64 {
	time64_t tv_sec;
	long tv_nsec;
};

static inline s64 timespec64_to_ns(const struct timespec64 *ts)
{
	return ts->tv_sec * NSEC_PER_SEC + ts->tv_nsec;
}

struct timespec64 ns_to_timespec64(s64 nsec);

static inline struct timespec64 timespec64_sub(struct timespec64 a, struct timespec64 b)
{
	return ns_to_timespec64(timespec64_to_ns(&a) - timespec64_to_ns(&b));
}

#endif
