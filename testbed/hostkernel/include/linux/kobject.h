/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/kobject.h>: kernel objects form a tree of named
 * directories whose attribute files a test reads and writes by path through
 * <kxhost/sysfs.h>, which calls the show and store handlers as sysfs does.
 */
#ifndef _LINUX_KOBJECT_H
#define _LINUX_KOBJECT_H

#include <linux/types.h>
#include <linux/sysfs.h>

struct kobject {
	char name[64];
	struct kobject *parent;
	int refcount;
	struct kxh_sysfs_file *files;	/* host: the directory's files */
};

struct kobj_attribute {
	struct attribute attr;
	ssize_t (*show)(struct kobject *kobj, struct kobj_attribute *attr, char *buf);
	ssize_t (*store)(struct kobject *kobj, struct kobj_attribute *attr,
			 const char *buf, size_t count);
};

extern struct kobject *kernel_kobj;

struct kobject *kobject_create_and_add(const char *name, struct kobject *parent);
struct kobject *kobject_get(struct kobject *kobj);
void kobject_put(struct kobject *kobj);

#endif
