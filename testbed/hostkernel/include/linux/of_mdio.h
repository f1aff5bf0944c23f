/* SPDX-License-Identifier: GPL-2.0 */
/* Host stand-in for <linux/of_mdio.h>. */
#ifndef _LINUX_OF_MDIO_H
#define _LINUX_OF_MDIO_H

#include <linux/of.h>
#include <linux/phy.h>

/* the PHY at phy_np with a reference on its mdio device, or NULL */
struct phy_device *of_phy_find_device(struct device_node *phy_np);

#endif
