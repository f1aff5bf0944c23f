/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/jiffies.h>: jiffies follow the host's virtual
 * monotonic clock at the platform's 250 Hz tick, or at the CONFIG_HZ a
 * whole build (host layer and module) is compiled with, to show that the
 * module's time spans do not depend on the tick.
 */
#ifndef _LINUX_JIFFIES_H
#define _LINUX_JIFFIES_H

#include <linux/types.h>
#include <linux/limits.h>

#ifndef CONFIG_HZ
#define CONFIG_HZ 250
#endif
#define HZ CONFIG_HZ
#if HZ > 1000 || 1000 % HZ
#error "the host layer keeps ticks that divide a millisecond count: 100, 250, 500, 1000"
#endif
#define MAX_JIFFY_OFFSET ((LONG_MAX >> 1) - 1)

extern volatile unsigned long jiffies;
extern u64 jiffies_64;

#define time_after(a, b) ((long)((b) - (a)) < 0)
#define time_before(a, b) time_after(b, a)
#define time_after_eq(a, b) ((long)((a) - (b)) >= 0)
#define time_before_eq(a, b) time_after_eq(b, a)
#define time_is_before_jiffies(a) time_after(jiffies, a)
#define time_is_after_jiffies(a) time_before(jiffies, a)

static inline unsigned long msecs_to_jiffies(unsigned int m)
{
	return (m + (1000 / HZ) - 1) / (1000 / HZ);
}

static inline unsigned int jiffies_to_msecs(unsigned long j)
{
	return (unsigned int)(j * (1000 / HZ));
}

static inline unsigned long usecs_to_jiffies(unsigned int u)
{
	return (u + (1000000 / HZ) - 1) / (1000000 / HZ);
}

#endif
