/* SPDX-License-Identifier: GPL-2.0 */
/* Host stand-in for <linux/time.h>: mktime64 on top of <linux/time64.h>. */
#ifndef _LINUX_TIME_H
#define _LINUX_TIME_H

#include <linux/types.h>
#include <linux/time64.h>

/*
 * Seconds since 1970-01-01 00:00:00 UTC of a proleptic Gregorian date
 * (Gauss' formula, as the kernel computes it; no range checks: sec 60 is
 * the next minute's 0, day 31 of a 30-day month the 1st of the next).
 */
time64_t mktime64(const unsigned int year, const unsigned int mon,
		  const unsigned int day, const unsigned int hour,
		  const unsigned int min, const unsigned int sec);

#endif
