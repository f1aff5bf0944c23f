// SPDX-License-Identifier: GPL-2.0
/*
 * kx_pps: the NMEA line queue and the character device /dev/kx_pps.
 *
 * The module owns the receiver's UART, so user space gets the receiver's
 * sentences from here: every line the serial link assembles is appended,
 * with an LF, to one byte queue. When the queue is full the oldest whole
 * lines make room, so a slow or absent reader always finds the newest
 * sentences. One opener at a time reads the queue as a byte stream.
 */
#include <linux/kernel.h>
#include <linux/atomic.h>
#include <linux/cdev.h>
#include <linux/device.h>
#include <linux/errno.h>
#include <linux/fs.h>
#include <linux/kfifo.h>
#include <linux/module.h>
#include <linux/spinlock.h>
#include <linux/uaccess.h>
#include <linux/version.h>
#include <linux/wait.h>

#include "kx_pps.h"

/* bytes a read takes at most, bytes a write inserts at most */
#define PPS_CHARDEV_READ_MAX 256
#define PPS_CHARDEV_WRITE_MAX 128

static struct kfifo pps_fifo;
/* process context only: the receive worker and system calls */
static spinlock_t pps_fifo_lock;
static wait_queue_head_t pps_fifo_wq;

static atomic_t open_count = ATOMIC_INIT(0);
static int major;
static struct cdev pps_cdev;
static struct class *pps_class;
static struct device *pps_device;

int pps_fifo_init(void)
{
	int ret;

	spin_lock_init(&pps_fifo_lock);
	init_waitqueue_head(&pps_fifo_wq);
	ret = kfifo_alloc(&pps_fifo, PPS_FIFO_SIZE, GFP_KERNEL);
	if (ret) {
		pr_err("pps: kfifo_alloc failed: %d\n", ret);
		return ret;
	}
	return 0;
}

void pps_fifo_exit(void)
{
	kfifo_free(&pps_fifo);
}

/* the oldest line (up to its LF, or all when there is none); bytes removed */
unsigned int pps_fifo_drop_one_line_locked(void)
{
	unsigned int n = 0;
	u8 c;

	while (kfifo_get(&pps_fifo, &c)) {
		n++;
		if (c == '\n')
			break;
	}
	return n;
}

void pps_fifo_push_line(const char *data, size_t len)
{
	if (!data || !len)
		return;

	spin_lock(&pps_fifo_lock);
	if (len + 1 > PPS_FIFO_SIZE) {
		/* cannot happen with the serial link's lines: keep the tail */
		kfifo_reset(&pps_fifo);
		kfifo_in(&pps_fifo, data + len - (PPS_FIFO_SIZE - 1), PPS_FIFO_SIZE - 1);
	} else {
		while (kfifo_avail(&pps_fifo) < len + 1) {
			if (!pps_fifo_drop_one_line_locked()) {
				kfifo_reset(&pps_fifo);
				break;
			}
		}
		kfifo_in(&pps_fifo, data, len);
	}
	kfifo_put(&pps_fifo, '\n');
	spin_unlock(&pps_fifo_lock);
	wake_up_interruptible_all(&pps_fifo_wq);
}

static unsigned int pps_fifo_queued(void)
{
	unsigned int n;

	spin_lock(&pps_fifo_lock);
	n = kfifo_len(&pps_fifo);
	spin_unlock(&pps_fifo_lock);
	return n;
}

static ssize_t device_read(struct file *file, char __user *ubuf, size_t count,
			   loff_t *off)
{
	char kbuf[PPS_CHARDEV_READ_MAX];
	unsigned int n;
	int ret;

	if (!pps_fifo_queued()) {
		if (file->f_flags & O_NONBLOCK) {
			pr_err("pps chardev: FIFO empty, O_NONBLOCK\n");
			return -EAGAIN;
		}
		ret = wait_event_interruptible(pps_fifo_wq, pps_fifo_queued() != 0);
		if (ret) {
			pr_err("pps chardev: wake with ret=%d\n", ret);
			return ret;
		}
	}

	n = min_t(size_t, pps_fifo_queued(), count);
	n = min_t(unsigned int, n, PPS_CHARDEV_READ_MAX);
	spin_lock(&pps_fifo_lock);
	n = kfifo_out(&pps_fifo, kbuf, n);
	spin_unlock(&pps_fifo_lock);
	if (!n) {
		pr_err("pps chardev: kfifo_out returned %d\n", 0);
		return 0;
	}
	if (copy_to_user(ubuf, kbuf, n)) {
		pr_err("pps chardev: copy_to_user failed\n");
		return -EFAULT;
	}
	return n;
}

