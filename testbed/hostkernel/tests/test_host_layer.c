// SPDX-License-Identifier: GPL-2.0
/*
 * The host layer itself: each stand-in behaves as the kernel interface it
 * replaces, so that module tests on top of it mean something.
 */
#include <string.h>

#include <kxhost.h>
#include <linux/delay.h>
#include <linux/err.h>
#include <linux/i2c.h>
#include <linux/io.h>
#include <linux/printk.h>
#include <linux/kfifo.h>
#include <linux/kobject.h>
#include <linux/mutex.h>
#include <linux/rcupdate.h>
#include <linux/slab.h>
#include <linux/sysfs.h>
#include <linux/timekeeping.h>
#include "ktest.h"

/* ---- printk ---- */

KTEST(printk_captures_levels_and_continuations)
{
	printk(KERN_ALERT "alpha %d", 1);
	pr_cont(" more\n");
	pr_info("beta\n");
	printk("gamma\n");
	KT_EQ(kxh_log_count(), 3);
	KT_EQ(kxh_log_get(0)->level, 1);
	KT_STREQ(kxh_log_get(0)->text, "alpha 1 more\n");
	KT_EQ(kxh_log_count_exact(6, "beta\n"), 1);
	KT_EQ(kxh_log_count_exact(4, "gamma\n"), 1);
	KT_EQ(kxh_log_count_sub(-1, "a"), 3);
}

/* ---- kfifo ---- */

KTEST(kfifo_rounds_up_and_wraps_with_free_running_counters)
{
	struct kfifo f;
	unsigned char out[16];
	unsigned int i;

	KT_EQ(kfifo_alloc(&f, 5, GFP_KERNEL), 0);
	KT_EQ(kfifo_size(&f), 8);
	KT_EQ(kfifo_in(&f, "abcdefghij", 10), 8);
	KT_TRUE(kfifo_is_full(&f));
	KT_EQ(kfifo_out(&f, out, 3), 3);
	KT_EQ(memcmp(out, "abc", 3), 0);
	KT_EQ(kfifo_avail(&f), 3);
	KT_EQ(kfifo_in(&f, "XYZW", 4), 3);
	KT_EQ(kfifo_len(&f), 8);
	KT_EQ(kfifo_out(&f, out, 16), 8);
	KT_EQ(memcmp(out, "defghXYZ", 8), 0);
	KT_TRUE(kfifo_is_empty(&f));
	/* the counters run freely across their own wrap */
	f.kfifo.in = f.kfifo.out = 0xFFFFFFFEu;
	KT_EQ(kfifo_in(&f, "1234", 4), 4);
	KT_EQ(kfifo_len(&f), 4);
	for (i = 0; i < 4; i++) {
		unsigned char c;

		KT_EQ(kfifo_get(&f, &c), 1);
		KT_EQ(c, '1' + i);
	}
	KT_EQ(kfifo_get(&f, out), 0);
	kfifo_free(&f);
	KT_EQ(kxh_slab_live(), 0);
}

KTEST(kfifo_alloc_failure_leaves_it_unusable)
{
	struct kfifo f;

	kxh_fault_arm("kmalloc", 0, 1, -ENOMEM);
	KT_EQ(kfifo_alloc(&f, 1024, GFP_KERNEL), -ENOMEM);
	KT_FALSE(kfifo_initialized(&f));
	KT_EQ(kfifo_alloc(&f, 1, GFP_KERNEL), -EINVAL);
	KT_EQ(kfifo_alloc(&f, 1024, GFP_KERNEL), 0);
	KT_TRUE(kfifo_initialized(&f));
	kfifo_free(&f);
}

/* ---- work queues and time ---- */

static int order[8], norder;
static void w1(struct work_struct *w) { order[norder++] = 1; }
static void w2(struct work_struct *w) { order[norder++] = 2; }
static DECLARE_WORK(work1, w1);
static DECLARE_WORK(work2, w2);

