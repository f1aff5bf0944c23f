/* SPDX-License-Identifier: GPL-2.0 */
/* Device records, device-managed memory, classes and device nodes. */
#ifndef KXHOST_DEVICE_H
#define KXHOST_DEVICE_H

#include <linux/device.h>

/* a zeroed device record named `name`, ready for a bus */
void kxh_device_init(struct device *dev, const char *name);
/* byte device-managed memory is filled with when released (slub_debug's) */
#define KXH_POISON_FREE 0x6b
/* what the driver core does after remove or a failed probe */
void kxh_devres_release_all(struct device *dev);
unsigned int kxh_devres_count(struct device *dev);
/* device-managed memory and properties released */
void kxh_device_cleanup(struct device *dev);

/* device number of the node /dev/<name> ("/dev/" optional), (dev_t)-1 when none */
dev_t kxh_devnode_devt(const char *name);
/* class name of that node, NULL when none */
const char *kxh_devnode_class(const char *name);
/* classes alive */
unsigned int kxh_class_count(void);

#endif
