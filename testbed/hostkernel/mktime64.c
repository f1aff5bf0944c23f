// SPDX-License-Identifier: GPL-2.0
/* Host layer: mktime64 exactly as kernel/time/time.c computes it. */
#include <linux/kernel.h>
#include <linux/time.h>

time64_t mktime64(const unsigned int year0, const unsigned int mon0,
		  const unsigned int day, const unsigned int hour,
		  const unsigned int min, const unsigned int sec)
{
	unsigned int mon = mon0, year = year0;

	/* 1..12 -> 11,12,1..10: February last, its leap day at the end */
	if (0 >= (int)(mon -= 2)) {
		mon += 12;
		year -= 1;
	}
	return ((((time64_t)(year / 4 - year / 100 + year / 400 + 367 * mon / 12 + day) +
		  year * 365 - 719499) * 24 + hour) * 60 + min) * 60 + sec;
}
