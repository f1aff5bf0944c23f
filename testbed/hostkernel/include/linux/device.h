/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/device.h>: the device record the drivers use
 * (name, driver data, device-managed allocations, firmware properties),
 * dev_*() messages, and classes with their device nodes
 * (<linux/device/class.h>). Device nodes created here are what a test
 * opens as files (<kxhost/chardev.h>).
 */
#ifndef _LINUX_DEVICE_H
#define _LINUX_DEVICE_H

#include <linux/types.h>
#include <linux/compiler.h>
#include <linux/err.h>
#include <linux/gfp.h>
#include <linux/list.h>
#include <linux/printk.h>

struct module;
struct of_device_id;
struct device_node;
struct class;

struct device_driver {
	const char *name;
	struct module *owner;
	const struct of_device_id *of_match_table;
};

struct device {
	struct device *parent;
	const char *init_name;
	struct device_driver *driver;
	void *driver_data;
	struct device_node *of_node;
	dev_t devt;
	const struct class *class;
	/* host bookkeeping (kxh_device_init) */
	char kxh_name[64];
	struct list_head kxh_devres;	/* devm_ allocations */
	struct list_head kxh_props;	/* firmware properties, <linux/property.h> */
	int kxh_refs;			/* get_device() references (platform.c) */
};

static inline const char *dev_name(const struct device *dev)
{
	return dev->kxh_name;
}

static inline void *dev_get_drvdata(const struct device *dev)
{
	return dev->driver_data;
}

static inline void dev_set_drvdata(struct device *dev, void *data)
{
	dev->driver_data = data;
}

/* references on a device (platform.c counts them per device) */
struct device *get_device(struct device *dev);
void put_device(struct device *dev);

/* device-managed memory: released after the driver's remove or a failed probe */
void *devm_kmalloc(struct device *dev, size_t size, gfp_t gfp);
void devm_kfree(struct device *dev, const void *p);
static inline void *devm_kzalloc(struct device *dev, size_t size, gfp_t gfp)
{
	return devm_kmalloc(dev, size, gfp | __GFP_ZERO);
}

/* "<driver> <device>: " (or "<device>: " when unbound), as the kernel prefixes dev_*() messages */
const char *kxh_dev_prefix(const struct device *dev);
#define __kxh_dev_printk(level, dev, fmt, ...) \
	printk(level "%s: " fmt, kxh_dev_prefix(dev), ##__VA_ARGS__)
#define dev_emerg(dev, fmt, ...) __kxh_dev_printk(KERN_EMERG, dev, fmt, ##__VA_ARGS__)
#define dev_alert(dev, fmt, ...) __kxh_dev_printk(KERN_ALERT, dev, fmt, ##__VA_ARGS__)
#define dev_crit(dev, fmt, ...) __kxh_dev_printk(KERN_CRIT, dev, fmt, ##__VA_ARGS__)
#define dev_err(dev, fmt, ...) __kxh_dev_printk(KERN_ERR, dev, fmt, ##__VA_ARGS__)
#define dev_warn(dev, fmt, ...) __kxh_dev_printk(KERN_WARNING, dev, fmt, ##__VA_ARGS__)
#define dev_notice(dev, fmt, ...) __kxh_dev_printk(KERN_NOTICE, dev, fmt, ##__VA_ARGS__)
#define dev_info(dev, fmt, ...) __kxh_dev_printk(KERN_INFO, dev, fmt, ##__VA_ARGS__)
#define dev_dbg(dev, fmt, ...) ({ if (0) __kxh_dev_printk(KERN_DEBUG, dev, fmt, ##__VA_ARGS__); 0; })

/* classes and device nodes (6.4 and later: class_create takes only the name) */
struct class {
	const char *name;
};
struct class *__must_check class_create(const char *name);
void class_destroy(const struct class *cls);
struct device *device_create(const struct class *cls, struct device *parent,
			     dev_t devt, void *drvdata, const char *fmt, ...) __printf(5, 6);
void device_destroy(const struct class *cls, dev_t devt);

#endif
