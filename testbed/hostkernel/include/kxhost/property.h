/* SPDX-License-Identifier: GPL-2.0 */
/* Firmware (device-tree) properties attached to a device by the test. */
#ifndef KXHOST_PROPERTY_H
#define KXHOST_PROPERTY_H

#include <linux/types.h>

struct device;

/* one u32 cell */
void kxh_prop_set_u32(struct device *dev, const char *name, u32 val);
/* a property without value (its presence is what counts) */
void kxh_prop_set_flag(struct device *dev, const char *name);
void kxh_prop_clear(struct device *dev);

#endif
