/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/property.h>: firmware (device-tree) properties of
 * a device, which a test attaches with <kxhost/property.h>.
 */
#ifndef _LINUX_PROPERTY_H
#define _LINUX_PROPERTY_H

#include <linux/types.h>

struct device;

bool device_property_present(const struct device *dev, const char *propname);
/* 0, -EINVAL when absent, -ENODATA when it has no value, -EOVERFLOW when too short */
int device_property_read_u32(const struct device *dev, const char *propname, u32 *val);

#endif
