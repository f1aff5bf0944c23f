// SPDX-License-Identifier: GPL-2.0
/* Module load and unload, probe and remove of the timer device, on the whole board. */
#include <stdlib.h>
#include <string.h>

#include <linux/notifier.h>

#include "kx_board.h"
#include "kx_fixture.h"
#include "kx_serial.h"
#include "ktest.h"
#include "phystub/kxpps_phystub.h"

#define N0 25000000U
#define ARRAY_SIZE(a) (sizeof(a) / sizeof((a)[0]))

static int maps_of(phys_addr_t phys)
{
	struct kxh_io_block *b = kxh_io_find(phys);

	return b ? b->mapped : 0;
}

static int dev_refs(void)
{
	int i, n = 0;

	for (i = 0; i < 2; i++) {
		n += kb.phy[i] ? kb.phy[i]->mdio.dev.kxh_refs : 0;
		n += kb.mac[i] ? kb.mac[i]->dev.kxh_refs : 0;
	}
	return n;
}

/* what the module can leave behind, counted by the host layer */
#define LEFTOVERS(X) \
	X(slab, kxh_slab_live()) X(kobjects, kxh_kobjects()) \
	X(irqs, kxh_irqs_requested()) X(mappings, kxh_irq_mappings()) \
	X(clients, kxh_i2c_clients()) X(drivers, kxh_platform_drivers()) \
	X(sources, kxh_pps_sources()) X(kthreads, kxh_kthreads()) \
	X(wqs, kxh_wq_count()) X(classes, kxh_class_count()) \
	X(regions, kxh_chrdev_regions()) X(cdevs, kxh_cdev_count()) \
	X(system_work, kxh_wq_pending(system_wq)) X(node_refs, kxh_of_refs()) \
	X(adapter_refs, kxh_i2c_adapter_refs(DAC_I2C_ADAPTER)) X(dev_refs, dev_refs()) \
	X(tpm4_maps, maps_of(TPM4_PHYS)) X(ccm_maps, maps_of(CCM_PHYS)) \
	X(iomuxc_maps, maps_of(IOMUXC_PHYS)) X(gpio2_maps, maps_of(GPIO2_PHYS)) \
	X(led_requested, kb.led && kxh_gpio_requested(kb.led))

#define LEFTOVER_FIELD(name, count) long long name;
struct leftovers {
	LEFTOVERS(LEFTOVER_FIELD)
};

static struct leftovers snapshot(void)
{
#define LEFTOVER_COUNT(name, count) .name = (count),
	return (struct leftovers){ LEFTOVERS(LEFTOVER_COUNT) };
}

/* nothing more and nothing less than at `then` */
static void same_left(const struct leftovers *then)
{
	struct leftovers now = snapshot();

#define LEFTOVER_SAME(name, count) KT_EQ(now.name, then->name);
	LEFTOVERS(LEFTOVER_SAME)
}

static void in_order(const char *const *texts, unsigned int n)
{
	int prev = -1;
	unsigned int i;

	for (i = 0; i < n; i++) {
		int at = kb_log_index(texts[i]);

		if (at <= prev)
			ktest_fail(__FILE__, __LINE__, "\"%s\" at %d, after %d", texts[i], at, prev);
		prev = at;
	}
}

static u32 tpm4(u32 off)
{
	return kxh_io_peek(kb.tpm4, off);
}

/* ---- load ---------------------------------------------------------------- */

