// SPDX-License-Identifier: GPL-2.0
/*
 * The board's timing hardware for kx-pps under qemu's arm64 "virt" machine:
 * the parts of the i.MX93 board that the timer half of kx-pps talks to
 * (TPM4 and its pulse interrupt, the DAC8571 and the VCXO it steers, the
 * two PHYs), modelled inside the guest kernel so the whole module runs on
 * a real arm64 kernel with a device tree. A test double, never loaded on
 * the board.
 *
 * - TPM4: the register window at the board's address (RAM that the device
 *   tree keeps out of the kernel's map, so both modules reach it through
 *   ioremap). The counter runs only while SC selects "count every clock";
 *   each GPS pulse advances it by one second of the modelled VCXO, latches
 *   it into C2V and sets CH2F; a counter wrap sets TOF. Flags are presented
 *   in STATUS as the module reads them: RAM cannot clear on a written 1, so
 *   every event writes STATUS whole.
 * - The pulse interrupt: the GIC SPI of the "pwm4" node, made pending from
 *   an hrtimer, so the module's handler runs as a real hard interrupt.
 *   Pulses may come faster than once a second; each one still stands for a
 *   whole second of oscillator counts.
 * - The DAC8571 on I2C adapter 1 (the adapter number comes from the "i2c1"
 *   alias) at 0x4C: its code steers the VCXO model (kx_osc.c).
 * - An MDIO bus with the two PHYs ("phy-handle" targets of the board's
 *   MACs). Each pulse is also time-stamped by both PHYs through the PHY
 *   driver stub, as the LAN8841s do on the board.
 *
 * Controlled and observed through debugfs (kx_timinghw/): oscillator offset,
 * pulse period, pulses on or off, and a per-pulse record of the count
 * produced, the DAC code in force and the oscillator's error.
 */
#include <linux/debugfs.h>
#include <linux/hrtimer.h>
#include <linux/i2c.h>
#include <linux/interrupt.h>
#include <linux/io.h>
#include <linux/irq.h>
#include <linux/irqdomain.h>
#include <linux/math64.h>
#include <linux/module.h>
#include <linux/of.h>
#include <linux/of_address.h>
#include <linux/of_irq.h>
#include <linux/of_mdio.h>
#include <linux/phy.h>
#include <linux/platform_device.h>
#include <linux/slab.h>
#include <linux/spinlock.h>
#include <linux/timekeeping.h>
#include <linux/uaccess.h>

#include "../phystub/kxpps_phystub.h"
#include "kx_osc.h"

/* TPM4 registers the module uses */
#define TPM_CNT		0x14
#define TPM_SC		0x10
#define TPM_MOD		0x18
#define TPM_STATUS	0x1C
#define TPM_C2SC	0x30
#define TPM_C2V		0x34
#define TPM_SC_CMOD_MASK	0x18
#define TPM_SC_CMOD_COUNT	0x08
#define TPM_SC_TOIE	0x40
#define TPM_CNSC_CHIE	0x40
#define TPM_CNSC_MODE_MASK 0x3C
#define TPM_CNSC_CAPTURE_RISING 0x04
#define TPM_STATUS_CH2F	0x04
#define TPM_STATUS_TOF	0x100
#define TPM_WINDOW	0x1000

/* DAC8571: control byte "load and update", then the code, MSB first */
#define DAC_ADDR	0x4C
#define DAC_CTRL_UPDATE	0x10

/* LAN8841's PHY identifier, as its ID registers give it */
#define LAN8841_ID	0x00221650

#define THW_LOG_SIZE	8192	/* pulse records kept for the reader */
#define THW_MIN_PERIOD_US 2000

struct thw_record {
	u64 pulse;		/* 1 for the first pulse the counter saw */
	u32 count;		/* cycles of the second that ended here */
	u16 dac_code;		/* the code in force during that second */
	u16 dac_writes;		/* DAC writes received during that second */
	s64 error;		/* the VCXO's fractional error then, 1e-15 */
	bool captured;		/* the pulse reached TPM4 (not a lost one) */
};

struct timinghw {
	struct device *dev;
	void __iomem *tpm;
	struct irq_domain *domain;	/* the GIC's, for the pulse SPI */
	irq_hw_number_t hwirq;
	struct hrtimer timer;
	bool capture_next;		/* the tick after a TOF: the capture */

