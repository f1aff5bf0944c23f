// SPDX-License-Identifier: GPL-2.0
/*
 * Host layer: character device numbers, character devices, and open files
 * on device nodes, through which a test makes the system calls of a user.
 */
#include <stdlib.h>
#include <string.h>

#include <linux/kernel.h>
#include <linux/cdev.h>
#include <linux/errno.h>
#include <linux/fs.h>
#include <linux/slab.h>
#include <kxhost/bug.h>
#include <kxhost/chardev.h>
#include <kxhost/device.h>
#include <kxhost/fault.h>

#define MAX_REGIONS 16
/* dynamic majors are handed out downwards from here, as the kernel's 254.. */
#define DYNAMIC_MAJOR_TOP 254

static struct {
	dev_t first;
	unsigned int count;
	int used;
} regions[MAX_REGIONS];
static LIST_HEAD(cdevs);

int alloc_chrdev_region(dev_t *dev, unsigned int baseminor, unsigned int count,
			const char *name)
{
	unsigned int major, i, free_slot = MAX_REGIONS;
	int err = kxh_fault_check("alloc_chrdev_region");

	(void)name;
	if (err)
		return err;
	for (major = DYNAMIC_MAJOR_TOP; major > 200; major--) {
		int taken = 0;

		for (i = 0; i < MAX_REGIONS; i++)
			if (regions[i].used && MAJOR(regions[i].first) == major)
				taken = 1;
		if (!taken)
			break;
	}
	for (i = 0; i < MAX_REGIONS; i++)
		if (!regions[i].used) {
			free_slot = i;
			break;
		}
	if (major == 200 || free_slot == MAX_REGIONS)
		return -EBUSY;
	regions[free_slot].first = MKDEV(major, baseminor);
	regions[free_slot].count = count;
	regions[free_slot].used = 1;
	*dev = regions[free_slot].first;
	return 0;
}

void unregister_chrdev_region(dev_t from, unsigned int count)
{
	unsigned int i;

	for (i = 0; i < MAX_REGIONS; i++)
		if (regions[i].used && regions[i].first == from && regions[i].count == count) {
			regions[i].used = 0;
			return;
		}
	kxh_bug("unregister_chrdev_region of a region never allocated");
}

unsigned int kxh_chrdev_regions(void)
{
	unsigned int i, n = 0;

	for (i = 0; i < MAX_REGIONS; i++)
		n += regions[i].used;
	return n;
}

void cdev_init(struct cdev *cdev, const struct file_operations *fops)
{
	memset(cdev, 0, sizeof(*cdev));
	INIT_LIST_HEAD(&cdev->list);
	cdev->ops = fops;
}

int cdev_add(struct cdev *cdev, dev_t dev, unsigned int count)
{
	int err = kxh_fault_check("cdev_add");

	if (err)
		return err;
	if (!cdev->list.next)
		kxh_bug("cdev_add of a character device never initialised");
	if (!list_empty(&cdev->list))
		kxh_bug("cdev_add of a character device already added");
	cdev->dev = dev;
	cdev->count = count;
	list_add_tail(&cdev->list, &cdevs);
	return 0;
}

void cdev_del(struct cdev *cdev)
{
	if (cdev->list.next && !list_empty(&cdev->list))
		list_del_init(&cdev->list);
}

unsigned int kxh_cdev_count(void)
{
	struct list_head *pos;
	unsigned int n = 0;

	list_for_each(pos, &cdevs)
		n++;
	return n;
}

static struct cdev *cdev_lookup(dev_t devt)
{
	struct list_head *pos;

	list_for_each(pos, &cdevs) {
		struct cdev *c = list_entry(pos, struct cdev, list);

		if (devt >= c->dev && devt < c->dev + c->count)
			return c;
	}
	return NULL;
}

struct file *kxh_file_open(const char *path, unsigned int flags, int *err)
{
	dev_t devt = kxh_devnode_devt(path);
	struct cdev *c;
	struct file *f;
	struct inode *inode;
	int ret = 0;

	if (devt == (dev_t)-1) {
		*err = -ENOENT;
		return NULL;
	}
	c = cdev_lookup(devt);
	if (!c) {
		*err = -ENXIO;
		return NULL;
	}
	f = calloc(1, sizeof(*f));
	inode = calloc(1, sizeof(*inode));
	if (!f || !inode)
		abort();
	inode->i_rdev = devt;
	inode->i_cdev = c;
	f->f_inode = inode;
	f->f_flags = flags;
	f->f_op = c->ops;
	if (f->f_op->open)
		ret = f->f_op->open(inode, f);
	if (ret) {
		free(inode);
		free(f);
		*err = ret;
		return NULL;
	}
	*err = 0;
	return f;
}

ssize_t kxh_file_read(struct file *f, void *buf, size_t count)
{
	if (!f->f_op->read)
		return -EINVAL;
	return f->f_op->read(f, (char __user *)buf, count, &f->f_pos);
}

ssize_t kxh_file_write(struct file *f, const void *buf, size_t count)
{
	if (!f->f_op->write)
		return -EINVAL;
	return f->f_op->write(f, (const char __user *)buf, count, &f->f_pos);
}

long kxh_file_ioctl(struct file *f, unsigned int cmd, unsigned long arg)
{
	if (!f->f_op->unlocked_ioctl)
		return -ENOTTY;
	return f->f_op->unlocked_ioctl(f, cmd, arg);
}

int kxh_file_close(struct file *f)
{
	int ret = 0;

	if (f->f_op->release)
		ret = f->f_op->release(f->f_inode, f);
	free(f->f_inode);
	free(f);
	return ret;
}
