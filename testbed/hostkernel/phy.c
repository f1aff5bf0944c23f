// SPDX-License-Identifier: GPL-2.0
/* Host layer: PHY devices at device-tree nodes. */
#include <stdio.h>
#include <stdlib.h>

#include <linux/kernel.h>
#include <linux/of.h>
#include <linux/of_mdio.h>
#include <linux/phy.h>
#include <kxhost/bug.h>
#include <kxhost/device.h>
#include <kxhost/phy.h>
#include <kxhost/platform.h>

struct phy_device *kxh_phy_add(struct device_node *np, const char *name)
{
	struct phy_device *phydev = calloc(1, sizeof(*phydev));

	if (!phydev)
		abort();
	kxh_device_init(&phydev->mdio.dev, name);
	phydev->mdio.dev.of_node = np;
	phydev->phy_id = 0x00221650;	/* LAN8841 */
	np->kxh_phy = phydev;
	/* a PHY appearing may be what a deferred probe waits for */
	kxh_platform_retry_deferred();
	return phydev;
}

void kxh_phy_del(struct phy_device *phydev)
{
	if (phydev->mdio.dev.kxh_refs)
		kxh_bug("PHY %s deleted with %d references held", dev_name(&phydev->mdio.dev),
			phydev->mdio.dev.kxh_refs);
	if (phydev->mdio.dev.of_node)
		phydev->mdio.dev.of_node->kxh_phy = NULL;
	kxh_device_cleanup(&phydev->mdio.dev);
	free(phydev);
}

struct phy_device *of_phy_find_device(struct device_node *phy_np)
{
	if (!phy_np || !phy_np->kxh_phy)
		return NULL;
	get_device(&phy_np->kxh_phy->mdio.dev);
	return phy_np->kxh_phy;
}
