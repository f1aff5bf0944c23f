/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/fs.h>: open files, inodes of device nodes, file
 * operations and character device number regions. A test reaches a
 * driver's file operations through <kxhost/chardev.h>, as a system call would.
 */
#ifndef _LINUX_FS_H
#define _LINUX_FS_H

#include <linux/types.h>
#include <linux/compiler.h>
#include <linux/fcntl.h>
#include <linux/kdev_t.h>

struct module;
struct cdev;
struct file;

struct inode {
	dev_t i_rdev;
	struct cdev *i_cdev;
};

struct file {
	unsigned int f_flags;
	loff_t f_pos;
	const struct file_operations *f_op;
	struct inode *f_inode;
	void *private_data;
};

struct file_operations {
	struct module *owner;
	loff_t (*llseek)(struct file *, loff_t, int);
	ssize_t (*read)(struct file *, char __user *, size_t, loff_t *);
	ssize_t (*write)(struct file *, const char __user *, size_t, loff_t *);
	long (*unlocked_ioctl)(struct file *, unsigned int, unsigned long);
	int (*open)(struct inode *, struct file *);
	int (*release)(struct inode *, struct file *);
};

int alloc_chrdev_region(dev_t *dev, unsigned int baseminor, unsigned int count,
			const char *name);
void unregister_chrdev_region(dev_t from, unsigned int count);

#endif
