/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Extra exports of the PHY driver stub, for tests and bring-up without the
 * LAN8841 driver: pulse events on demand and a read of the simulated PTP
 * clock.
 */
#ifndef KXPPS_PHYSTUB_H
#define KXPPS_PHYSTUB_H

#include <linux/types.h>
#include <linux/time64.h>

struct phy_device;

/*
 * The PHY time-stamps a pulse that happened at system time sys_ns
 * (CLOCK_REALTIME): its notifier is called with port and the PHY clock's
 * time of that instant. -ENOENT when no notifier is registered for phydev.
 */
int kxpps_phystub_pulse(struct phy_device *phydev, u32 port, s64 sys_ns);
/* the PHY clock now; -ENOENT when the PHY is unknown to the stub */
int kxpps_phystub_gettime(struct phy_device *phydev, struct timespec64 *ts);
/* settime and adjtime calls so far for phydev */
unsigned int kxpps_phystub_settimes(struct phy_device *phydev);
unsigned int kxpps_phystub_adjtimes(struct phy_device *phydev);

#endif