KTEST(work_runs_in_queuing_order_and_coalesces_while_pending)
{
	struct workqueue_struct *wq = alloc_ordered_workqueue("%s", WQ_MEM_RECLAIM, "ordered");

	KT_TRUE(wq != NULL);
	KT_TRUE(queue_work(wq, &work2));
	KT_TRUE(queue_work(wq, &work1));
	KT_FALSE(queue_work(wq, &work2));
	KT_EQ(kxh_wq_pending(wq), 2);
	KT_EQ(norder, 0);
	KT_EQ(kxh_wq_run(wq), 2);
	KT_EQ(norder, 2);
	KT_EQ(order[0], 2);
	KT_EQ(order[1], 1);
	KT_TRUE(queue_work(wq, &work2));
	KT_TRUE(cancel_work_sync(&work2));
	KT_EQ(kxh_wq_run_all(), 0);
	KT_STREQ(kxh_wq_name(wq), "ordered");
	KT_TRUE(kxh_wq_flags(wq) & WQ_MEM_RECLAIM);
	destroy_workqueue(wq);
	KT_EQ(kxh_wq_count(), 0);
}

static struct workqueue_struct *ordered_wq;
static void run_out_of_turn_on_ordered(void)
{
	ordered_wq = alloc_ordered_workqueue("%s", 0, "ordered");
	queue_work(ordered_wq, &work1);
	queue_work(ordered_wq, &work2);
	kxh_work_run(&work2);
}

/* another CPU's worker of the system queue may take a later item first */
KTEST(one_item_runs_out_of_turn_on_unordered_queues_only)
{
	KT_TRUE(queue_work(system_wq, &work1));
	KT_TRUE(queue_work(system_wq, &work2));
	KT_TRUE(kxh_work_run(&work2));
	KT_FALSE(kxh_work_run(&work2));
	KT_EQ(norder, 1);
	KT_EQ(order[0], 2);
	KT_FALSE(work_pending(&work2));
	KT_EQ(kxh_wq_run(system_wq), 1);
	KT_EQ(order[1], 1);
	KT_TRUE(ktest_aborts(run_out_of_turn_on_ordered));
}

static DECLARE_DELAYED_WORK(dwork, w1);

KTEST(delayed_work_moves_to_its_queue_at_expiry)
{
	KT_TRUE(schedule_delayed_work(&dwork, 250));
	KT_TRUE(delayed_work_pending(&dwork));
	kxh_time_advance_ns(999999999);
	KT_EQ(kxh_wq_pending(system_wq), 0);
	kxh_time_advance_ns(1);
	KT_EQ(kxh_wq_pending(system_wq), 1);
	KT_EQ(kxh_wq_run_all(), 1);
	KT_EQ(norder, 1);
	KT_TRUE(schedule_delayed_work(&dwork, 10));
	KT_TRUE(mod_delayed_work(system_wq, &dwork, 500));
	kxh_time_advance_ns(1000000000);
	KT_EQ(kxh_wq_pending(system_wq), 0);
	KT_TRUE(cancel_delayed_work_sync(&dwork));
	kxh_time_advance_ns(2000000000);
	KT_EQ(kxh_wq_run_all(), 0);
}

/* as in the kernel, a flush waits for queued or running work, not for a timer */
KTEST(flush_work_leaves_work_still_on_its_timer)
{
	KT_TRUE(schedule_delayed_work(&dwork, 10));
	KT_FALSE(flush_work(&dwork.work));
	KT_EQ(norder, 0);
	KT_TRUE(delayed_work_pending(&dwork));
	KT_TRUE(flush_delayed_work(&dwork));
	KT_EQ(norder, 1);
	KT_FALSE(delayed_work_pending(&dwork));
}

KTEST(clocks_follow_the_virtual_clock)
{
	struct timespec64 ts;
	struct system_time_snapshot snap;
	unsigned long j0 = jiffies;
	s64 m0 = ktime_get();

	kxh_time_set_real(1000, 999000000);
	ktime_get_real_ts64(&ts);
	KT_EQ(ts.tv_sec, 1000);
	KT_EQ(ts.tv_nsec, 999000000);
	msleep(500);
	/* msleep sleeps at least the time asked: whole jiffies plus one */
	KT_EQ(ktime_get() - m0, 504000000);
	KT_EQ(jiffies - j0, 126);
	ktime_get_snapshot(&snap);
	KT_EQ(snap.real, 1001LL * 1000000000 + 503000000);
	ts = ns_to_timespec64(-1);
	KT_EQ(ts.tv_sec, -1);
	KT_EQ(ts.tv_nsec, 999999999);
}

/* ---- I2C ---- */

