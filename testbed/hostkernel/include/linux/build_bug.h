/* SPDX-License-Identifier: GPL-2.0 */
#ifndef _LINUX_BUILD_BUG_H
#define _LINUX_BUILD_BUG_H

#define static_assert(expr, ...) _Static_assert(expr, #expr)
#define BUILD_BUG_ON(cond) _Static_assert(!(cond), "BUILD_BUG_ON(" #cond ")")

#endif
