/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/moduleparam.h>. There is no insmod on the host:
 * a test or benchmark sets the parameter's variable before it loads the
 * module (kxh_module_init()), or its text as insmod's "name=value" would
 * (kxh_param_set()). Each parameter is registered at program start so that,
 * as the kernel shows it in /sys/module/<module>/parameters, it can be
 * listed, read and, with a writable mode, written (kxh_param_name(),
 * kxh_param_show(), kxh_param_store()).
 */
#ifndef _LINUX_MODULEPARAM_H
#define _LINUX_MODULEPARAM_H

#include <linux/compiler.h>
#include <linux/types.h>

struct kxh_param {
	const char *name;
	void *value;
	/* the text the kernel's param_get_<type> gives, into buf */
	int (*show)(char *buf, size_t size, const void *value);
	/* the kernel's param_set_<type>: 0, or -EINVAL for a text it refuses */
	int (*set)(const char *text, void *value);
	unsigned int perm;
	struct kxh_param *next;
};

void kxh_param_register(struct kxh_param *param);
int kxh_param_show_int(char *buf, size_t size, const void *value);
int kxh_param_show_uint(char *buf, size_t size, const void *value);
int kxh_param_set_int(const char *text, void *value);
int kxh_param_set_uint(const char *text, void *value);

/* the C type each parameter type stands for, checked as the kernel does */
#define __kxh_param_type_int int
#define __kxh_param_type_uint unsigned int

#define module_param_named(name, value, type, perm)				\
	_Static_assert(__builtin_types_compatible_p(__typeof__(value),		\
						    __kxh_param_type_##type),	\
		       "parameter " #name " is not of type " #type);		\
	static struct kxh_param __kxh_param_##name = {				\
		#name, &(value), kxh_param_show_##type, kxh_param_set_##type,	\
		(perm), 0							\
	};									\
	static void __attribute__((constructor)) __kxh_param_add_##name(void)	\
	{									\
		kxh_param_register(&__kxh_param_##name);			\
	}
#define module_param(name, type, perm) module_param_named(name, name, type, perm)
#define MODULE_PARM_DESC(name, text)

#endif
