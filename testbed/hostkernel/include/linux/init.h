/* SPDX-License-Identifier: GPL-2.0 */
#ifndef _LINUX_INIT_H
#define _LINUX_INIT_H

#include <linux/compiler.h>

typedef int (*initcall_t)(void);
typedef void (*exitcall_t)(void);

/* The host layer finds the module's entry points through these two names. */
#define module_init(fn) initcall_t __kxh_module_init = (fn)
#define module_exit(fn) exitcall_t __kxh_module_exit = (fn)

#endif