KTEST(load_logs_every_step_in_order)
{
	static const char *const want[] = {
		"pps:  Starting pps_probe\n",
		"pps: pps-led GPIO acquired\n",
		"pps ppstimer: pps: registered LinuxPPS source\n",
		"PPS says hello!\n",
		"ppsdac: got i2c adapter 1!\n",
		"Initial write to DAC\n",
		"tpm4 clk root is: 300\n",
		"Found device tree node pwm4\n",
		"register SW_PAD_CTL_PAD_GPIO_IO10 is: 51E\n",
		"register SW_MUX_CTL_PAD_PDM_BIT_STREAM1 is: 1\n",
		"DAISY register CCMSRCGPCMIX_EXT1_CLK is: 2\n",
		"register SC is: 48\n",
		"register CONF is: 0\n",
		"register C0SC is: 0\n",
		"register MOD: FFFFFFFF\n",
		"register gpio2 PDDR is: 400\n",
		"register SW_PAD_CTL_PAD_GPIO_IO01 is: 31E\n",
		"register SW_MUX_CTL_PAD_GPIO_IO01 is: 5\n",
	};
	struct kxh_io_block *iomuxc = kxh_io_install(IOMUXC_PHYS, 4096, NULL);
	struct kxh_io_block *gpio2 = kxh_io_install(GPIO2_PHYS, 4096, NULL);
	unsigned int i;

	kxh_io_poke(iomuxc, 0x1E8, 0x51E);
	kxh_io_poke(iomuxc, 0x198, 1);
	kxh_io_poke(iomuxc, 0x368, 2);
	kxh_io_poke(iomuxc, 0x1C4, 0x31E);
	kxh_io_poke(iomuxc, 0x14, 5);
	kxh_io_poke(gpio2, 0x54, 0x400);
	kb_load(0);
	for (i = 0; i < ARRAY_SIZE(want); i++) {
		KT_STREQ(kxh_log_get(i)->text, want[i]);
		KT_EQ(kxh_log_get(i)->level, 6);
	}
	KT_EQ(kxh_log_count_sub(3, ""), 0);
	KT_EQ(kxh_log_count_sub(1, ""), 0);
	/* the serial half comes last */
	KT_TRUE(kb_log_index("pps-uart: Initialized successfully\n") > (int)ARRAY_SIZE(want) - 1);
}

KTEST(load_programs_the_timer_and_its_clock)
{
	static const struct { u32 off, value; } seq[] = {
		{ 0x10, 0 }, { 0x84, 0 }, { 0x30, 0 }, { 0x30, 0x4 },
		{ 0x18, 0xFFFFFFFF }, { 0x30, 0x44 }, { 0x10, 0x40 }, { 0x10, 0x48 },
	};
	struct kxh_io_block *ccm;
	unsigned int i;

	kb_load(0);
	ccm = kxh_io_find(CCM_PHYS);
	KT_EQ(ccm->nwrites, 1);
	KT_EQ(ccm->writes[0].off, 0x980);
	KT_EQ(ccm->writes[0].value, 0x300);
	KT_EQ(kb.tpm4->nwrites, ARRAY_SIZE(seq));
	for (i = 0; i < ARRAY_SIZE(seq); i++) {
		KT_EQ(kb.tpm4->writes[i].off, seq[i].off);
		KT_EQ(kb.tpm4->writes[i].value, seq[i].value);
	}
	/* the mid-scale DAC code before anything else on the bus */
	KT_EQ(fx_dac_writes(), 1);
	KT_EQ(fx_dac_code(0), 0x8000);
	KT_EQ(kxh_i2c_get(0)->data[0], 0x10);
	/* the interrupt: hard handler, timer flags, no cookie */
	KT_EQ(pps_irq, 100 + KB_PWM4_HWIRQ);
	KT_STREQ(kxh_irq_name(pps_irq), "ppstimercapture");
	KT_EQ(kxh_irq_flags(pps_irq), IRQF_TIMER);
	KT_TRUE(kxh_irq_cookie(pps_irq) == NULL);
	/* the nineteen files and the integrity guard's six */
	KT_EQ(kxh_sysfs_files("pps_filter"), 19 + 6);
}

/* a TPM4 whose channel 2 never takes a new mode */
static u32 dead_read(struct kxh_io_block *blk, u32 off)
{
	return off == TPM4_C2SC ? 0x3C : blk->regs[off / 4];
}

static void dead_write(struct kxh_io_block *blk, u32 off, u32 value)
{
	if (off != TPM4_C2SC)
		blk->regs[off / 4] = value;
}

static const struct kxh_io_ops dead_ops = { .read = dead_read, .write = dead_write };

KTEST(a_timer_that_never_answers_does_not_hang_the_load)
{
	unsigned long reads;

	kxh_io_install(TPM4_PHYS, 4096, &dead_ops);
	kb_setup(KB_NO_TIMER | KB_OWN_TPM4);
	reads = kxh_io_reads();
	KT_EQ(kxh_module_init(), 0);
	KT_TRUE(kxh_io_reads() - reads <= 3000);
	KT_EQ(kxh_log_count_exact(6, "pps: TPM4 register 0x30 did not take 0x0\n"), 1);
	KT_EQ(kxh_log_count_exact(6, "pps: TPM4 register 0x30 did not take 0x4\n"), 1);
	KT_EQ(kxh_log_count_sub(6, "did not take 0xFFFFFFFF"), 0);
	KT_TRUE(kb_log_index("PPS says hello!\n") >= 0);
	kxh_module_exit();
}

