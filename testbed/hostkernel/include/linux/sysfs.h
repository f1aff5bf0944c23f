/* SPDX-License-Identifier: GPL-2.0 */
#ifndef _LINUX_SYSFS_H
#define _LINUX_SYSFS_H

#include <linux/types.h>
#include <linux/compiler.h>
#include <asm/page.h>

struct kobject;

struct attribute {
	const char *name;
	umode_t mode;
};

#define __ATTR(_name, _mode, _show, _store) { \
	.attr = { .name = __stringify(_name), .mode = (_mode) }, \
	.show = _show, .store = _store }

int sysfs_create_file(struct kobject *kobj, const struct attribute *attr);
void sysfs_remove_file(struct kobject *kobj, const struct attribute *attr);
int sysfs_emit(char *buf, const char *fmt, ...) __printf(2, 3);
int sysfs_emit_at(char *buf, int at, const char *fmt, ...) __printf(3, 4);

#endif
