/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/platform_device.h>: platform devices (made by a
 * test from device-tree nodes, <kxhost/platform.h>) and drivers, bound by
 * the "compatible" of the node. A probe returning -EPROBE_DEFER leaves the
 * device on the deferred list; it is probed again whenever another device
 * appears, as the driver core does. The 6.6 form of remove returns int;
 * from 6.11 it returns void.
 */
#ifndef _LINUX_PLATFORM_DEVICE_H
#define _LINUX_PLATFORM_DEVICE_H

#include <linux/types.h>
#include <linux/device.h>
#include <linux/mod_devicetable.h>
#include <linux/module.h>

struct module;

struct platform_device {
	const char *name;
	int id;
	struct device dev;
	/* host bookkeeping */
	struct list_head kxh_node;
	int kxh_bound;
	int kxh_deferred;
	int kxh_probe_result;
	unsigned int kxh_probes;
};

struct platform_driver {
	int (*probe)(struct platform_device *);
	int (*remove)(struct platform_device *);
	void (*remove_new)(struct platform_device *);
	struct device_driver driver;
};

static inline struct platform_device *to_platform_device(struct device *dev)
{
	return (struct platform_device *)((char *)dev -
					  __builtin_offsetof(struct platform_device, dev));
}

static inline void *platform_get_drvdata(const struct platform_device *pdev)
{
	return dev_get_drvdata(&pdev->dev);
}

static inline void platform_set_drvdata(struct platform_device *pdev, void *data)
{
	dev_set_drvdata(&pdev->dev, data);
}

int __platform_driver_register(struct platform_driver *drv, struct module *owner);
#define platform_driver_register(drv) __platform_driver_register(drv, THIS_MODULE)
void platform_driver_unregister(struct platform_driver *drv);

#endif