	spinlock_t lock;		/* osc, log and counters */
	struct kx_osc osc;
	u64 pulses;
	u64 captures;			/* pulses latched by channel 2 */
	u16 dac_writes;
	u32 irqs_raised;
	struct thw_record *log;
	u64 log_head, log_tail;		/* free-running, head = next write */
	u64 log_lost;

	/* settings (debugfs) */
	u32 period_us;
	u32 pulses_on;

	struct i2c_adapter adap;
	bool adap_added;
	struct mii_bus *mii;
	struct phy_device *phy[2];
	struct dentry *dbg;
};

static u32 period_us = 25000;
module_param(period_us, uint, 0444);
MODULE_PARM_DESC(period_us, "pulse period in microseconds (each pulse is one oscillator second)");
static long offset_e15 = KX_OSC_PPM;
module_param(offset_e15, long, 0444);
MODULE_PARM_DESC(offset_e15, "VCXO free-running error at mid-scale, 1e-15");
static unsigned long long seed = 1;
module_param(seed, ullong, 0444);
MODULE_PARM_DESC(seed, "seed of the random walk");
static long walk_e15;
module_param(walk_e15, long, 0444);
MODULE_PARM_DESC(walk_e15, "random-walk step per second, 1e-15");
static long temp_e15;
module_param(temp_e15, long, 0444);
MODULE_PARM_DESC(temp_e15, "temperature drift peak, 1e-15");
static unsigned int temp_period;
module_param(temp_period, uint, 0444);
MODULE_PARM_DESC(temp_period, "temperature cycle in seconds (0: none)");
static unsigned long long edge_ns;
module_param(edge_ns, ullong, 0444);
MODULE_PARM_DESC(edge_ns, "CLOCK_MONOTONIC time of one pulse edge: the pulses keep its phase (0: first pulse one period after loading)");

/* ---- pulses -------------------------------------------------------------- */

/* make the pulse SPI pending, if a driver has it mapped at all */
static void thw_raise(struct timinghw *thw)
{
	unsigned int virq = irq_find_mapping(thw->domain, thw->hwirq);

	if (virq && !irq_set_irqchip_state(virq, IRQCHIP_STATE_PENDING, true))
		thw->irqs_raised++;
}

static void thw_log_pulse(struct timinghw *thw, u32 count, u16 code, s64 error, bool captured)
{
	struct thw_record *r;

	if (thw->log_head - thw->log_tail == THW_LOG_SIZE) {
		thw->log_tail++;
		thw->log_lost++;
	}
	r = &thw->log[thw->log_head % THW_LOG_SIZE];
	r->pulse = thw->pulses;
	r->count = count;
	r->dac_code = code;
	r->dac_writes = thw->dac_writes;
	r->error = error;
	r->captured = captured;
	thw->log_head++;
}

/* the PHYs stamp the pulse with their clocks, as the LAN8841s do */
static void thw_stamp_phys(struct timinghw *thw)
{
	s64 now = ktime_get_real_ns();
	int i;

	for (i = 0; i < 2; i++)
		kxpps_phystub_pulse(thw->phy[i], i, now);
}

/*
 * One oscillator second, ended by a GPS pulse that reaches TPM4 or (lost)
 * not. Returns true when the counter wrapped in it.
 */
static bool thw_second(struct timinghw *thw, bool captured)
{
	u16 code = thw->osc.dac_code;
	s64 error = kx_osc_error(&thw->osc);
	u32 before = thw->osc.counter;
	u32 count = kx_osc_second(&thw->osc);

	thw->pulses++;
	thw_log_pulse(thw, count, code, error, captured);
	thw->dac_writes = 0;
	writel(thw->osc.counter, thw->tpm + TPM_CNT);
	return thw->osc.counter < before;
}

/* channel 2 latches the counter on the pulse's rising edge */
static void thw_capture(struct timinghw *thw)
{
	u32 c2sc = readl(thw->tpm + TPM_C2SC);

	if ((c2sc & TPM_CNSC_MODE_MASK) != TPM_CNSC_CAPTURE_RISING)
		return;
	writel(thw->osc.counter, thw->tpm + TPM_C2V);
	writel(TPM_STATUS_CH2F, thw->tpm + TPM_STATUS);
	thw->captures++;
	if (c2sc & TPM_CNSC_CHIE)
		thw_raise(thw);
}

/*
 * The first pulse: one period from now, or, given edge_ns, the first edge
 * from now on in its phase. On the board the receiver's pulse and its
 * sentences share one clock; the test puts edge_ns on the receiver model's
 * second so that the sentences follow the pulses as they do there.
 */