KTEST(i2c_records_messages_and_fails_on_demand)
{
	struct i2c_board_info info = { I2C_BOARD_INFO("dev", 0x4C) };
	struct i2c_adapter *adap;
	struct i2c_client *c;

	KT_TRUE(i2c_get_adapter(1) == NULL);
	kxh_i2c_add_adapter(1);
	adap = i2c_get_adapter(1);
	KT_EQ(kxh_i2c_adapter_refs(1), 1);
	c = i2c_new_client_device(adap, &info);
	KT_FALSE(IS_ERR(c));
	KT_EQ(i2c_master_send(c, "\x10\x80\x00", 3), 3);
	kxh_i2c_fail(1, 1, -EREMOTEIO);
	KT_EQ(i2c_master_send(c, "\x10\x81\x00", 3), -EREMOTEIO);
	kxh_i2c_fail(1, 1, 2);
	KT_EQ(i2c_master_send(c, "\x10\x82\x00", 3), 2);
	KT_EQ(kxh_i2c_count(), 2);
	KT_EQ(kxh_i2c_get(0)->addr, 0x4C);
	KT_EQ(kxh_i2c_get(0)->len, 3);
	KT_EQ(kxh_i2c_get(0)->data[1], 0x80);
	KT_EQ(kxh_i2c_get(1)->data[1], 0x82);
	i2c_unregister_device(c);
	i2c_put_adapter(adap);
	KT_EQ(kxh_i2c_clients(), 0);
	KT_EQ(kxh_i2c_adapter_refs(1), 0);
	kxh_fault_arm("i2c_new_client_device", 0, 1, -ENOMEM);
	KT_EQ(PTR_ERR(i2c_new_client_device(adap, &info)), -ENOMEM);
}

/* ---- register blocks ---- */

KTEST(tpm4_status_is_write_one_to_clear_and_c2v_captures)
{
	struct kxh_io_block *tpm = kxh_tpm4_install();
	void __iomem *base = ioremap(KXH_TPM4_PHYS, 4096);
	void __iomem *ccm = ioremap(0x44450000, 4096);

	kxh_tpm4_capture(tpm, 0x12345678);
	kxh_tpm4_overflow(tpm);
	KT_EQ(readl(base + 0x1C), 0x104);
	KT_EQ(readl(base + 0x34), 0x12345678);
	writel(0x4, base + 0x1C);
	KT_EQ(readl(base + 0x1C), 0x100);
	writel(0x0, base + 0x1C);
	KT_EQ(readl(base + 0x1C), 0x100);
	writel(0x100, base + 0x1C);
	KT_EQ(readl(base + 0x1C), 0);
	writel(7, base + 0x34);
	KT_EQ(readl(base + 0x34), 0x12345678);
	writel(0x48, base + 0x10);
	KT_EQ(readl(base + 0x10), 0x48);
	/* plain block: registers read back, writes are recorded */
	writel(0x300, ccm + 0x980);
	KT_EQ(readl(ccm + 0x980), 0x300);
	KT_EQ(kxh_io_find(0x44450000)->nwrites, 1);
	KT_EQ(kxh_io_find(0x44450000)->writes[0].off, 0x980);
	KT_EQ(tpm->nwrites, 5);
	iounmap(base);
	iounmap(ccm);
	KT_EQ(tpm->mapped, 0);
}

/* ---- GPIO, LinuxPPS, context checks ---- */

static irqreturn_t drive_led(int irq, void *dev)
{
	gpiod_set_value(dev, 1);
	return IRQ_HANDLED;
}

KTEST(gpio_records_levels_with_time_and_context)
{
	struct gpio_desc *led = kxh_gpio_new("led", 0);

	KT_EQ(kxh_irq_call(drive_led, 3, led), IRQ_HANDLED);
	kxh_time_advance_ns(1000);
	gpiod_set_value(led, 0);
	gpiod_set_value(NULL, 1);	/* absent optional GPIO */
	KT_EQ(kxh_gpio_changes(led), 2);
	KT_EQ(kxh_gpio_change(led, 0)->value, 1);
	KT_EQ(kxh_gpio_change(led, 0)->in_irq, 1);
	KT_EQ(kxh_gpio_change(led, 1)->mono_ns - kxh_gpio_change(led, 0)->mono_ns, 1000);
	KT_EQ(kxh_gpio_value(led), 0);
	kxh_gpio_free(led);
}

static struct gpio_desc *expander;
static irqreturn_t drive_expander(int irq, void *dev)
{
	gpiod_set_value(expander, 1);
	return IRQ_HANDLED;
}
static void sleeping_line_in_irq(void) { kxh_irq_call(drive_expander, 3, NULL); }
static void sleeping_line_in_rcu_reader(void)
{
	rcu_read_lock();
	gpiod_set_value_cansleep(expander, 1);
	rcu_read_unlock();
}
static void sleeping_line_set_atomically(void)
{
	gpiod_set_value(expander, 1);
}

