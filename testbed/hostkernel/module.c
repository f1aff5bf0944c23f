// SPDX-License-Identifier: GPL-2.0
/* Host layer: the module's identity, its init/exit entry points, its parameters. */
#include <stdio.h>
#include <string.h>

#include <linux/compiler.h>
#include <linux/errno.h>
#include <linux/init.h>
#include <linux/module.h>
#include <linux/moduleparam.h>
#include <kxhost/bug.h>
#include <kxhost/irq.h>
#include <kxhost/module.h>

struct module __this_module = { .name = "kx_pps" };

extern initcall_t __kxh_module_init __attribute__((weak));
extern exitcall_t __kxh_module_exit __attribute__((weak));

int kxh_module_init(void)
{
	if (!&__kxh_module_init || !__kxh_module_init)
		kxh_bug("the module has no init function linked in");
	return __kxh_module_init();
}

void kxh_module_exit(void)
{
	if (!&__kxh_module_exit || !__kxh_module_exit)
		kxh_bug("the module has no exit function linked in");
	__kxh_module_exit();
}

/* ---- parameters ---------------------------------------------------------- */

static struct kxh_param *params;

void kxh_param_register(struct kxh_param *param)
{
	param->next = params;
	params = param;
}

int kxh_param_show_int(char *buf, size_t size, const void *value)
{
	return snprintf(buf, size, "%d\n", READ_ONCE(*(const int *)value));
}

int kxh_param_show_uint(char *buf, size_t size, const void *value)
{
	return snprintf(buf, size, "%u\n", READ_ONCE(*(const unsigned int *)value));
}

/* the kernel makes no file for a parameter without a mode */
const char *kxh_param_name(int i)
{
	const struct kxh_param *p;

	for (p = params; p; p = p->next)
		if (p->perm && i-- == 0)
			return p->name;
	return NULL;
}

static const struct kxh_param *find_param(const char *name)
{
	const struct kxh_param *p;

	for (p = params; p; p = p->next)
		if (p->perm && !strcmp(p->name, name))
			return p;
	return NULL;
}

int kxh_param_mode(const char *name)
{
	const struct kxh_param *p = find_param(name);

	return p ? (int)p->perm : -ENOENT;
}

long kxh_param_show(const char *name, char *buf, size_t size)
{
	const struct kxh_param *p = find_param(name);
	int n;

	if (!p)
		return -ENOENT;
	n = p->show(buf, size, p->value);
	return n < (int)size ? n : (long)size - 1;
}