static ktime_t thw_first_edge(struct timinghw *thw)
{
	u64 period = (u64)thw->period_us * NSEC_PER_USEC;
	u64 now = ktime_get_ns();

	if (!edge_ns)
		return ns_to_ktime(now + period);
	if (edge_ns > now)
		return ns_to_ktime(edge_ns - div64_u64(edge_ns - now, period) * period);
	return ns_to_ktime(edge_ns + (div64_u64(now - edge_ns, period) + 1) * period);
}

/*
 * The timer ticks once per pulse period. A second in which the counter
 * wrapped is told in two interrupts, TOF first and the capture an eighth
 * of a period later, as the overflow comes before the pulse that ends the
 * second. While the counter is stopped (SC's clock mode not "count"),
 * nothing moves.
 */
static enum hrtimer_restart thw_tick(struct hrtimer *t)
{
	struct timinghw *thw = container_of(t, struct timinghw, timer);
	u64 next = (u64)READ_ONCE(thw->period_us) * NSEC_PER_USEC;
	bool captured = false;
	unsigned long flags;
	u32 sc;

	spin_lock_irqsave(&thw->lock, flags);
	sc = readl(thw->tpm + TPM_SC);
	if (thw->capture_next) {
		thw->capture_next = false;
		thw_capture(thw);
		captured = true;
		next -= next / 8;
	} else if ((sc & TPM_SC_CMOD_MASK) == TPM_SC_CMOD_COUNT) {
		bool on = READ_ONCE(thw->pulses_on);

		if (thw_second(thw, on) && (sc & TPM_SC_TOIE)) {
			writel(TPM_STATUS_TOF, thw->tpm + TPM_STATUS);
			thw_raise(thw);
			thw->capture_next = on;
			if (on)
				next /= 8;
		} else if (on) {
			thw_capture(thw);
			captured = true;
		}
	}
	spin_unlock_irqrestore(&thw->lock, flags);
	if (captured)
		thw_stamp_phys(thw);
	hrtimer_forward_now(t, ns_to_ktime(next));
	return HRTIMER_RESTART;
}

/* ---- I2C adapter 1 with the DAC8571 ------------------------------------- */

static int thw_dac_msg(struct timinghw *thw, struct i2c_msg *m)
{
	unsigned long flags;
	u16 code;

	spin_lock_irqsave(&thw->lock, flags);
	code = thw->osc.dac_code;
	if (m->flags & I2C_M_RD) {
		/* read-back: the code, MSB first, then the control byte */
		if (m->len > 0)
			m->buf[0] = code >> 8;
		if (m->len > 1)
			m->buf[1] = code & 0xFF;
		if (m->len > 2)
			m->buf[2] = DAC_CTRL_UPDATE;
	} else if (m->len == 3 && m->buf[0] == DAC_CTRL_UPDATE) {
		kx_osc_set_dac(&thw->osc, (m->buf[1] << 8) | m->buf[2]);
		thw->dac_writes++;
	}
	spin_unlock_irqrestore(&thw->lock, flags);
	return 0;
}

static int thw_i2c_xfer(struct i2c_adapter *adap, struct i2c_msg *msgs, int num)
{
	struct timinghw *thw = i2c_get_adapdata(adap);
	int i;

	for (i = 0; i < num; i++) {
		/* only the DAC answers on this bus */
		if (msgs[i].addr != DAC_ADDR || (msgs[i].flags & I2C_M_TEN))
			return -ENXIO;
		thw_dac_msg(thw, &msgs[i]);
	}
	return num;
}

static u32 thw_i2c_func(struct i2c_adapter *adap)
{
	return I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL;
}

static const struct i2c_algorithm thw_i2c_algo = {
	.master_xfer = thw_i2c_xfer,
	.functionality = thw_i2c_func,
};

static int thw_i2c_add(struct timinghw *thw, struct device_node *np)
{
	int nr = of_alias_get_id(np, "i2c");
	int ret;

	if (nr < 0)
		return dev_err_probe(thw->dev, nr, "no i2c alias for %pOF\n", np);
	thw->adap.owner = THIS_MODULE;
	thw->adap.algo = &thw_i2c_algo;
	thw->adap.dev.parent = thw->dev;
	thw->adap.dev.of_node = np;
	thw->adap.nr = nr;
	strscpy(thw->adap.name, "kx timing hardware I2C", sizeof(thw->adap.name));
	i2c_set_adapdata(&thw->adap, thw);
	ret = i2c_add_numbered_adapter(&thw->adap);
	if (ret)
		return dev_err_probe(thw->dev, ret, "adapter %d\n", nr);
	thw->adap_added = true;
	return 0;
}

