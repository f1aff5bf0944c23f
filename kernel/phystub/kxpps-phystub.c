// SPDX-License-Identifier: GPL-2.0
/*
 * Stand-in for the LAN8841 PHY driver's exports that kx_pps calls, for
 * kernels and tests without that driver: notifiers are kept per PHY (and
 * never called, there being no PHY to stamp pulses), clock calls succeed.
 */
#include <linux/module.h>
#include <linux/notifier.h>
#include <linux/spinlock.h>

#include "../kxpps_phy.h"

#define STUB_SLOTS 4

static struct {
	struct phy_device *phydev;
	struct notifier_block *nb;
} slots[STUB_SLOTS];
static DEFINE_SPINLOCK(slots_lock);

int kxpps_register(struct phy_device *phydev, struct notifier_block *nb)
{
	unsigned long flags;
	int i, ret = -ENOSPC;

	spin_lock_irqsave(&slots_lock, flags);
	for (i = 0; i < STUB_SLOTS; i++) {
		if (!slots[i].nb) {
			slots[i].phydev = phydev;
			slots[i].nb = nb;
			ret = 0;
			break;
		}
	}
	spin_unlock_irqrestore(&slots_lock, flags);
	return ret;
}
EXPORT_SYMBOL_GPL(kxpps_register);

int kxpps_unregister(struct phy_device *phydev, struct notifier_block *nb)
{
	unsigned long flags;
	int i, ret = -ENOENT;

	spin_lock_irqsave(&slots_lock, flags);
	for (i = 0; i < STUB_SLOTS; i++) {
		if (slots[i].phydev == phydev && slots[i].nb == nb) {
			slots[i].phydev = NULL;
			slots[i].nb = NULL;
			ret = 0;
			break;
		}
	}
	spin_unlock_irqrestore(&slots_lock, flags);
	return ret;
}
EXPORT_SYMBOL_GPL(kxpps_unregister);

int lan8841_ptp_settime64_phy(struct phy_device *phydev, const struct timespec64 *ts)
{
	pr_debug("kxpps-phystub: settime %lld.%09ld\n", (long long)ts->tv_sec, ts->tv_nsec);
	return 0;
}
EXPORT_SYMBOL_GPL(lan8841_ptp_settime64_phy);

int lan8841_ptp_adjtime_phy(struct phy_device *phydev, s64 delta)
{
	pr_debug("kxpps-phystub: adjtime %lld\n", (long long)delta);
	return 0;
}
EXPORT_SYMBOL_GPL(lan8841_ptp_adjtime_phy);

MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("Stub of the LAN8841 PHY driver exports used by kx-pps");
