// SPDX-License-Identifier: GPL-2.0
/*
 * kx_pps: PHY clock alignment and system-time setting.
 *
 * Both LAN8841 PHYs time-stamp the GPS pulse with their PTP clocks. The
 * PHY driver hands every stamp to kxpps_cb(), which keeps only the latest
 * one per port and wakes the port's thread ("pps0-adj", "pps1-adj"). The
 * thread compares the stamp with the GPS time of that pulse (plus the TAI
 * offset) and steps the PHY clock by the difference. A single outlier is
 * ignored; five in a row are taken as a real step and followed.
 *
 * The Linux system clock is kept within 50 ms of GPS time by
 * gps_time_workfn(), queued by the pulse interrupt once per decoded second.
 */
#include <linux/kernel.h>
#include <linux/kfifo.h>
#include <linux/kthread.h>
#include <linux/notifier.h>
#include <linux/overflow.h>
#include <linux/rcupdate.h>
#include <linux/sched.h>
#include <linux/timekeeping.h>
#include <linux/wait.h>

#include "kx_pps.h"

/* a PHY stamp within this many ns of GPS time is in range */
#define PHY_ALIGN_LIMIT_NS 1500
/* out-of-range deltas ignored in a row before they are followed */
#define PHY_OOR_TOLERATED 4
/* the system clock is stepped beyond this offset from GPS time */
#define SYS_CLOCK_LIMIT_NS 50000000LL

s32 tai_offset_value = 37;
s32 gDelta_eth0;
s32 gDelta_eth1;

/* manual set requested, per port (set by the attribute, cleared by the thread) */
static u8 bManualTimeSet[2];
/* consecutive out-of-range deltas, per port; only its thread touches it */
static s32 oorKount[2];
/* consecutive large system-clock offsets; only gps_time_workfn touches it */
static s32 setKount;

/*
 * Where each port's PHY clock is set relative to the system clock on a
 * manual set: the time the set takes to reach that PHY's clock.
 */
static const long manual_port_offset_ns[2] = { 3300000, 1000000 };

DECLARE_WORK(gps_time_work, gps_time_workfn);

/* one PHY stamp of a pulse as kept in ts_fifo */
struct phy_stamp {
	s64 sec;
	s64 nsec;
};

/* wake the port thread unless an event is already waiting for it */
static void pps_phy_kick(struct phy_info *pi)
{
	if (atomic_xchg(&pi->adj_pending, 1) == 0)
		wake_up_interruptible(&pi->adj_wq);
}

/* keep the pulse's stamp for the port thread and wake it */
static void pps_phy_stamp(struct phy_info *pi, const struct phy_pps_event *ev)
{
	struct phy_stamp st = { .sec = ev->sec, .nsec = ev->nsec };
	unsigned long flags;

	/* only the latest stamp counts: an unconsumed one is replaced */
	spin_lock_irqsave(&pi->ts_lock, flags);
	kfifo_reset(&pi->ts_fifo);
	kfifo_in(&pi->ts_fifo, &st, sizeof(st));
	spin_unlock_irqrestore(&pi->ts_lock, flags);

	pps_phy_kick(pi);
}

/* the record is held only inside the read-side section (remove waits for it) */
int kxpps_cb(struct notifier_block *nb, unsigned long action, void *data)
{
	const struct phy_pps_event *ev = data;
	struct pps_priv *pps;
	int ret = NOTIFY_DONE;

	if (!ev || ev->port > 1)
		return NOTIFY_DONE;
	rcu_read_lock();
	pps = rcu_dereference(g_pps);
	if (pps) {
		pps_phy_stamp(&pps->phy_i[ev->port], ev);
		ret = NOTIFY_OK;
	}
	rcu_read_unlock();
	return ret;
}

struct notifier_block kxpps_nb = {
	.notifier_call = kxpps_cb,
	.priority = 0,
};

void pps_phy_manual_request(struct phy_info *pi)
{
	unsigned long flags;

	xchg(&bManualTimeSet[pi->port], 1);
	/* a stamp taken before the set would undo it */
	spin_lock_irqsave(&pi->ts_lock, flags);
	kfifo_reset(&pi->ts_fifo);
	spin_unlock_irqrestore(&pi->ts_lock, flags);
	pps_phy_kick(pi);
}

/* set the port's PHY clock to TAI from the system clock */
static void pps_phy_manual_set(struct phy_info *pi)
{
	struct timespec64 ts;

	ktime_get_real_ts64(&ts);
	ts.tv_sec += READ_ONCE(tai_offset_value);
	ts.tv_nsec += manual_port_offset_ns[pi->port];
	if (ts.tv_nsec > 999999999) {
		ts.tv_sec++;
		ts.tv_nsec -= NSEC_PER_SEC;
	}
	lan8841_ptp_settime64_phy(pi->phydev, &ts);
}

