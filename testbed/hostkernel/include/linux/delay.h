/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/delay.h>. Sleeping advances the virtual clock by
 * the time asked (and aborts the test in atomic context); busy waits too.
 */
#ifndef _LINUX_DELAY_H
#define _LINUX_DELAY_H

void msleep(unsigned int msecs);
unsigned long msleep_interruptible(unsigned int msecs);
void usleep_range(unsigned long min, unsigned long max);
void udelay(unsigned long usecs);
void mdelay(unsigned long msecs);
void ndelay(unsigned long nsecs);

#endif
