/* SPDX-License-Identifier: GPL-2.0 */
/* Host stand-in for <linux/overflow.h>: checked arithmetic, true on overflow. */
#ifndef _LINUX_OVERFLOW_H
#define _LINUX_OVERFLOW_H

#include <linux/compiler.h>

#define check_add_overflow(a, b, d) __builtin_add_overflow(a, b, d)
#define check_sub_overflow(a, b, d) __builtin_sub_overflow(a, b, d)
#define check_mul_overflow(a, b, d) __builtin_mul_overflow(a, b, d)

#endif