/*
 * GPS minus PHY time in ns. A PHY clock that is off by more than the s64
 * range of nanoseconds (about 292 years, i.e. never set) gives the largest
 * step that can be expressed rather than a wrapped one.
 */
static s64 pps_phy_delta(s64 gps_sec, u32 gps_nsec, const struct phy_stamp *st)
{
	const s64 lim = S64_MAX / NSEC_PER_SEC - 10;
	s64 dsec, dnsec;

	if (check_sub_overflow(gps_sec, st->sec, &dsec))
		dsec = gps_sec < 0 ? -lim : lim;
	dsec = clamp_t(s64, dsec, -lim, lim);
	/* a sane stamp has 0..999,999,999 ns */
	dnsec = (s64)gps_nsec - clamp_t(s64, st->nsec, -2 * NSEC_PER_SEC, 2 * NSEC_PER_SEC);
	return dsec * NSEC_PER_SEC + dnsec;
}

/* one pass of the port thread after a wake-up */
static void pps_adjust_once(struct phy_info *pi)
{
	int port = pi->port;
	struct pps_uart_time rec;
	struct phy_stamp st;
	unsigned long flags;
	unsigned int got;
	s64 gps_sec, delta;

	if (xchg(&bManualTimeSet[port], 0)) {
		pps_phy_manual_set(pi);
		return;
	}

	spin_lock_irqsave(&pi->ts_lock, flags);
	got = kfifo_out(&pi->ts_fifo, &st, sizeof(st));
	spin_unlock_irqrestore(&pi->ts_lock, flags);
	if (got != sizeof(st))
		return;

	/* the GPS second of this pulse; without one, or without fix, drop it */
	if (pps_uart_get_time_nowait(&rec, port))
		return;
	if (!rec.fix)
		return;

	gps_sec = rec.gps_sec + READ_ONCE(tai_offset_value);
	delta = pps_phy_delta(gps_sec, rec.gps_nsec, &st);
	/* the corrections are crossed: port 0 takes eth1's, port 1 eth0's */
	delta += port == 0 ? READ_ONCE(gDelta_eth1) : READ_ONCE(gDelta_eth0);

	if (delta > PHY_ALIGN_LIMIT_NS || delta < -PHY_ALIGN_LIMIT_NS) {
		if (oorKount[port] < S32_MAX)
			oorKount[port]++;
		pr_alert("[%d]gps=%lld.%9lld phc=%lld.%9lld delta=%lld kount=%d",
			 port, gps_sec, (long long)rec.gps_nsec, st.sec, st.nsec,
			 delta, oorKount[port]);
		if (oorKount[port] <= PHY_OOR_TOLERATED)
			return;
	} else {
		oorKount[port] = 0;
	}
	lan8841_ptp_adjtime_phy(pi->phydev, delta);
	WRITE_ONCE(pi->last_delta, delta);
}

int pps_adjust_thread(void *data)
{
	struct phy_info *pi = data;

	while (!kthread_should_stop()) {
		/* a signal ends the sleep; the loop looks at the stop request again */
		if (wait_event_interruptible(pi->adj_wq,
					     atomic_xchg(&pi->adj_pending, 0) == 1 ||
					     kthread_should_stop()))
			continue;
		if (kthread_should_stop())
			break;
		pps_adjust_once(pi);
	}
	return 0;
}

void gps_time_workfn(struct work_struct *work)
{
	struct timespec64 gps, pulse, now, target;
	unsigned long flags;
	s64 now_ns, target_ns, offset;

	/*
	 * The label handed off with the pulse, not gGPSTime: by now the next
	 * ZDA may have moved that on to the following second.
	 */
	spin_lock_irqsave(&gGPSTime.lock, flags);
	gps = irq_gps_ts;
	pulse = irq_ts;
	spin_unlock_irqrestore(&gGPSTime.lock, flags);

	ktime_get_real_ts64(&now);
	now_ns = timespec64_to_ns(&now);
	/* the pulse's GPS time carried forward by the time since the pulse */
	target_ns = timespec64_to_ns(&gps) + (now_ns - timespec64_to_ns(&pulse));
	offset = now_ns - target_ns;

	if (offset <= SYS_CLOCK_LIMIT_NS && offset >= -SYS_CLOCK_LIMIT_NS) {
		setKount = 0;
		return;
	}
	if (setKount < S32_MAX)
		setKount++;
	/* a single large offset may be a glitch; step from the second one on */
	if (setKount > 1) {
		/* normalised: the clock refuses nanoseconds beyond a second */
		target = ns_to_timespec64(target_ns);
		do_settimeofday64(&target);
		pr_alert("Set Linux system clock from GPS. RTC Offset=%lld", offset);
	}
}
