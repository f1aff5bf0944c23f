// SPDX-License-Identifier: GPL-2.0
/*
 * Host layer: device records (device-managed memory, dev_*() messages) and
 * classes with their device nodes under /dev.
 */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <linux/kernel.h>
#include <linux/device.h>
#include <linux/errno.h>
#include <linux/slab.h>
#include <kxhost/bug.h>
#include <kxhost/device.h>
#include <kxhost/fault.h>
#include <kxhost/property.h>

struct devres {
	struct list_head node;
	size_t size;
	unsigned char data[] __aligned(16);
};

void kxh_device_init(struct device *dev, const char *name)
{
	memset(dev, 0, sizeof(*dev));
	snprintf(dev->kxh_name, sizeof(dev->kxh_name), "%s", name);
	INIT_LIST_HEAD(&dev->kxh_devres);
	INIT_LIST_HEAD(&dev->kxh_props);
}

void kxh_devres_release_all(struct device *dev)
{
	while (!list_empty(&dev->kxh_devres)) {
		struct devres *dr = list_first_entry(&dev->kxh_devres, struct devres, node);

		list_del(&dr->node);
		/* as slub_debug does: a use after release reads the poison */
		memset(dr->data, KXH_POISON_FREE, dr->size);
		kfree(dr);
	}
}

unsigned int kxh_devres_count(struct device *dev)
{
	struct list_head *pos;
	unsigned int n = 0;

	list_for_each(pos, &dev->kxh_devres)
		n++;
	return n;
}

void kxh_device_cleanup(struct device *dev)
{
	kxh_devres_release_all(dev);
	kxh_prop_clear(dev);
}

void *devm_kmalloc(struct device *dev, size_t size, gfp_t gfp)
{
	struct devres *dr = kmalloc(sizeof(*dr) + size, gfp);

	if (!dr)
		return NULL;
	dr->size = size;
	list_add_tail(&dr->node, &dev->kxh_devres);
	return dr->data;
}

void devm_kfree(struct device *dev, const void *p)
{
	struct list_head *pos;

	list_for_each(pos, &dev->kxh_devres) {
		struct devres *dr = list_entry(pos, struct devres, node);

		if ((const void *)dr->data == p) {
			list_del(&dr->node);
			kfree(dr);
			return;
		}
	}
	kxh_bug("devm_kfree of memory the device does not own");
}

const char *kxh_dev_prefix(const struct device *dev)
{
	static _Thread_local char prefix[160];

	if (dev->driver && dev->driver->name)
		snprintf(prefix, sizeof(prefix), "%s %s", dev->driver->name, dev_name(dev));
	else
		snprintf(prefix, sizeof(prefix), "%s", dev_name(dev));
	return prefix;
}

/* ---- classes and device nodes ------------------------------------------ */

struct kxh_devnode {
	struct device dev;
	struct list_head node;
};

static LIST_HEAD(classes_live);
static LIST_HEAD(nodes);

struct kxh_class {
	struct class cls;
	char name[64];
	struct list_head node;
};

struct class *class_create(const char *name)
{
	struct kxh_class *c;
	int err = kxh_fault_check("class_create");

	if (err)
		return ERR_PTR(err);
	c = kzalloc(sizeof(*c), GFP_KERNEL);
	if (!c)
		return ERR_PTR(-ENOMEM);
	snprintf(c->name, sizeof(c->name), "%s", name);
	c->cls.name = c->name;
	list_add_tail(&c->node, &classes_live);
	return &c->cls;
}

void class_destroy(const struct class *cls)
{
	struct kxh_class *c;
	struct list_head *pos;

	if (IS_ERR_OR_NULL(cls))
		return;
	list_for_each(pos, &nodes)
		if (list_entry(pos, struct kxh_devnode, node)->dev.class == cls)
			kxh_bug("class %s destroyed with device nodes left", cls->name);
	c = container_of(cls, struct kxh_class, cls);
	list_del(&c->node);
	kfree(c);
}

struct device *device_create(const struct class *cls, struct device *parent,
			     dev_t devt, void *drvdata, const char *fmt, ...)
{
	struct kxh_devnode *n;
	char name[64];
	va_list ap;
	int err = kxh_fault_check("device_create");

	if (err)
		return ERR_PTR(err);
	va_start(ap, fmt);
	vsnprintf(name, sizeof(name), fmt, ap);
	va_end(ap);
	if (kxh_devnode_devt(name) != (dev_t)-1)
		return ERR_PTR(-EEXIST);
	n = kzalloc(sizeof(*n), GFP_KERNEL);
	if (!n)
		return ERR_PTR(-ENOMEM);
	kxh_device_init(&n->dev, name);
	n->dev.class = cls;
	n->dev.parent = parent;
	n->dev.devt = devt;
	n->dev.driver_data = drvdata;
	list_add_tail(&n->node, &nodes);
	return &n->dev;
}

void device_destroy(const struct class *cls, dev_t devt)
{
	struct list_head *pos;

	list_for_each(pos, &nodes) {
		struct kxh_devnode *n = list_entry(pos, struct kxh_devnode, node);

		if (n->dev.class == cls && n->dev.devt == devt) {
			list_del(&n->node);
			kxh_device_cleanup(&n->dev);
			kfree(n);
			return;
		}
	}
}

dev_t kxh_devnode_devt(const char *name)
{
	struct list_head *pos;

	if (!strncmp(name, "/dev/", 5))
		name += 5;
	list_for_each(pos, &nodes) {
		struct kxh_devnode *n = list_entry(pos, struct kxh_devnode, node);

		if (!strcmp(n->dev.kxh_name, name))
			return n->dev.devt;
	}
	return (dev_t)-1;
}

const char *kxh_devnode_class(const char *name)
{
	struct list_head *pos;

	if (!strncmp(name, "/dev/", 5))
		name += 5;
	list_for_each(pos, &nodes) {
		struct kxh_devnode *n = list_entry(pos, struct kxh_devnode, node);

		if (!strcmp(n->dev.kxh_name, name))
			return n->dev.class ? n->dev.class->name : NULL;
	}
	return NULL;
}

unsigned int kxh_class_count(void)
{
	struct list_head *pos;
	unsigned int n = 0;

	list_for_each(pos, &classes_live)
		n++;
	return n;
}