static ssize_t device_write(struct file *file, const char __user *ubuf, size_t count,
			    loff_t *off)
{
	char kbuf[PPS_CHARDEV_WRITE_MAX];
	size_t n = min_t(size_t, count, PPS_CHARDEV_WRITE_MAX);
	unsigned int in;

	if (!count)
		return 0;
	if (copy_from_user(kbuf, ubuf, n)) {
		pr_err("pps chardev: copy_from_user failed\n");
		return -EFAULT;
	}
	spin_lock(&pps_fifo_lock);
	in = kfifo_in(&pps_fifo, kbuf, n);
	spin_unlock(&pps_fifo_lock);
	if (!in) {
		pr_err("pps chardev: kfifo_in returned %d\n", 0);
		return -ENOSPC;
	}
	wake_up_interruptible_all(&pps_fifo_wq);
	return in;
}

static long device_ioctl(struct file *file, unsigned int cmd, unsigned long arg)
{
	if (cmd == PPS_CHARDEV_IOC_NOP)
		return 0;
	return -ENOTTY;
}

static int device_open(struct inode *inode, struct file *file)
{
	/* one reader at a time: nmeafeed */
	if (atomic_inc_return(&open_count) > 1) {
		atomic_dec(&open_count);
		return -EBUSY;
	}
	return 0;
}

static int device_release(struct inode *inode, struct file *file)
{
	atomic_dec(&open_count);
	return 0;
}

static const struct file_operations fops = {
	.owner = THIS_MODULE,
	.read = device_read,
	.write = device_write,
	.unlocked_ioctl = device_ioctl,
	.open = device_open,
	.release = device_release,
};

int chardev_init(void)
{
	dev_t dev;
	int ret;

	ret = alloc_chrdev_region(&dev, 0, 1, "kx_pps");
	if (ret) {
		pr_err("pps chardev: Failed to allocate major number\n");
		return ret;
	}
	major = MAJOR(dev);

	cdev_init(&pps_cdev, &fops);
	pps_cdev.owner = THIS_MODULE;
	ret = cdev_add(&pps_cdev, MKDEV(major, 0), 1);
	if (ret) {
		pr_err("pps chardev: Failed to add cdev\n");
		goto err_region;
	}

#if LINUX_VERSION_CODE >= KERNEL_VERSION(6, 4, 0)
	pps_class = class_create("pps_chardev_class");
#else
	pps_class = class_create(THIS_MODULE, "pps_chardev_class");
#endif
	if (IS_ERR(pps_class)) {
		pr_err("pps chardev: Failed to create class\n");
		ret = PTR_ERR(pps_class);
		goto err_cdev;
	}

	pps_device = device_create(pps_class, NULL, MKDEV(major, 0), NULL, "kx_pps");
	if (IS_ERR(pps_device)) {
		pr_err("pps chardev: Failed to create device\n");
		ret = PTR_ERR(pps_device);
		goto err_class;
	}
	return 0;

err_class:
	class_destroy(pps_class);
err_cdev:
	cdev_del(&pps_cdev);
err_region:
	unregister_chrdev_region(MKDEV(major, 0), 1);
	return ret;
}

void chardev_exit(void)
{
	device_destroy(pps_class, MKDEV(major, 0));
	class_destroy(pps_class);
	cdev_del(&pps_cdev);
	unregister_chrdev_region(MKDEV(major, 0), 1);
	pr_info("pps chardev: Removed\n");
}