KTEST(pulses_after_load_reach_loop_linuxpps_and_dac)
{
	struct pps_priv *pps;

	kb_load(0);
	pps = kb_priv();
	KT_TRUE(pps == g_pps);
	kb_pulse(1000);
	kb_pulse(1000 + N0 - 1);
	KT_EQ(integ_fp, 134200);
	KT_EQ(kxh_pps_events(pps->pps_src), 2);
	kxh_wq_run_all();
	KT_EQ(fx_dac_writes(), 2);
	KT_EQ(fx_dac_code(1), pps_dac_code(134200));
}

/* ---- probe ----------------------------------------------------------------- */

KTEST(probe_sets_up_the_record_threads_and_source)
{
	struct pps_priv *pps;
	const struct pps_source_info *info;
	struct workqueue_struct *wq;

	kb_load(0);
	pps = g_pps;
	KT_TRUE(pps != NULL);
	KT_EQ(kb.timer->kxh_probes, 1);
	KT_TRUE(pps->phy_i[0].phydev == kb.phy[0]);
	KT_TRUE(pps->phy_i[1].phydev == kb.phy[1]);
	KT_EQ(pps->phy_i[0].port, 0);
	KT_EQ(pps->phy_i[1].port, 1);
	KT_EQ(kfifo_size(&pps->phy_i[0].ts_fifo), 1024);
	KT_EQ(kfifo_size(&pps->phy_i[1].ts_fifo), 1024);
	KT_EQ(pps->phy_i[0].last_delta, 0);
	/* the LED: requested, output, low */
	KT_TRUE(pps->led_gpio == kb.led);
	KT_TRUE(kxh_gpio_requested(kb.led));
	KT_TRUE(kxh_gpio_is_output(kb.led));
	KT_EQ(kxh_gpio_value(kb.led), 0);
	/* the DAC queue: ordered, usable under memory pressure, named after the device */
	wq = kxh_wq_find("ppstimer");
	KT_TRUE(wq != NULL && wq == dac_workq);
	KT_TRUE(kxh_wq_flags(wq) & WQ_MEM_RECLAIM);
	KT_TRUE(kxh_wq_flags(wq) & __WQ_ORDERED);
	/* both PHYs deliver to the notifier */
	KT_EQ(kxpps_phystub_pulse(kb.phy[0], 0, 0), 0);
	KT_EQ(kxpps_phystub_pulse(kb.phy[1], 1, 0), 0);
	KT_EQ(atomic_read(&pps->phy_i[0].adj_pending), 1);
	KT_EQ(atomic_read(&pps->phy_i[1].adj_pending), 1);
	/* LinuxPPS */
	info = kxh_pps_info(pps->pps_src);
	KT_STREQ(info->name, "kx-pps");
	KT_STREQ(info->path, "ppstimer");
	KT_EQ(info->mode, 0x1011);
	KT_EQ(kxh_pps_default_params(pps->pps_src), PPS_CAPTUREASSERT);
	KT_EQ(kxh_pps_sources(), 1);
	/* the PHY references are held while bound, the MAC ones were dropped */
	KT_EQ(kb.phy[0]->mdio.dev.kxh_refs, 1);
	KT_EQ(kb.mac[0]->dev.kxh_refs, 0);
	KT_EQ(kxh_of_refs(), 1);	/* "pwm4" held by the load */
}

static void led_off_work_run(void)
{
	KT_TRUE(work_pending(&gps_ppsled_work));
	kxh_wq_run_all();
	KT_EQ(kxh_gpio_value(kb.led), 0);
}

/*
 * A PPS LED behind an I2C expander sleeps when driven: the probe notes it,
 * and pulses and the ppsled store leave it to the LED work, outside the
 * hard interrupt and the RCU read-side section (the host layer aborts a
 * sleeping line driven there, and warns at gpiod_set_value() on it).
 */
KTEST(a_pps_led_that_can_sleep_is_driven_from_work)
{
	unsigned int i, n;

	kb_setup(0);
	kxh_gpio_set_cansleep(kb.led, true);
	KT_EQ(kxh_module_init(), 0);
	KT_TRUE(kb_priv()->led_cansleep);
	WRITE_ONCE(time_known, true);
	kb_pulse(1000);
	KT_EQ(kxh_gpio_value(kb.led), 0);
	led_off_work_run();
	kb_pulse(1000 + N0);
	led_off_work_run();
	KT_EQ(kxh_sysfs_write("pps_filter/ppsled", "1"), 1);
	led_off_work_run();
	/* at probe low, then high and low three times, none in the interrupt */
	n = kxh_gpio_changes(kb.led);
	KT_EQ(n, 7);
	for (i = 1; i < n; i++) {
		KT_EQ(kxh_gpio_change(kb.led, i)->value, i % 2);
		KT_EQ(kxh_gpio_change(kb.led, i)->in_irq, 0);
	}
	KT_EQ(kxh_gpio_change(kb.led, 2)->mono_ns - kxh_gpio_change(kb.led, 1)->mono_ns,
	      504000000);
	kxh_module_exit();
	KT_FALSE(kxh_gpio_requested(kb.led));
}