/* a line behind a bus: set where sleeping is allowed, with the _cansleep call */
KTEST(a_line_that_can_sleep_is_refused_in_atomic_context)
{
	expander = kxh_gpio_new("expander", 0);
	KT_EQ(gpiod_cansleep(expander), 0);
	KT_EQ(gpiod_cansleep(NULL), 0);
	kxh_gpio_set_cansleep(expander, true);
	KT_EQ(gpiod_cansleep(expander), 1);
	gpiod_set_value_cansleep(expander, 1);
	KT_EQ(kxh_gpio_value(expander), 1);
	KT_TRUE(ktest_aborts(sleeping_line_in_irq));
	KT_TRUE(ktest_aborts(sleeping_line_in_rcu_reader));
	/* from process context the kernel warns, and the case fails */
	KT_FALSE(ktest_passes(sleeping_line_set_atomically));
	KT_EQ(kxh_warn_count(), 0);
	kxh_gpio_free(expander);
}

KTEST(pps_source_records_events)
{
	struct pps_device *pps = kxh_pps_new("src");
	struct pps_event_time ts = { { 5, 6 } };

	KT_EQ(kxh_pps_sources(), 1);
	KT_STREQ(kxh_pps_info(pps)->name, "src");
	pps_event(pps, &ts, PPS_CAPTUREASSERT, NULL);
	KT_EQ(kxh_pps_events(pps), 1);
	KT_EQ(kxh_pps_event(pps, 0)->ts.tv_sec, 5);
	KT_EQ(kxh_pps_event(pps, 0)->ts.tv_nsec, 6);
	KT_EQ(kxh_pps_event(pps, 0)->event, PPS_CAPTUREASSERT);
	pps_unregister_source(pps);
	KT_EQ(kxh_pps_sources(), 0);
}

static DEFINE_SPINLOCK(lk);

static irqreturn_t take_lock(int irq, void *dev)
{
	unsigned long flags;

	spin_lock_irqsave(&lk, flags);
	KT_TRUE(kxh_atomic_depth() >= 2);
	spin_unlock_irqrestore(&lk, flags);
	return IRQ_HANDLED;
}

KTEST(spin_locks_count_irqsave_use_and_context)
{
	KT_EQ(kxh_atomic_depth(), 0);
	kxh_irq_call(take_lock, 1, NULL);
	KT_EQ(lk.taken, 1);
	KT_EQ(lk.taken_irqsave, 1);
	KT_EQ(kxh_atomic_depth(), 0);
	KT_FALSE(spin_is_locked(&lk));
}

/* ---- sysfs ---- */

static int val = 5;

static ssize_t v_show(struct kobject *k, struct kobj_attribute *a, char *buf)
{
	return sysfs_emit(buf, "%d\n", val);
}

static ssize_t v_store(struct kobject *k, struct kobj_attribute *a, const char *buf, size_t n)
{
	if (sscanf(buf, "%d", &val) != 1)
		return -EINVAL;
	return (ssize_t)n;
}

static struct kobj_attribute v_attr = __ATTR(v, 0660, v_show, v_store);
static struct kobj_attribute w_attr = __ATTR(w, 0660, NULL, v_store);

KTEST(sysfs_attributes_are_callable_by_path)
{
	struct kobject *k = kobject_create_and_add("dir", NULL);
	char buf[64];

	KT_TRUE(k != NULL);
	KT_TRUE(kobject_create_and_add("dir", NULL) == NULL);
	KT_EQ(sysfs_create_file(k, &v_attr.attr), 0);
	KT_EQ(sysfs_create_file(k, &v_attr.attr), -EEXIST);
	KT_EQ(sysfs_create_file(k, &w_attr.attr), 0);
	KT_EQ(kxh_sysfs_files("dir"), 2);
	KT_EQ(kxh_sysfs_mode("dir/v"), 0660);
	KT_EQ(kxh_sysfs_read("dir/v", buf, sizeof(buf)), 2);
	KT_STREQ(buf, "5\n");
	KT_EQ(kxh_sysfs_write("dir/v", "17\n"), 3);
	KT_EQ(val, 17);
	KT_EQ(kxh_sysfs_read("dir/w", buf, sizeof(buf)), -EIO);
	KT_EQ(kxh_sysfs_read("dir/x", buf, sizeof(buf)), -ENOENT);
	sysfs_remove_file(k, &w_attr.attr);
	KT_FALSE(kxh_sysfs_exists("dir/w"));
	kxh_fault_arm("sysfs_create_file", 0, 1, -ENOMEM);
	KT_EQ(sysfs_create_file(k, &w_attr.attr), -ENOMEM);
	kobject_put(k);
	KT_EQ(kxh_kobjects(), 0);
}

