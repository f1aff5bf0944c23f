/* SPDX-License-Identifier: GPL-2.0 */
/* Host stand-in for <linux/of_platform.h>. */
#ifndef _LINUX_OF_PLATFORM_H
#define _LINUX_OF_PLATFORM_H

#include <linux/of.h>
#include <linux/platform_device.h>

/* the platform device made from np, with a reference (put_device), or NULL */
struct platform_device *of_find_device_by_node(struct device_node *np);

#endif