/* ---- MDIO bus with the two PHYs ----------------------------------------- */

/* the registers a PHY scan and the generic code read */
static int thw_mdio_read(struct mii_bus *bus, int addr, int reg)
{
	switch (reg) {
	case MII_BMCR:
		return BMCR_ANENABLE | BMCR_FULLDPLX | BMCR_SPEED1000;
	case MII_BMSR:
		return BMSR_LSTATUS | BMSR_ANEGCOMPLETE | BMSR_ANEGCAPABLE |
		       BMSR_ESTATEN | BMSR_100FULL | BMSR_10FULL;
	case MII_PHYSID1:
		return LAN8841_ID >> 16;
	case MII_PHYSID2:
		return LAN8841_ID & 0xFFFF;
	default:
		return 0;
	}
}

static int thw_mdio_write(struct mii_bus *bus, int addr, int reg, u16 val)
{
	return 0;
}

static void thw_put_phys(struct timinghw *thw)
{
	int i;

	for (i = 0; i < 2; i++) {
		if (thw->phy[i])
			put_device(&thw->phy[i]->mdio.dev);
		thw->phy[i] = NULL;
	}
}

static int thw_mdio_add(struct timinghw *thw, struct device_node *np)
{
	struct device_node *child;
	int ret, i = 0;

	thw->mii = mdiobus_alloc();
	if (!thw->mii)
		return -ENOMEM;
	thw->mii->name = "kx timing hardware MDIO";
	thw->mii->read = thw_mdio_read;
	thw->mii->write = thw_mdio_write;
	thw->mii->parent = thw->dev;
	snprintf(thw->mii->id, MII_BUS_ID_SIZE, "kx-timinghw-mdio");
	ret = of_mdiobus_register(thw->mii, np);
	if (ret) {
		mdiobus_free(thw->mii);
		thw->mii = NULL;
		return dev_err_probe(thw->dev, ret, "MDIO bus\n");
	}
	/* the PHYs in node order: port 0, port 1 */
	for_each_available_child_of_node(np, child) {
		if (i < 2)
			thw->phy[i++] = of_phy_find_device(child);
	}
	return 0;
}

static void thw_mdio_remove(struct timinghw *thw)
{
	thw_put_phys(thw);
	if (thw->mii) {
		mdiobus_unregister(thw->mii);
		mdiobus_free(thw->mii);
		thw->mii = NULL;
	}
}

/* ---- the timer window and its interrupt -------------------------------- */

static int thw_timer_map(struct timinghw *thw, struct device_node *np)
{
	struct resource res;
	unsigned int virq;
	int ret;

	ret = of_address_to_resource(np, 0, &res);
	if (ret)
		return dev_err_probe(thw->dev, ret, "%pOF: no reg\n", np);
	thw->tpm = ioremap(res.start, TPM_WINDOW);
	if (!thw->tpm)
		return -ENOMEM;
	/* the GIC's domain and the SPI's number, looked up again per pulse */
	virq = irq_of_parse_and_map(np, 0);
	if (!virq) {
		iounmap(thw->tpm);
		return dev_err_probe(thw->dev, -EINVAL, "%pOF: no interrupt\n", np);
	}
	thw->domain = irq_get_irq_data(virq)->domain;
	thw->hwirq = irqd_to_hwirq(irq_get_irq_data(virq));
	return 0;
}

/* reset state of the block: stopped, nothing pending, full-range modulus */
static void thw_timer_reset(struct timinghw *thw)
{
	static const u32 zeroed[] = { TPM_SC, TPM_CNT, TPM_STATUS, TPM_C2SC, TPM_C2V };
	unsigned int i;

	for (i = 0; i < ARRAY_SIZE(zeroed); i++)
		writel(0, thw->tpm + zeroed[i]);
	writel(0xFFFFFFFF, thw->tpm + TPM_MOD);
}

/* ---- debugfs --------------------------------------------------------------- */

