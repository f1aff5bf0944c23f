/* SPDX-License-Identifier: GPL-2.0 */
/* PHY devices at device-tree nodes. Adding one retries deferred probes. */
#ifndef KXHOST_PHY_H
#define KXHOST_PHY_H

#include <linux/phy.h>
#include <linux/of.h>

struct phy_device *kxh_phy_add(struct device_node *np, const char *name);
void kxh_phy_del(struct phy_device *phydev);

#endif
