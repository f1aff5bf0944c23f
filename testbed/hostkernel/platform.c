// SPDX-License-Identifier: GPL-2.0
/*
 * Host layer: platform devices and drivers, bound by the node's
 * "compatible", with the driver core's deferred probing; device references.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <linux/kernel.h>
#include <linux/device.h>
#include <linux/list.h>
#include <linux/module.h>
#include <linux/of.h>
#include <linux/of_platform.h>
#include <linux/platform_device.h>
#include <kxhost/bug.h>
#include <kxhost/device.h>
#include <kxhost/fault.h>
#include <kxhost/platform.h>

#define MAX_DRIVERS 8

static LIST_HEAD(pdevs);
static struct platform_driver *drivers[MAX_DRIVERS];

struct device *get_device(struct device *dev)
{
	if (dev)
		dev->kxh_refs++;
	return dev;
}

void put_device(struct device *dev)
{
	if (!dev)
		return;
	if (dev->kxh_refs <= 0)
		kxh_bug("put_device(%s) without a reference", dev_name(dev));
	dev->kxh_refs--;
}

struct platform_device *of_find_device_by_node(struct device_node *np)
{
	if (!np || !np->kxh_pdev)
		return NULL;
	get_device(&np->kxh_pdev->dev);
	return np->kxh_pdev;
}

static bool matches(struct platform_driver *drv, struct platform_device *pdev)
{
	return pdev->dev.of_node && of_match_node(drv->driver.of_match_table, pdev->dev.of_node);
}

/* really_probe(): a failed or deferred probe leaves nothing device-managed */
static int probe_one(struct platform_driver *drv, struct platform_device *pdev)
{
	int ret;

	might_sleep();
	pdev->dev.driver = &drv->driver;
	pdev->kxh_probes++;
	ret = drv->probe(pdev);
	pdev->kxh_probe_result = ret;
	if (ret) {
		pdev->dev.driver = NULL;
		dev_set_drvdata(&pdev->dev, NULL);
		kxh_devres_release_all(&pdev->dev);
		pdev->kxh_deferred = ret == -EPROBE_DEFER;
		return ret;
	}
	pdev->kxh_deferred = 0;
	pdev->kxh_bound = 1;
	return 0;
}

static void unbind(struct platform_driver *drv, struct platform_device *pdev)
{
	if (drv->remove_new)
		drv->remove_new(pdev);
	else if (drv->remove)
		drv->remove(pdev);
	kxh_devres_release_all(&pdev->dev);
	dev_set_drvdata(&pdev->dev, NULL);
	pdev->dev.driver = NULL;
	pdev->kxh_bound = 0;
}

static struct platform_driver *driver_of(struct platform_device *pdev)
{
	unsigned int i;

	for (i = 0; i < MAX_DRIVERS; i++)
		if (drivers[i] && pdev->dev.driver == &drivers[i]->driver)
			return drivers[i];
	return NULL;
}

/* the driver core retries deferred probes after every successful bind */
void kxh_platform_retry_deferred(void)
{
	unsigned int rounds = 0;
	bool progress;

	do {
		struct list_head *pos;

		progress = false;
		if (++rounds > 100)
			kxh_bug("deferred probes never settle");
		list_for_each(pos, &pdevs) {
			struct platform_device *pdev =
				list_entry(pos, struct platform_device, kxh_node);
			unsigned int i;

			if (!pdev->kxh_deferred || pdev->kxh_bound)
				continue;
			for (i = 0; i < MAX_DRIVERS; i++)
				if (drivers[i] && matches(drivers[i], pdev))
					break;
			if (i == MAX_DRIVERS) {
				pdev->kxh_deferred = 0;
				continue;
			}
			if (!probe_one(drivers[i], pdev))
				progress = true;
		}
	} while (progress);
}

static void attach(struct platform_device *pdev)
{
	unsigned int i;

	for (i = 0; i < MAX_DRIVERS; i++) {
		if (drivers[i] && matches(drivers[i], pdev)) {
			if (!probe_one(drivers[i], pdev))
				kxh_platform_retry_deferred();
			return;
		}
	}
}

struct platform_device *kxh_platform_device_add(const char *name, struct device_node *np)
{
	struct platform_device *pdev = calloc(1, sizeof(*pdev));

	if (!pdev)
		abort();
	kxh_device_init(&pdev->dev, name);
	pdev->name = pdev->dev.kxh_name;
	pdev->id = -1;
	pdev->dev.of_node = np;
	if (np)
		np->kxh_pdev = pdev;
	list_add_tail(&pdev->kxh_node, &pdevs);
	attach(pdev);
	/* a new device may be what a deferred probe waits for */
	kxh_platform_retry_deferred();
	return pdev;
}

void kxh_platform_device_del(struct platform_device *pdev)
{
	struct platform_driver *drv = driver_of(pdev);

	if (pdev->kxh_bound && drv)
		unbind(drv, pdev);
	if (pdev->dev.kxh_refs)
		kxh_bug("platform device %s deleted with %d references held",
			pdev->name, pdev->dev.kxh_refs);
	if (pdev->dev.of_node)
		pdev->dev.of_node->kxh_pdev = NULL;
	list_del(&pdev->kxh_node);
	kxh_device_cleanup(&pdev->dev);
	free(pdev);
}

int __platform_driver_register(struct platform_driver *drv, struct module *owner)
{
	struct list_head *pos;
	unsigned int i;
	int err;

	might_sleep();
	err = kxh_fault_check("platform_driver_register");
	if (err)
		return err;
	for (i = 0; i < MAX_DRIVERS; i++)
		if (drivers[i] == drv || (drivers[i] && !strcmp(drivers[i]->driver.name,
								  drv->driver.name)))
			return -EBUSY;
	for (i = 0; i < MAX_DRIVERS && drivers[i]; i++)
		;
	if (i == MAX_DRIVERS)
		kxh_bug("too many platform drivers");
	drv->driver.owner = owner;
	drivers[i] = drv;
	/* bind the devices already there (the driver core's driver_attach) */
	list_for_each(pos, &pdevs) {
		struct platform_device *pdev = list_entry(pos, struct platform_device, kxh_node);

		if (!pdev->kxh_bound && matches(drv, pdev) && !probe_one(drv, pdev))
			kxh_platform_retry_deferred();
	}
	return 0;
}

void platform_driver_unregister(struct platform_driver *drv)
{
	struct list_head *pos;
	unsigned int i;

	might_sleep();
	for (i = 0; i < MAX_DRIVERS && drivers[i] != drv; i++)
		;
	if (i == MAX_DRIVERS)
		kxh_bug("platform_driver_unregister of a driver not registered");
	list_for_each(pos, &pdevs) {
		struct platform_device *pdev = list_entry(pos, struct platform_device, kxh_node);

		if (pdev->kxh_bound && pdev->dev.driver == &drv->driver)
			unbind(drv, pdev);
		if (matches(drv, pdev))
			pdev->kxh_deferred = 0;
	}
	drivers[i] = NULL;
}

unsigned int kxh_platform_drivers(void)
{
	unsigned int i, n = 0;

	for (i = 0; i < MAX_DRIVERS; i++)
		n += drivers[i] != NULL;
	return n;
}

struct platform_driver *kxh_platform_driver_find(const char *name)
{
	unsigned int i;

	for (i = 0; i < MAX_DRIVERS; i++)
		if (drivers[i] && !strcmp(drivers[i]->driver.name, name))
			return drivers[i];
	return NULL;
}