static int thw_offset_get(void *data, u64 *val)
{
	struct timinghw *thw = data;
	unsigned long flags;

	spin_lock_irqsave(&thw->lock, flags);
	*val = (u64)thw->osc.offset;
	spin_unlock_irqrestore(&thw->lock, flags);
	return 0;
}

static int thw_offset_set(void *data, u64 val)
{
	struct timinghw *thw = data;
	unsigned long flags;

	spin_lock_irqsave(&thw->lock, flags);
	thw->osc.offset = (s64)val;
	spin_unlock_irqrestore(&thw->lock, flags);
	return 0;
}
DEFINE_DEBUGFS_ATTRIBUTE_SIGNED(thw_offset_fops, thw_offset_get, thw_offset_set, "%lld\n");

static int thw_dac_get(void *data, u64 *val)
{
	struct timinghw *thw = data;

	*val = READ_ONCE(thw->osc.dac_code);
	return 0;
}
DEFINE_DEBUGFS_ATTRIBUTE(thw_dac_fops, thw_dac_get, NULL, "%llu\n");

static int thw_period_set(void *data, u64 val)
{
	struct timinghw *thw = data;

	if (val < THW_MIN_PERIOD_US || val > USEC_PER_SEC * 10ULL)
		return -EINVAL;
	WRITE_ONCE(thw->period_us, val);
	return 0;
}

static int thw_period_get(void *data, u64 *val)
{
	*val = READ_ONCE(((struct timinghw *)data)->period_us);
	return 0;
}
DEFINE_DEBUGFS_ATTRIBUTE(thw_period_fops, thw_period_get, thw_period_set, "%llu\n");

/*
 * Pulse records, oldest first, one line each: "pulse count dac_code
 * dac_writes error captured" (count: cycles of that second; dac_writes:
 * DAC writes received during it). Reading consumes them.
 */
static ssize_t thw_pulses_read(struct file *f, char __user *ubuf, size_t len, loff_t *ppos)
{
	struct timinghw *thw = f->private_data;
	char line[96];
	size_t done = 0;

	while (done < len) {
		struct thw_record r;
		unsigned long flags;
		int n;

		spin_lock_irqsave(&thw->lock, flags);
		if (thw->log_tail == thw->log_head) {
			spin_unlock_irqrestore(&thw->lock, flags);
			break;
		}
		r = thw->log[thw->log_tail % THW_LOG_SIZE];
		spin_unlock_irqrestore(&thw->lock, flags);
		n = scnprintf(line, sizeof(line), "%llu %u %u %u %lld %d\n", r.pulse,
			      r.count, r.dac_code, r.dac_writes, r.error, r.captured);
		if (n > len - done)
			break;
		if (copy_to_user(ubuf + done, line, n))
			return done ? done : -EFAULT;
		done += n;
		spin_lock_irqsave(&thw->lock, flags);
		thw->log_tail++;
		spin_unlock_irqrestore(&thw->lock, flags);
	}
	return done;
}

static const struct file_operations thw_pulses_fops = {
	.owner = THIS_MODULE,
	.open = simple_open,
	.read = thw_pulses_read,
	.llseek = noop_llseek,
};

static void thw_debugfs(struct timinghw *thw)
{
	thw->dbg = debugfs_create_dir("kx_timinghw", NULL);
	debugfs_create_file("offset", 0600, thw->dbg, thw, &thw_offset_fops);
	debugfs_create_file("dac_code", 0400, thw->dbg, thw, &thw_dac_fops);
	debugfs_create_file("period_us", 0600, thw->dbg, thw, &thw_period_fops);
	debugfs_create_u32("pulses_on", 0600, thw->dbg, &thw->pulses_on);
	debugfs_create_u64("pulse_count", 0400, thw->dbg, &thw->pulses);
	debugfs_create_u64("captures", 0400, thw->dbg, &thw->captures);
	debugfs_create_u32("irqs_raised", 0400, thw->dbg, &thw->irqs_raised);
	debugfs_create_u64("log_lost", 0400, thw->dbg, &thw->log_lost);
	debugfs_create_file("pulses", 0400, thw->dbg, thw, &thw_pulses_fops);
}

/* ---- the timing hardware's device ----------------------------------------- */

