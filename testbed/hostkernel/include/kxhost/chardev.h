/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Files on device nodes: the system calls of a user process. Open finds
 * the node by name ("/dev/kx_pps"), its character device by number, and
 * calls the driver's open; read/write/ioctl/close call the driver's file
 * operations and return what they return (negative error numbers, e.g.
 * -ERESTARTSYS where the system call would be restarted or fail with EINTR).
 * Faults on user memory: arm "copy_to_user" / "copy_from_user".
 */
#ifndef KXHOST_CHARDEV_H
#define KXHOST_CHARDEV_H

#include <linux/fs.h>

/* NULL with *err the negative error when the open fails */
struct file *kxh_file_open(const char *path, unsigned int flags, int *err);
ssize_t kxh_file_read(struct file *f, void *buf, size_t count);
ssize_t kxh_file_write(struct file *f, const void *buf, size_t count);
long kxh_file_ioctl(struct file *f, unsigned int cmd, unsigned long arg);
int kxh_file_close(struct file *f);

/* device number regions and character devices alive */
unsigned int kxh_chrdev_regions(void);
unsigned int kxh_cdev_count(void);

#endif