/* ---- slab and faults ---- */

KTEST(slab_counts_and_fails_on_demand)
{
	void *a = kmalloc(10, GFP_KERNEL);
	char *z = kzalloc(8, GFP_KERNEL);

	KT_EQ(kxh_slab_live(), 2);
	KT_EQ(z[7], 0);
	kxh_fault_arm("kmalloc", 1, 2, -ENOMEM);
	KT_TRUE(kmalloc(1, GFP_KERNEL) != NULL);
	KT_TRUE(kmalloc(1, GFP_KERNEL) == NULL);
	KT_TRUE(kcalloc(2, 2, GFP_KERNEL) == NULL);
	KT_EQ(kxh_fault_hits("kmalloc"), 5);
	kfree(a);
	kfree(z);
	KT_EQ(kxh_slab_live(), 1);
}

/* ---- the kernel rules the layer enforces ---- */

static irqreturn_t sleeper(int irq, void *dev)
{
	msleep(1);
	return IRQ_HANDLED;
}

static void sleep_in_irq(void) { kxh_irq_call(sleeper, 1, NULL); }
static void sleep_under_lock(void) { spin_lock(&lk); msleep(1); }
static void lock_twice(void) { spin_lock(&lk); spin_lock(&lk); }
static void mutex_under_lock(void)
{
	static DEFINE_MUTEX(m);
	unsigned long flags;

	spin_lock_irqsave(&lk, flags);
	mutex_lock(&m);
	spin_unlock_irqrestore(&lk, flags);
}

static irqreturn_t allocator(int irq, void *dev)
{
	kfree(kmalloc(8, GFP_KERNEL));
	return IRQ_HANDLED;
}

static void alloc_in_irq(void) { kxh_irq_call(allocator, 1, NULL); }

static irqreturn_t atomic_allocator(int irq, void *dev)
{
	kfree(kmalloc(8, GFP_ATOMIC));
	return IRQ_HANDLED;
}

static void alloc_atomic_in_irq(void) { kxh_irq_call(atomic_allocator, 1, NULL); }
static struct work_struct never_initialised;
static void queue_uninitialised(void) { schedule_work(&never_initialised); }
static void emit_off_page(void) { char b[64]; sysfs_emit(b + 1, "x"); }
static void sleep_in_rcu_reader(void) { rcu_read_lock(); msleep(1); }
static void alloc_in_rcu_reader(void) { rcu_read_lock(); kfree(kmalloc(8, GFP_KERNEL)); }
static void sync_in_rcu_reader(void) { rcu_read_lock(); synchronize_rcu(); }
static void unlock_unlocked_rcu(void) { rcu_read_unlock(); }
static void *rcu_word;
static void deref_outside_reader(void) { (void)rcu_dereference(rcu_word); }
static irqreturn_t stays_in_reader(int irq, void *dev)
{
	rcu_read_lock();
	return IRQ_HANDLED;
}
static void irq_returns_in_reader(void) { kxh_irq_call(stays_in_reader, 1, NULL); }
static struct workqueue_struct *gone_wq;
static struct work_struct gone_work;
static void queue_on_destroyed(void)
{
	gone_wq = alloc_ordered_workqueue("gone", 0);
	destroy_workqueue(gone_wq);
	INIT_WORK(&gone_work, NULL);
	gone_work.func = (work_func_t)(void *)queue_on_destroyed;
	queue_work(gone_wq, &gone_work);
}
static void unmapped_access(void)
{
	void __iomem *p = ioremap(0x43810000, 4096);

	iounmap(p);
	readl(p);
}

