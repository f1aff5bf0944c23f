// SPDX-License-Identifier: GPL-2.0
/* Host layer: the module's identity, its init/exit entry points, its parameters. */
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
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

/*
 * As the kernel's kstrtoint/kstrtouint take a parameter's text: decimal,
 * 0x hex or 0 octal, one line end allowed, nothing else.
 */
static int param_number(const char *text, long long min, long long max, long long *out)
{
	char *end;
	long long v;

	errno = 0;
	v = strtoll(text, &end, 0);
	if (end == text || errno || v < min || v > max)
		return -EINVAL;
	if (*end == '\n')
		end++;
	if (*end)
		return -EINVAL;
	*out = v;
	return 0;
}

int kxh_param_set_int(const char *text, void *value)
{
	long long v;
	int err = param_number(text, INT_MIN, INT_MAX, &v);

	if (!err)
		WRITE_ONCE(*(int *)value, (int)v);
	return err;
}

int kxh_param_set_uint(const char *text, void *value)
{
	long long v;
	int err = text[0] == '-' ? -EINVAL : param_number(text, 0, UINT_MAX, &v);

	if (!err)
		WRITE_ONCE(*(unsigned int *)value, (unsigned int)v);
	return err;
}

int kxh_param_set(const char *name, const char *text)
{
	struct kxh_param *p;

	for (p = params; p; p = p->next)
		if (!strcmp(p->name, name))
			return p->set(text, p->value);
	return -ENOENT;
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

long kxh_param_store(const char *name, const char *text, size_t len)
{
	const struct kxh_param *p = find_param(name);
	char buf[64];
	int err;

	if (!p)
		return -ENOENT;
	if (!(p->perm & 0222))
		return -EACCES;
	if (len >= sizeof(buf))
		return -EINVAL;
	memcpy(buf, text, len);
	buf[len] = '\0';
	err = p->set(buf, p->value);
	return err ? err : (long)len;
}
