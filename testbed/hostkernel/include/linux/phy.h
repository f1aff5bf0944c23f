/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/phy.h>: a PHY is an MDIO device with its device
 * record; tests add PHYs at device-tree nodes (<kxhost/phy.h>).
 */
#ifndef _LINUX_PHY_H
#define _LINUX_PHY_H

#include <linux/types.h>
#include <linux/device.h>

struct mdio_device {
	struct device dev;
	int addr;
};

struct phy_device {
	struct mdio_device mdio;
	u32 phy_id;
};

#endif