KTEST(probe_without_led_logs_its_absence)
{
	kb_load(KB_NO_LED);
	KT_EQ(kxh_log_count_exact(6, "pps: pps-led-gpios not present in DT\n"), 1);
	KT_TRUE(g_pps && g_pps->led_gpio == NULL);
	KT_EQ(kxh_sysfs_write("pps_filter/ppsled", "1"), 1);
	kxh_wq_run_all();
}

KTEST(probe_with_a_busy_led_fails_cleanly)
{
	long slab;

	kb_load(KB_NO_TIMER);
	slab = kxh_slab_live();
	kxh_fault_arm("gpiod_get", 0, 1, -EBUSY);
	kb_add_timer();
	KT_EQ(kb.timer->kxh_probe_result, -EBUSY);
	KT_FALSE(kb.timer->kxh_deferred);
	KT_EQ(kxh_log_count_exact(6, "pps: Failed to get pps-led GPIO: -16\n"), 1);
	KT_TRUE(g_pps == NULL);
	KT_EQ(kxh_wq_count(), 0);
	KT_EQ(kxh_slab_live(), slab);
	KT_EQ(kxh_log_count_sub(-1, "workqueue"), 0);
}

KTEST(probe_defers_until_both_phys_exist)
{
	struct leftovers before;

	kb_load(KB_NO_PHYS);
	KT_EQ(kb.timer->kxh_probe_result, -EPROBE_DEFER);
	KT_TRUE(kb.timer->kxh_deferred);
	/* nothing of the try is left: no record, no queue, LED free, no message */
	KT_TRUE(g_pps == NULL);
	KT_TRUE(dac_workq == NULL);
	KT_EQ(kxh_wq_count(), 0);
	KT_FALSE(kxh_gpio_requested(kb.led));
	KT_EQ(kxh_kthreads(), 0);
	KT_EQ(kxh_pps_sources(), 0);
	KT_EQ(kxh_log_count_sub(-1, "defer"), 0);
	before = snapshot();
	KT_EQ(kxh_sysfs_read("pps_filter/phy_delta1", (char[8]){ 0 }, 8), -ENODEV);

	kb.phy[0] = kxh_phy_add(kb.phy_np[0], "phy0");
	KT_EQ(kb.timer->kxh_probes, 2);
	KT_TRUE(kb.timer->kxh_deferred);
	KT_TRUE(g_pps == NULL);
	same_left(&before);

	kb.phy[1] = kxh_phy_add(kb.phy_np[1], "phy1");
	KT_EQ(kb.timer->kxh_probes, 3);
	KT_EQ(kb.timer->kxh_probe_result, 0);
	KT_TRUE(g_pps != NULL);
	KT_EQ(kxh_kthreads(), 2);
	KT_EQ(kxh_log_count_exact(6, "pps:  Starting pps_probe\n"), 3);
	kxh_module_exit();
	KT_EQ(kxh_kthreads(), 0);
}

KTEST(probe_defers_until_the_macs_exist)
{
	kb_load(KB_NO_MACS);
	KT_TRUE(kb.timer->kxh_deferred);
	kb_add_macs();
	KT_TRUE(g_pps != NULL);
	KT_EQ(kb.mac[0]->dev.kxh_refs + kb.mac[1]->dev.kxh_refs, 0);
}

KTEST(probe_tolerates_missing_workqueue_and_linuxpps)
{
	kb_load(KB_NO_TIMER);
	kxh_fault_arm("alloc_workqueue", 0, 1, -ENOMEM);
	kxh_fault_arm("pps_register_source", 0, 1, -ENOMEM);
	kb_add_timer();
	KT_EQ(kb.timer->kxh_probe_result, 0);
	KT_EQ(kxh_log_count_exact(6, "dac: workqueue creation failed \n"), 1);
	KT_EQ(kxh_log_count_exact(3, "pps ppstimer: pps: failed to register LinuxPPS source: -12\n"), 1);
	KT_TRUE(g_pps->pps_src == NULL);
	KT_TRUE(dac_workq == NULL);
	/* pulses still run the loop; the DAC keeps its code */
	kxh_i2c_clear();
	kb_pulse(0);
	kb_pulse(N0 + 3);
	kxh_wq_run_all();
	KT_EQ(fx_dac_writes(), 0);
	kxh_module_exit();
	KT_EQ(kxh_pps_sources(), 0);
}

