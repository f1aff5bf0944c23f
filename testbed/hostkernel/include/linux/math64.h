/* SPDX-License-Identifier: GPL-2.0 */
#ifndef _LINUX_MATH64_H
#define _LINUX_MATH64_H

#include <linux/types.h>

static inline s64 div64_s64(s64 dividend, s64 divisor)
{
	return dividend / divisor;
}

static inline u64 div64_u64(u64 dividend, u64 divisor)
{
	return dividend / divisor;
}

static inline s64 div_s64(s64 dividend, s32 divisor)
{
	return dividend / divisor;
}

static inline s64 div_s64_rem(s64 dividend, s32 divisor, s32 *remainder)
{
	*remainder = (s32)(dividend % divisor);
	return dividend / divisor;
}

static inline u64 div_u64_rem(u64 dividend, u32 divisor, u32 *remainder)
{
	*remainder = (u32)(dividend % divisor);
	return dividend / divisor;
}

static inline u64 div_u64(u64 dividend, u32 divisor)
{
	return dividend / divisor;
}

#endif
