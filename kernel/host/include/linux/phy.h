/* SPDX-License-Identifier: GPL-2.0 */
/* Host stand-in for <linux/phy.h>: the PHY device type, opaque so far. */
#ifndef _LINUX_PHY_H
#define _LINUX_PHY_H

#include <linux/types.h>

struct phy_device;

#endif