KTEST(remove_and_probe_again_while_loaded)
{
	struct leftovers loaded;

	kb_load(KB_NO_TIMER);
	loaded = snapshot();
	kb_add_timer();
	KT_TRUE(g_pps != NULL);
	kb_pulse(0);
	kxpps_phystub_pulse(kb.phy[0], 0, 0);
	kxh_sysfs_write("pps_filter/ppsled", "1");
	kxh_platform_device_del(kb.timer);
	kb.timer = NULL;
	KT_TRUE(g_pps == NULL);
	KT_EQ(kxh_kthreads(), 0);
	KT_EQ(kxh_gpio_value(kb.led), 0);
	same_left(&loaded);
	KT_EQ(kxh_sysfs_write("pps_filter/manualtime", "1"), -ENODEV);
	/* a pulse without device: loop only */
	KT_EQ(kb_pulse(N0), IRQ_HANDLED);
	kb_add_timer();
	KT_TRUE(g_pps != NULL);
	KT_EQ(kxh_kthreads(), 2);
}

/* ---- load failures ------------------------------------------------------ */

/* a load step that fails: site (NULL: none), its error, what the load returns */
static const struct load_failure {
	unsigned int flags;
	const char *site;
	unsigned int skip;
	int err, ret;
	int level;			/* of log[0] */
	const char *log[3];		/* logged in this order */
	const char *absent;		/* in no log record */
	unsigned int logs;		/* records in all, 0: any */
} load_failures[] = {
	{ KB_NO_ADAPTER, NULL, 0, 0, -EIO, 6,
	  { "ppsdac: unable to get i2c adapter 1\n", "unable to allocate dac client\n",
	    "unable to allocate i2c clients\n" }, "Initial write" },
	{ 0, "i2c_new_client_device", 0, -ENOMEM, -EIO, 6,
	  { "ppsdac: got i2c adapter 1!\n", "unable to allocate dac client\n" } },
	{ 0, "platform_driver_register", 0, -ENOMEM, -EIO, 6,
	  { "unable to register pps driver\n" }, NULL, 1 },
	/* TPM4 and CCM map, IOMUXC does not */
	{ 0, "ioremap", 2, -ENOMEM, -ENOMEM, 6,
	  { "pps: unable to map the timer registers\n" }, "tpm4 clk root" },
	/* the serial half's failures unwind the whole load */
	{ 0, "serdev_device_driver_register", 0, -ENOMEM, -ENOMEM, 6,
	  { "pps chardev: Removed\n", "All sysfs_remove_file call done\n" } },
	{ 0, "alloc_chrdev_region", 0, -EBUSY, -EBUSY, 3,
	  { "pps chardev: Failed to allocate major number\n" } },
	{ 0, "class_create", 0, -ENOMEM, -ENOMEM, 3, { "pps chardev: Failed to create class\n" } },
	/* without a timer device the queue's buffer is the load's first kmalloc */
	{ KB_NO_TIMER, "kmalloc", 0, -ENOMEM, -ENOMEM, 3,
	  { "pps: kfifo_alloc failed: -12\n" }, "chardev" },
};
static const struct load_failure *failure;

static void load_fails_cleanly(void)
{
	const struct load_failure *f = failure;
	struct leftovers before;
	unsigned int n = 0;

	kb_setup(f->flags);
	before = snapshot();
	if (f->site)
		kxh_fault_arm(f->site, f->skip, 1, f->err);
	KT_EQ(kxh_module_init(), f->ret);
	while (n < 3 && f->log[n])
		n++;
	in_order(f->log, n);
	if (kb_log_index(f->log[0]) >= 0)
		KT_EQ(kxh_log_get(kb_log_index(f->log[0]))->level, f->level);
	if (f->absent)
		KT_EQ(kxh_log_count_sub(-1, f->absent), 0);
	if (f->logs)
		KT_EQ(kxh_log_count(), f->logs);
	KT_FALSE(kxh_sysfs_exists("pps_filter"));
	KT_TRUE(kxh_platform_driver_find("pps") == NULL);
	KT_FALSE(kb.timer && kb.timer->kxh_bound);
	KT_TRUE(g_pps == NULL);
	KT_TRUE(reg_base_lptpm4 == NULL && reg_base_ccm == NULL);
	KT_TRUE(dac_client == NULL && adapter_1 == NULL);
	KT_EQ(pps_irq, -1);
	/* the counter was stopped again */
	KT_EQ(tpm4(TPM4_SC) & 0x48, 0);
	KT_EQ(tpm4(TPM4_C2SC) & 0x40, 0);
	same_left(&before);
}

