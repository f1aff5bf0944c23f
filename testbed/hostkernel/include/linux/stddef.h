/* SPDX-License-Identifier: GPL-2.0 */
/* Host stand-in for <linux/stddef.h>. */
#ifndef _LINUX_STDDEF_H
#define _LINUX_STDDEF_H

#include <linux/types.h>

#ifndef offsetof	/* the C library's <stddef.h> may have it already */
#define offsetof(t, m) __builtin_offsetof(t, m)
#endif
#define sizeof_field(t, m) sizeof(((t *)0)->m)

#endif
