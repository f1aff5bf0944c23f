/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Platform devices. A device made from a node binds to a registered driver
 * whose match table names the node's "compatible"; deferred probes are
 * retried whenever a device or PHY is added.
 */
#ifndef KXHOST_PLATFORM_H
#define KXHOST_PLATFORM_H

#include <linux/platform_device.h>
#include <linux/of.h>

struct platform_device *kxh_platform_device_add(const char *name, struct device_node *np);
/* unbinds it (remove) and frees it */
void kxh_platform_device_del(struct platform_device *pdev);
void kxh_platform_retry_deferred(void);
unsigned int kxh_platform_drivers(void);
/* a registered driver by name, NULL when none */
struct platform_driver *kxh_platform_driver_find(const char *name);

#endif