KTEST(every_failing_load_step_releases_everything)
{
	KT_ROWS(f, load_failures) {
		failure = f;
		KT_TRUE(ktest_passes(load_fails_cleanly));
	}
}

/* without "pwm4", or with a "pwm4" that has no interrupt: logged, then the mapping fails */
static const struct no_irq { unsigned int flags; const char *found; } no_irq_rows[] = {
	{ KB_NO_PWM4, "Device tree node pwm4 is not defined in DTS\n" },
	{ KB_NO_IRQ, "Found device tree node pwm4\n" },
};
static const struct no_irq *no_irq;

static void load_without_an_interrupt(void)
{
	kb_load(no_irq->flags);
	KT_EQ(kxh_log_count_exact(6, no_irq->found), 1);
	KT_EQ(kxh_log_count_exact(6, "Failed to map IRQ\n"), 1);
	KT_TRUE(kb_log_index("Failed to map IRQ\n") > kb_log_index(no_irq->found));
	KT_EQ(tpm4(TPM4_SC), 0x40);
	KT_EQ(kxh_irqs_requested(), 0);
	KT_EQ(pps_irq, -1);
	KT_EQ(kxh_log_count_sub(-1, "register SC is"), 0);
	kxh_module_exit();
	KT_EQ(kxh_of_refs(), 0);
}

KTEST(without_an_interrupt_the_counter_stays_stopped)
{
	KT_ROWS(r, no_irq_rows) {
		no_irq = r;
		KT_TRUE(ktest_passes(load_without_an_interrupt));
	}
}

KTEST(refused_interrupt_still_starts_the_counter)
{
	kb_setup(0);
	kxh_fault_arm("request_irq", 0, 1, -EBUSY);
	KT_EQ(kxh_module_init(), 0);
	KT_EQ(kxh_log_count_exact(6, "Failed to request interrupt line\n"), 1);
	KT_EQ(tpm4(TPM4_SC), 0x48);
	KT_EQ(kxh_log_count_exact(6, "register SC is: 48\n"), 1);
	KT_EQ(pps_irq, -1);
	KT_EQ(kxh_irq_mappings(), 1);
	kxh_module_exit();
	KT_EQ(kxh_irq_mappings(), 0);
}

KTEST(without_timer_node_the_loop_runs_and_the_dac_stays_mid_scale)
{
	kb_load(KB_NO_TIMER);
	KT_TRUE(g_pps == NULL);
	KT_EQ(kxh_pps_sources(), 0);
	KT_EQ(kxh_kthreads(), 0);
	kb_pulse(0);
	kb_pulse(N0 - 2);
	kb_pulse(2 * N0 - 4);
	KT_EQ(integ_fp, 2 * 2 * 134200);
	kxh_wq_run_all();
	KT_EQ(fx_dac_writes(), 1);
	KT_EQ(fx_dac_code(0), 0x8000);
	KT_EQ(kxh_sysfs_write("pps_filter/ppsled", "1"), 1);
	KT_EQ(kxh_sysfs_write("pps_filter/manualtime", "1"), -ENODEV);
}

/* ---- unload --------------------------------------------------------------- */

KTEST(unload_in_order_leaves_nothing)
{
	static const char *const want[] = {
		"pps-uart: UART driver unloaded\n",
		"pps chardev: Removed\n",
		"PPS driver exit!\n",
		"All sysfs_remove_file call done\n",
		"kobject_put done\n",
		"Remove filter done\n",
	};
	struct leftovers before;

	kb_setup(0);
	before = snapshot();
	KT_EQ(kxh_module_init(), 0);
	kb_pulse(5);
	kxh_log_clear();
	kxh_module_exit();
	in_order(want, ARRAY_SIZE(want));
	KT_EQ(tpm4(TPM4_SC), 0);
	KT_EQ(tpm4(TPM4_C2SC), 0x4);
	KT_TRUE(g_pps == NULL);
	KT_TRUE(kxh_platform_driver_find("pps") == NULL);
	KT_FALSE(kb.timer->kxh_bound);
	same_left(&before);
	KT_EQ(kxh_log_count_sub(3, ""), 0);
}

