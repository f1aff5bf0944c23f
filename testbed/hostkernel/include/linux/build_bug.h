/* SPDX-License-Identifier: GPL-2.0 */
#ifndef _LINUX_BUILD_BUG_H
#define _LINUX_BUILD_BUG_H

#define static_assert(expr, ...) _Static_assert(expr, #expr)
#define BUILD_BUG_ON(cond) _Static_assert(!(cond), "BUILD_BUG_ON(" #cond ")")
/* 0, or a compile error where e holds */
#define BUILD_BUG_ON_ZERO(e) ((int)(sizeof(struct { int:(-!!(e)); })))

#endif
