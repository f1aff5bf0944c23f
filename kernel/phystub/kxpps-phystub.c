// SPDX-License-Identifier: GPL-2.0
/*
 * Stand-in for the LAN8841 PHY driver's exports that kx_pps calls, for
 * kernels and tests without that driver.
 *
 * Each PHY known to the stub has one notifier (the pulse subscriber) and a
 * simple PTP clock: CLOCK_REALTIME plus an offset that settime and adjtime
 * move. Pulses are raised on demand with kxpps_phystub_pulse(), which
 * stamps them with that clock as the PHY's time-stamp unit would.
 *
 * Where the kernel has the PTP clock class, each PHY that gets a pulse
 * subscriber also registers its clock there, as the LAN8841 driver does:
 * /dev/ptpN reads, sets and steps the same clock (no frequency adjustment:
 * the clock runs at the system clock's rate), and its one pin, PPS_IN,
 * time-stamps the pulse as an external time-stamp event on channel 0. Such
 * clocks stay registered until the stub is unloaded.
 */
#include <linux/errno.h>
#include <linux/module.h>
#include <linux/notifier.h>
#include <linux/spinlock.h>
#include <linux/string.h>
#include <linux/timekeeping.h>

#include "../kxpps_phy.h"
#include "kxpps_phystub.h"

/* the PTP clock class (absent from the host kernel layer of the unit tests) */
#if defined(CONFIG_PTP_1588_CLOCK) || defined(CONFIG_PTP_1588_CLOCK_MODULE)
#define STUB_PTP_CLASS
#include <linux/mutex.h>
#include <linux/ptp_clock_kernel.h>
#endif

#define STUB_PHYS 4

struct stub_phy {
	struct phy_device *phydev;	/* NULL: free slot */
	struct notifier_block *nb;	/* the pulse subscriber, or NULL */
	s64 offset_ns;			/* PTP clock minus CLOCK_REALTIME */
	unsigned int settimes;
	unsigned int adjtimes;
#ifdef STUB_PTP_CLASS
	struct ptp_clock_info info;
	struct ptp_pin_desc pin;
	struct ptp_clock *clock;	/* registered clock, or NULL */
	bool extts;			/* pulse stamps go to /dev/ptpN */
#endif
};

static struct stub_phy phys[STUB_PHYS];
static DEFINE_SPINLOCK(phys_lock);

#ifdef STUB_PTP_CLASS
/* serialises registering the clocks */
static DEFINE_MUTEX(clocks_lock);

static struct stub_phy *info_phy(struct ptp_clock_info *info)
{
	return container_of(info, struct stub_phy, info);
}

static int stub_ptp_gettime(struct ptp_clock_info *info, struct timespec64 *ts)
{
	struct stub_phy *p = info_phy(info);
	unsigned long flags;

	spin_lock_irqsave(&phys_lock, flags);
	*ts = ns_to_timespec64(ktime_get_real_ns() + p->offset_ns);
	spin_unlock_irqrestore(&phys_lock, flags);
	return 0;
}

static int stub_ptp_settime(struct ptp_clock_info *info, const struct timespec64 *ts)
{
	struct stub_phy *p = info_phy(info);
	unsigned long flags;

	spin_lock_irqsave(&phys_lock, flags);
	p->offset_ns = timespec64_to_ns(ts) - ktime_get_real_ns();
	spin_unlock_irqrestore(&phys_lock, flags);
	return 0;
}

static int stub_ptp_adjtime(struct ptp_clock_info *info, s64 delta)
{
	struct stub_phy *p = info_phy(info);
	unsigned long flags;

	spin_lock_irqsave(&phys_lock, flags);
	p->offset_ns += delta;
	spin_unlock_irqrestore(&phys_lock, flags);
	return 0;
}

/* max_adj is 0: the class passes only a zero frequency offset */
static int stub_ptp_adjfine(struct ptp_clock_info *info, long scaled_ppm)
{
	return scaled_ppm ? -EOPNOTSUPP : 0;
}