KTEST(unload_finishes_queued_work_before_its_targets_go)
{
	unsigned int dac;

	kb_load(0);
	/* a DAC write and the clock setter queued, never run */
	kxh_sysfs_write("pps_filter/prv_integ_fp", "1000");
	gGPSTime.pending = 1;
	kb_pulse(0);
	KT_EQ(kxh_wq_pending(system_wq), 1);
	dac = fx_dac_writes();
	kxh_module_exit();
	KT_EQ(kxh_wq_pending(system_wq), 0);
	KT_EQ(kxh_wq_run_all(), 0);
	KT_EQ(fx_dac_writes(), dac);
}

KTEST(unload_without_device_cancels_the_clock_setter)
{
	kb_load(KB_NO_TIMER);
	gGPSTime.pending = 1;
	kb_pulse(0);
	KT_TRUE(work_pending(&gps_time_work));
	kxh_module_exit();
	KT_FALSE(work_pending(&gps_time_work));
}

KTEST(hundred_load_unload_cycles_leave_nothing_behind)
{
	struct leftovers before;
	int i;

	kb_setup(0);
	before = snapshot();
	for (i = 0; i < 100; i++) {
		if (kxh_module_init()) {
			ktest_fail(__FILE__, __LINE__, "load %d failed", i);
			return;
		}
		kb_pulse((u32)i * 7);
		kb_pulse((u32)i * 7 + N0 + (u32)(i % 3));
		kxpps_phystub_pulse(kb.phy[i & 1], i & 1, 0);
		kxh_sysfs_write("pps_filter/manualtime", "1");
		if (i % 2)
			kxh_sched_run();
		if (i % 3)
			kxh_wq_run_all();
		kxh_module_exit();
		kxh_log_clear();
	}
	same_left(&before);
	KT_EQ(kxh_kthreads_total(), 200);
	KT_EQ(kb.timer->kxh_probes, 100);
}

/* ---- the two halves together --------------------------------------------- */

static int phy_event(u32 port, s64 sec, s64 nsec)
{
	struct phy_pps_event ev = { .port = port, .sec = sec, .nsec = nsec };

	return kxpps_cb(&kxpps_nb, 0, &ev);
}

KTEST(gps_seconds_from_the_receiver_align_both_phys)
{
	s64 s;

	kb_load(0);
	sx_add_uart(9600, false);
	kxh_sched_run();
	/* the fix is published after a few good seconds; before, records carry fix 0 */
	for (s = SX_T0; s < SX_T0 + 10; s++) {
		sx_second(s, 1);
		/* the pulse of s + 1, stamped by both PHYs on TAI */
		phy_event(0, s + 1 + 37, 200);
		phy_event(1, s + 1 + 37, 0);
		kxh_sched_run();
	}
	KT_EQ(g_pps->phy_i[0].last_delta, -200);
	KT_EQ(g_pps->phy_i[1].last_delta, 0);
	KT_TRUE(kxpps_phystub_adjtimes(kb.phy[0]) >= 1);
	KT_TRUE(kxpps_phystub_adjtimes(kb.phy[0]) < 10);
	KT_EQ(kxpps_phystub_adjtimes(kb.phy[0]), kxpps_phystub_adjtimes(kb.phy[1]));
	KT_EQ(kxh_log_count_sub(1, "kount="), 0);
}

/*
 * The receiver's sentences for second s arrive 70 ms after its pulse. On
 * two pulses in a row the clock setter's worker is late and the receive
 * work (another CPU's worker) handles the next ZDA first, moving gGPSTime
 * on to s + 1: the setter must still use the label of its own pulse, so
 * a system clock on GPS time stays untouched.
 */
KTEST(the_clock_setter_keeps_its_pulses_label_when_the_next_zda_comes_first)
{
	const s64 first = SX_T0, late = SX_T0 + 12, end = SX_T0 + 14;
	u32 count = 0;
	s64 s;

	kb_load(0);
	sx_add_uart(9600, false);
	kxh_time_set_real(first, 0);
	for (s = first; s < end; s++) {
		s64 pulse_at = kxh_time_mono_ns();

		kb_pulse(count += N0);
		kxh_time_advance_ns(70000000);
		sx_receive_second(s, 1);
		if (s >= late)
			KT_TRUE(kxh_work_run(&g_ctx->rx_work));
		/* the setter (in the late seconds after the receive work), the LED */
		kxh_wq_run_all();
		kxh_time_advance_ns(pulse_at + NSEC_PER_SEC - kxh_time_mono_ns());
	}
	KT_EQ(gps_time_set, 1);
	KT_TRUE(gps_time_work.runs >= 4);
	KT_EQ(kxh_time_settime_count(), 0);
	KT_EQ(kxh_log_count_sub(1, "Set Linux system clock"), 0);
	KT_EQ(kxh_time_real_ns(), end * NSEC_PER_SEC);
}

