/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Interface of the LAN8841 PHY driver module that kx_pps calls: pulse event
 * notifiers and PTP clock setting. The companion stub module (phystub/)
 * provides the same exports for builds and tests without the real driver.
 */
#ifndef KXPPS_PHY_H
#define KXPPS_PHY_H

#include <linux/types.h>
#include <linux/time64.h>

struct phy_device;
struct notifier_block;

/*
 * Passed by the PHY driver to the notifier for every pulse its PHY
 * time-stamped. Only port and the stamp are read.
 */
struct phy_pps_event {
	u64 reserved0;
	u32 port;		/* 0 or 1; others are ignored */
	u32 reserved1;
	s64 sec;		/* PHY clock time of the pulse */
	s64 nsec;
};

/* subscribe / unsubscribe a notifier to the pulse events of this PHY */
int kxpps_register(struct phy_device *phydev, struct notifier_block *nb);
int kxpps_unregister(struct phy_device *phydev, struct notifier_block *nb);
/* set the PHY's PTP clock to ts */
int lan8841_ptp_settime64_phy(struct phy_device *phydev, const struct timespec64 *ts);
/* move the PHY's PTP clock by delta ns (positive: forward) */
int lan8841_ptp_adjtime_phy(struct phy_device *phydev, s64 delta);

#endif
