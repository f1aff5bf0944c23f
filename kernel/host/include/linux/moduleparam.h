/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/moduleparam.h>. There is no insmod on the host:
 * a test or benchmark sets the parameter's variable before it loads the
 * module (kxh_module_init()).
 */
#ifndef _LINUX_MODULEPARAM_H
#define _LINUX_MODULEPARAM_H

#include <linux/compiler.h>

/* keeps the variable referenced, as the kernel's parameter table does */
#define module_param(name, type, perm) \
	static const void *const __kxh_param_##name __maybe_unused = &(name)
#define MODULE_PARM_DESC(name, text)

#endif