static int thw_parts(struct timinghw *thw, struct device_node *np)
{
	struct device_node *timer, *bus;
	int ret;

	timer = of_parse_phandle(np, "timer", 0);
	if (!timer)
		return dev_err_probe(thw->dev, -ENODEV, "no timer phandle\n");
	ret = thw_timer_map(thw, timer);
	of_node_put(timer);
	if (ret)
		return ret;

	bus = of_get_child_by_name(np, "i2c");
	ret = bus ? thw_i2c_add(thw, bus) : -ENODEV;
	of_node_put(bus);
	if (ret)
		goto unmap;

	bus = of_get_child_by_name(np, "mdio");
	ret = bus ? thw_mdio_add(thw, bus) : -ENODEV;
	of_node_put(bus);
	if (ret)
		goto del_adapter;
	if (!thw->phy[0] || !thw->phy[1]) {
		ret = dev_err_probe(thw->dev, -ENODEV, "two PHYs wanted\n");
		goto del_mdio;
	}
	return 0;

del_mdio:
	thw_mdio_remove(thw);
del_adapter:
	i2c_del_adapter(&thw->adap);
	thw->adap_added = false;
unmap:
	iounmap(thw->tpm);
	return ret;
}

static int thw_probe(struct platform_device *pdev)
{
	struct timinghw *thw;
	int ret;

	thw = devm_kzalloc(&pdev->dev, sizeof(*thw), GFP_KERNEL);
	if (!thw)
		return -ENOMEM;
	thw->log = devm_kcalloc(&pdev->dev, THW_LOG_SIZE, sizeof(*thw->log), GFP_KERNEL);
	if (!thw->log)
		return -ENOMEM;
	thw->dev = &pdev->dev;
	spin_lock_init(&thw->lock);
	kx_osc_init(&thw->osc, offset_e15, seed);
	thw->osc.walk_step = walk_e15;
	thw->osc.temp_amp = temp_e15;
	thw->osc.temp_period = temp_period;
	thw->period_us = max_t(u32, period_us, THW_MIN_PERIOD_US);
	thw->pulses_on = 1;

	ret = thw_parts(thw, pdev->dev.of_node);
	if (ret)
		return ret;
	thw_timer_reset(thw);
	platform_set_drvdata(pdev, thw);
	thw_debugfs(thw);

	hrtimer_init(&thw->timer, CLOCK_MONOTONIC, HRTIMER_MODE_ABS_HARD);
	thw->timer.function = thw_tick;
	hrtimer_start(&thw->timer, thw_first_edge(thw), HRTIMER_MODE_ABS_HARD);
	dev_info(thw->dev, "VCXO offset %ld e-15, pulse every %u us, DAC on i2c-%d\n",
		 offset_e15, thw->period_us, thw->adap.nr);
	return 0;
}

static void thw_remove(struct platform_device *pdev)
{
	struct timinghw *thw = platform_get_drvdata(pdev);

	hrtimer_cancel(&thw->timer);
	debugfs_remove_recursive(thw->dbg);
	thw_mdio_remove(thw);
	if (thw->adap_added)
		i2c_del_adapter(&thw->adap);
	iounmap(thw->tpm);
}

static const struct of_device_id thw_of_match[] = {
	{ .compatible = "kx,qemu-timing-hw" },
	{ }
};
MODULE_DEVICE_TABLE(of, thw_of_match);

static struct platform_driver thw_driver = {
	.probe = thw_probe,
	.remove = thw_remove,
	.driver = {
		.name = "kx-timinghw",
		.of_match_table = thw_of_match,
	},
};

/*
 * The PHYs' driver: the LAN8841 stand-in binds them by their ID as the
 * LAN8841 driver does on the board (generic register handling only; the
 * PTP side is the PHY stub's).
 */
static struct phy_driver thw_phy_drivers[] = {
	{
		PHY_ID_MATCH_MODEL(LAN8841_ID),
		.name = "LAN8841 stand-in (kx timing hardware)",
	},
};

static int __init thw_init(void)
{
	int ret = phy_drivers_register(thw_phy_drivers, ARRAY_SIZE(thw_phy_drivers), THIS_MODULE);

	if (ret)
		return ret;
	ret = platform_driver_register(&thw_driver);
	if (ret)
		phy_drivers_unregister(thw_phy_drivers, ARRAY_SIZE(thw_phy_drivers));
	return ret;
}

static void __exit thw_exit(void)
{
	platform_driver_unregister(&thw_driver);
	phy_drivers_unregister(thw_phy_drivers, ARRAY_SIZE(thw_phy_drivers));
}

module_init(thw_init);
module_exit(thw_exit);

MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("The i.MX93 board's timing hardware for kx-pps under qemu (test double)");
