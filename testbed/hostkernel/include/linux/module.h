/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/module.h>. On the host the module's objects are
 * linked straight into the test programs: init and exit functions are
 * reachable through kxh_module_init()/kxh_module_exit() (see <kxhost/module.h>).
 */
#ifndef _LINUX_MODULE_H
#define _LINUX_MODULE_H

#include <linux/types.h>
#include <linux/init.h>
#include <linux/compiler.h>
#include <linux/export.h>

struct module {
	const char *name;
};

extern struct module __this_module;
#define THIS_MODULE (&__this_module)

#define MODULE_LICENSE(x)
#define MODULE_AUTHOR(x)
#define MODULE_DESCRIPTION(x)
#define MODULE_VERSION(x)
#define MODULE_ALIAS(x)
#define MODULE_SOFTDEP(x)
/* keeps the table referenced, as the kernel's alias does */
#define MODULE_DEVICE_TABLE(type, name) \
	static const void *const __kxh_##type##_table_##name __maybe_unused = &(name)

#endif
