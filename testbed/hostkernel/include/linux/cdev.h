/* SPDX-License-Identifier: GPL-2.0 */
/* Host stand-in for <linux/cdev.h>: character devices bound to device numbers. */
#ifndef _LINUX_CDEV_H
#define _LINUX_CDEV_H

#include <linux/types.h>
#include <linux/list.h>

struct module;
struct file_operations;

struct cdev {
	struct module *owner;
	const struct file_operations *ops;
	dev_t dev;
	unsigned int count;
	struct list_head list;	/* on the host's list of added devices */
};

void cdev_init(struct cdev *cdev, const struct file_operations *fops);
int cdev_add(struct cdev *cdev, dev_t dev, unsigned int count);
void cdev_del(struct cdev *cdev);

#endif