KTEST(kernel_rules_are_enforced)
{
	KT_TRUE(ktest_aborts(sleep_in_irq));
	KT_TRUE(ktest_aborts(sleep_under_lock));
	KT_TRUE(ktest_aborts(lock_twice));
	KT_TRUE(ktest_aborts(mutex_under_lock));
	KT_TRUE(ktest_aborts(alloc_in_irq));
	KT_FALSE(ktest_aborts(alloc_atomic_in_irq));
	KT_TRUE(ktest_aborts(queue_uninitialised));
	KT_TRUE(ktest_aborts(emit_off_page));
	KT_TRUE(ktest_aborts(unmapped_access));
	KT_TRUE(ktest_aborts(sleep_in_rcu_reader));
	KT_TRUE(ktest_aborts(alloc_in_rcu_reader));
	KT_TRUE(ktest_aborts(sync_in_rcu_reader));
	KT_TRUE(ktest_aborts(unlock_unlocked_rcu));
	KT_TRUE(ktest_aborts(deref_outside_reader));
	KT_TRUE(ktest_aborts(irq_returns_in_reader));
	KT_TRUE(ktest_aborts(queue_on_destroyed));
}

/* ---- grace periods, running handlers and CPU 2 ---- */

#define RACE_IRQ 9

static void cpu2_synchronize_rcu(void *arg) { synchronize_rcu(); }
static void cpu2_synchronize_irq(void *arg) { synchronize_irq(RACE_IRQ); }
static void cpu2_synchronize_other_irq(void *arg) { synchronize_irq(RACE_IRQ + 1); }
static kxh_race_fn cpu2_job;

/* CPU 2 starts its job while this CPU is inside the handler */
static irqreturn_t start_cpu2_in_handler(int irq, void *dev)
{
	kxh_cpu2_start(cpu2_job, NULL);
	return IRQ_HANDLED;
}

/*
 * A grace period waits for readers and handlers on the other CPU, and
 * synchronize_irq for that line's handler only; CPU 2 finishes as soon
 * as the test thread leaves what it waited for.
 */
KTEST(grace_periods_and_synchronize_irq_wait_for_the_other_cpu)
{
	static const struct {
		const char *name;
		kxh_race_fn job;
		bool in_handler;	/* else inside rcu_read_lock() */
		bool waits;
	} rows[] = {
		{ "grace period, reader", cpu2_synchronize_rcu, false, true },
		{ "grace period, handler", cpu2_synchronize_rcu, true, true },
		{ "synchronize_irq, same line", cpu2_synchronize_irq, true, true },
		{ "synchronize_irq, other line", cpu2_synchronize_other_irq, true, false },
		{ "synchronize_irq, reader only", cpu2_synchronize_irq, false, false },
	};

	KT_ROWS(r, rows) {
		cpu2_job = r->job;
		if (r->in_handler) {
			kxh_irq_call(start_cpu2_in_handler, RACE_IRQ, NULL);
		} else {
			rcu_read_lock();
			KT_TRUE(rcu_read_lock_held());
			kxh_cpu2_start(r->job, NULL);
			KT_EQ(kxh_cpu2_done(), !r->waits);
			rcu_read_unlock();
		}
		KT_TRUE(kxh_cpu2_done());
		KT_EQ(kxh_cpu2_waited(), r->waits);
		kxh_cpu2_join();
	}
}

static int shared_word = 5;
static int seen_by_hook;

static void hook_changes_word(void *arg)
{
	seen_by_hook = shared_word;
	shared_word = *(int *)arg;
}

static void park_cpu2(void *arg) { kxh_cpu2_park(); }

static void cpu2_reads_twice(void *arg)
{
	int *got = arg;

	got[0] = READ_ONCE(shared_word);
	kxh_race_point("kthread_stop");
	got[1] = READ_ONCE(shared_word);
}

/* race points fire once, right after the read or at the named call */
KTEST(race_points_fire_once_where_armed)
{
	int seven = 7, got[2];

	kxh_race_after_read(&shared_word, hook_changes_word, &seven);
	KT_EQ(kxh_race_armed_points(), 1);
	KT_EQ(READ_ONCE(shared_word), 5);
	KT_EQ(seen_by_hook, 5);
	KT_EQ(READ_ONCE(shared_word), 7);
	KT_EQ(kxh_race_armed_points(), 0);

	/* CPU 2 parks at a point; this CPU changes the word meanwhile */
	kxh_race_at("kthread_stop", park_cpu2, NULL);
	kxh_cpu2_start(cpu2_reads_twice, got);
	KT_FALSE(kxh_cpu2_done());
	WRITE_ONCE(shared_word, 8);
	kxh_cpu2_resume();
	KT_TRUE(kxh_cpu2_done());
	kxh_cpu2_join();
	KT_EQ(got[0], 7);
	KT_EQ(got[1], 8);
}
