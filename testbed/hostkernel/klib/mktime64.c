// SPDX-License-Identifier: GPL-2.0
/*
 * Host layer: mktime64() and ns_to_timespec64(), the kernel's own. They sit
 * in kernel/time/time.c among the time system calls, which the host cannot
 * compile; the build cuts the two functions out of it unchanged
 * (kfunc.awk) into klib_time.c, which is compiled here.
 */
#include <linux/kernel.h>
#include <linux/math64.h>
#include <linux/time.h>

#include "klib_time.c"