KTEST(system_clock_follows_the_receiver_at_the_second_large_offset)
{
	u32 count = 0;
	s64 s;

	kb_load(0);
	sx_add_uart(9600, false);
	/* the system clock runs 60 ms ahead of the pulses' GPS time */
	kxh_time_set_real(SX_T0 + 1, 60000000);
	for (s = SX_T0; s < SX_T0 + 12; s++) {
		s64 pulse_at = kxh_time_mono_ns();

		sx_second(s, 1);
		kb_pulse(count += N0);
		/* the clock setter, then the LED work (which sleeps 500 ms) */
		kxh_wq_run_all();
		kxh_time_advance_ns(pulse_at + NSEC_PER_SEC - kxh_time_mono_ns());
	}
	KT_EQ(kxh_time_settime_count(), 1);
	KT_EQ(kxh_log_count_exact(1, "Set Linux system clock from GPS. RTC Offset=60000000"), 1);
	KT_EQ(gps_time_set, 1);
	/* on GPS time since: the next pulse is labelled with the clock's second */
	KT_EQ(kxh_time_real_ns() % NSEC_PER_SEC, 0);
}

/*
 * A leap second inserted at the end of 2026: the receiver names its pulses
 * 23:59:58, 23:59:59, 23:59:60, 00:00:00, 00:00:01. A kernel told of the
 * leap (the NTP daemon's leap flag) shows 23:59:59 twice and needs no step
 * at all; one not told runs on a second ahead and is stepped once, back
 * onto UTC. Never is the clock stepped a second away from UTC.
 */
#define LEAP_MIDNIGHT 1798761600LL	/* 2027-01-01 00:00:00 UTC */

static void receiver_leap_second(void)
{
	char line[160];

	sx_sentence(line, sizeof(line) - 2,
		    "GPGGA,235960.000,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,");
	strcat(line, "\r\n");
	sx_feeds(line);
	sx_sentence(line, sizeof(line) - 2, "GPZDA,235960.000,31,12,2026,00,00");
	strcat(line, "\r\n");
	sx_feeds(line);
}

static void leap_second_walk(bool kernel_repeats)
{
	const s64 first = LEAP_MIDNIGHT - 20, last = LEAP_MIDNIGHT + 4;
	u32 count = 0;
	s64 s = first;

	kb_load(0);
	sx_add_uart(9600, false);
	kxh_time_set_real(first + 1, 0);
	/* the receiver's sentences of a second, then the next pulse */
	while (s <= last) {
		s64 pulse_at = kxh_time_mono_ns();

		if (s == LEAP_MIDNIGHT && count / N0 == (u32)(LEAP_MIDNIGHT - first)) {
			/* after 23:59:59 the receiver sends 23:59:60, then 00:00:00 */
			receiver_leap_second();
		} else {
			sx_second(s, 1);
			/* the pulse of 23:59:60: a kernel told of the leap shows 23:59:59 again */
			if (s == LEAP_MIDNIGHT - 1 && kernel_repeats)
				kxh_time_set_real(LEAP_MIDNIGHT - 1, 0);
			s++;
		}
		kb_pulse(count += N0);
		kxh_wq_run_all();
		kxh_time_advance_ns(pulse_at + NSEC_PER_SEC - kxh_time_mono_ns());
	}
	KT_EQ(count / N0, (u32)(last - first + 2));
	KT_EQ(gps_time_set, 1);
	KT_EQ(kxh_time_settime_count(), kernel_repeats ? 0 : 1);
	KT_EQ(kxh_log_count_exact(1, "Set Linux system clock from GPS. RTC Offset=1000000000"),
	      kernel_repeats ? 0 : 1);
	KT_EQ(kxh_log_count_sub(1, "Set Linux system clock"), kernel_repeats ? 0 : 1);
	/* the instant of the pulse after the one named last + 1 */
	KT_EQ(kxh_time_real_ns(), (last + 2) * NSEC_PER_SEC);
}

KTEST(a_leap_second_needs_no_step_when_the_kernel_repeats_23_59_59)
{
	leap_second_walk(true);
}

KTEST(a_leap_second_the_kernel_missed_is_stepped_once_onto_utc)
{
	leap_second_walk(false);
}