static int stub_ptp_enable(struct ptp_clock_info *info, struct ptp_clock_request *rq, int on)
{
	struct stub_phy *p = info_phy(info);
	unsigned long flags;

	if (rq->type != PTP_CLK_REQ_EXTTS || rq->extts.index != 0)
		return -EOPNOTSUPP;
	/* the PHY stamps the pulse's rising edge only */
	if (on && (rq->extts.flags & PTP_FALLING_EDGE))
		return -EOPNOTSUPP;
	spin_lock_irqsave(&phys_lock, flags);
	p->extts = on;
	spin_unlock_irqrestore(&phys_lock, flags);
	return 0;
}

static int stub_ptp_verify(struct ptp_clock_info *info, unsigned int pin,
			   enum ptp_pin_function func, unsigned int chan)
{
	if (pin != 0 || chan != 0)
		return -EINVAL;
	return func == PTP_PF_NONE || func == PTP_PF_EXTTS ? 0 : -EOPNOTSUPP;
}

static const struct ptp_clock_info stub_ptp_info = {
	.owner = THIS_MODULE,
	.name = "kxpps-phystub",
	.max_adj = 0,
	.n_ext_ts = 1,
	.n_pins = 1,
	.adjfine = stub_ptp_adjfine,
	.adjtime = stub_ptp_adjtime,
	.gettime64 = stub_ptp_gettime,
	.settime64 = stub_ptp_settime,
	.enable = stub_ptp_enable,
	.verify = stub_ptp_verify,
};

/* registers p's clock once; may sleep */
static void stub_clock_add(struct stub_phy *p)
{
	struct ptp_clock *clock;
	unsigned long flags;

	mutex_lock(&clocks_lock);
	if (p->clock)
		goto out;
	p->info = stub_ptp_info;
	strscpy(p->pin.name, "PPS_IN", sizeof(p->pin.name));
	p->pin.index = 0;
	p->pin.func = PTP_PF_NONE;
	p->pin.chan = 0;
	p->info.pin_config = &p->pin;
	clock = ptp_clock_register(&p->info, NULL);
	if (IS_ERR(clock)) {
		pr_warn("kxpps-phystub: no PTP clock for a PHY (%ld)\n", PTR_ERR(clock));
		goto out;
	}
	spin_lock_irqsave(&phys_lock, flags);
	p->clock = clock;
	spin_unlock_irqrestore(&phys_lock, flags);
	pr_info("kxpps-phystub: PHY clock is ptp%d\n", ptp_clock_index(clock));
out:
	mutex_unlock(&clocks_lock);
}

/* the PHY's stamp of a pulse as an external time-stamp event; phys_lock held */
static void stub_clock_stamp(struct stub_phy *p, const struct timespec64 *ts)
{
	struct ptp_clock_event ev = {
		.type = PTP_CLOCK_EXTTS,
		.index = 0,
		.timestamp = timespec64_to_ns(ts),
	};

	if (p->clock && p->extts)
		ptp_clock_event(p->clock, &ev);
}

static void __exit stub_exit(void)
{
	struct ptp_clock *clock;
	unsigned long flags;
	int i;

	for (i = 0; i < STUB_PHYS; i++) {
		spin_lock_irqsave(&phys_lock, flags);
		clock = phys[i].clock;
		phys[i].clock = NULL;
		spin_unlock_irqrestore(&phys_lock, flags);
		if (clock)
			ptp_clock_unregister(clock);
	}
}
module_exit(stub_exit);
#else
static void stub_clock_add(struct stub_phy *p)
{
}

static void stub_clock_stamp(struct stub_phy *p, const struct timespec64 *ts)
{
}
#endif

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
	if (!ret)
		stub_clock_add(p);
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
		stub_clock_stamp(p, &ts);
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
