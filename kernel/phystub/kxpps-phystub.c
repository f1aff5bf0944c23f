// SPDX-License-Identifier: GPL-2.0
/*
 * Stand-in for the LAN8841 PHY driver's exports that kx_pps calls, for
 * kernels and tests without that driver.
 *
 * Each PHY known to the stub has one notifier (the pulse subscriber) and a
 * simple PTP clock: CLOCK_REALTIME plus an offset that settime and adjtime
 * move. Pulses are raised on demand with kxpps_phystub_pulse(), which
 * stamps them with that clock as the PHY's time-stamp unit would.
 */
#include <linux/errno.h>
#include <linux/module.h>
#include <linux/notifier.h>
#include <linux/spinlock.h>
#include <linux/string.h>
#include <linux/timekeeping.h>

#include "../kxpps_phy.h"
#include "kxpps_phystub.h"

#define STUB_PHYS 4

struct stub_phy {
	struct phy_device *phydev;	/* NULL: free slot */
	struct notifier_block *nb;	/* the pulse subscriber, or NULL */
	s64 offset_ns;			/* PTP clock minus CLOCK_REALTIME */
	unsigned int settimes;
	unsigned int adjtimes;
};

static struct stub_phy phys[STUB_PHYS];
static DEFINE_SPINLOCK(phys_lock);

/* the slot of phydev, made when create is set; phys_lock held */
static struct stub_phy *stub_find(struct phy_device *phydev, bool create)
{
	struct stub_phy *free_slot = NULL;
	int i;

	for (i = 0; i < STUB_PHYS; i++) {
		if (phys[i].phydev == phydev)
			return &phys[i];
		if (!phys[i].phydev && !free_slot)
			free_slot = &phys[i];
	}
	if (!create || !free_slot)
		return NULL;
	memset(free_slot, 0, sizeof(*free_slot));
	free_slot->phydev = phydev;
	return free_slot;
}

int kxpps_register(struct phy_device *phydev, struct notifier_block *nb)
{
	struct stub_phy *p;
	unsigned long flags;
	int ret = 0;

	if (!phydev || !nb)
		return -EINVAL;
	spin_lock_irqsave(&phys_lock, flags);
	p = stub_find(phydev, true);
	if (!p)
		ret = -ENOSPC;
	else if (p->nb)
		ret = -EBUSY;
	else
		p->nb = nb;
	spin_unlock_irqrestore(&phys_lock, flags);
	return ret;
}
EXPORT_SYMBOL_GPL(kxpps_register);

int kxpps_unregister(struct phy_device *phydev, struct notifier_block *nb)
{
	struct stub_phy *p;
	unsigned long flags;
	int ret = -ENOENT;

	spin_lock_irqsave(&phys_lock, flags);
	p = stub_find(phydev, false);
	if (p && p->nb == nb) {
		/* the clock stays: the PHY keeps its time without a subscriber */
		p->nb = NULL;
		ret = 0;
	}
	spin_unlock_irqrestore(&phys_lock, flags);
	return ret;
}
EXPORT_SYMBOL_GPL(kxpps_unregister);

int lan8841_ptp_settime64_phy(struct phy_device *phydev, const struct timespec64 *ts)
{
	struct stub_phy *p;
	unsigned long flags;
	int ret = -ENOSPC;

	spin_lock_irqsave(&phys_lock, flags);
	p = stub_find(phydev, true);
	if (p) {
		p->offset_ns = timespec64_to_ns(ts) - ktime_get_real_ns();
		p->settimes++;
		ret = 0;
	}
	spin_unlock_irqrestore(&phys_lock, flags);
	return ret;
}
EXPORT_SYMBOL_GPL(lan8841_ptp_settime64_phy);

int lan8841_ptp_adjtime_phy(struct phy_device *phydev, s64 delta)
{
	struct stub_phy *p;
	unsigned long flags;
	int ret = -ENOSPC;

	spin_lock_irqsave(&phys_lock, flags);
	p = stub_find(phydev, true);
	if (p) {
		p->offset_ns += delta;
		p->adjtimes++;
		ret = 0;
	}
	spin_unlock_irqrestore(&phys_lock, flags);
	return ret;
}
EXPORT_SYMBOL_GPL(lan8841_ptp_adjtime_phy);

int kxpps_phystub_pulse(struct phy_device *phydev, u32 port, s64 sys_ns)
{
	struct phy_pps_event ev = { .port = port };
	struct timespec64 ts;
	struct stub_phy *p;
	unsigned long flags;
	int ret = -ENOENT;

	/* the subscriber is called under the lock: unregistering waits for it */
	spin_lock_irqsave(&phys_lock, flags);
	p = stub_find(phydev, false);
	if (p && p->nb) {
		ts = ns_to_timespec64(sys_ns + p->offset_ns);
		ev.sec = ts.tv_sec;
		ev.nsec = ts.tv_nsec;
		p->nb->notifier_call(p->nb, 0, &ev);
		ret = 0;
	}
	spin_unlock_irqrestore(&phys_lock, flags);
	return ret;
}
EXPORT_SYMBOL_GPL(kxpps_phystub_pulse);

int kxpps_phystub_gettime(struct phy_device *phydev, struct timespec64 *ts)
{
	struct stub_phy *p;
	unsigned long flags;
	int ret = -ENOENT;

	spin_lock_irqsave(&phys_lock, flags);
	p = stub_find(phydev, false);
	if (p) {
		*ts = ns_to_timespec64(ktime_get_real_ns() + p->offset_ns);
		ret = 0;
	}
	spin_unlock_irqrestore(&phys_lock, flags);
	return ret;
}
EXPORT_SYMBOL_GPL(kxpps_phystub_gettime);

static unsigned int stub_count(struct phy_device *phydev, bool adj)
{
	struct stub_phy *p;
	unsigned long flags;
	unsigned int n = 0;

	spin_lock_irqsave(&phys_lock, flags);
	p = stub_find(phydev, false);
	if (p)
		n = adj ? p->adjtimes : p->settimes;
	spin_unlock_irqrestore(&phys_lock, flags);
	return n;
}

unsigned int kxpps_phystub_settimes(struct phy_device *phydev)
{
	return stub_count(phydev, false);
}
EXPORT_SYMBOL_GPL(kxpps_phystub_settimes);

unsigned int kxpps_phystub_adjtimes(struct phy_device *phydev)
{
	return stub_count(phydev, true);
}
EXPORT_SYMBOL_GPL(kxpps_phystub_adjtimes);

MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("Stub of the LAN8841 PHY driver exports used by kx-pps");
