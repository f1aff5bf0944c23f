// SPDX-License-Identifier: GPL-2.0
/*
 * The host layer's kernel threads, device tree, platform devices, PHYs,
 * interrupt lines, GPIO lookups and clock setting, checked on their own.
 */
#include <stdlib.h>
#include <string.h>

#include <linux/kthread.h>
#include <linux/of_irq.h>
#include <linux/of_mdio.h>
#include <linux/of_platform.h>
#include <linux/timekeeping.h>
#include <linux/wait.h>

#include "kx_fixture.h"
#include "ktest.h"

/* ---- kernel threads ------------------------------------------------------ */

static int runs;
static DECLARE_WAIT_QUEUE_HEAD(wq);
static int flag;

static int body(void *data)
{
	int *log = data;

	runs++;
	while (!kthread_should_stop()) {
		if (wait_event_interruptible(wq, flag || kthread_should_stop())) {
			(*log)++;	/* signalled */
			continue;
		}
		flag = 0;
		runs++;
	}
	return 42;
}

KTEST(kthread_runs_only_when_the_test_lets_it)
{
	int sig = 0;
	struct task_struct *t = kthread_create(body, &sig, "worker%d", 3);

	KT_FALSE(IS_ERR(t));
	KT_STREQ(kxh_task_name(t), "worker3");
	kxh_sched_run();
	KT_EQ(runs, 0);			/* not woken yet */
	wake_up_process(t);
	KT_EQ(runs, 0);
	kxh_sched_run();
	KT_EQ(runs, 1);
	KT_TRUE(kxh_task_sleeping(t));
	flag = 1;
	wake_up_interruptible(&wq);
	KT_EQ(runs, 1);
	kxh_sched_run();
	KT_EQ(runs, 2);
	kxh_task_signal(t);
	kxh_sched_run();
	KT_EQ(sig, 1);
	KT_EQ(runs, 2);
	KT_EQ(kthread_stop(t), 42);
	KT_EQ(kxh_kthreads(), 0);
}

KTEST(kthread_stopped_before_it_ran_never_runs)
{
	struct task_struct *t = kthread_create(body, NULL, "never");

	KT_EQ(kthread_stop(t), -EINTR);
	KT_EQ(runs, 0);
}

KTEST(kthread_creation_can_fail)
{
	kxh_fault_arm("kthread_create", 0, 1, -ENOMEM);
	KT_EQ(PTR_ERR(kthread_run(body, NULL, "x")), -ENOMEM);
	KT_EQ(kxh_kthreads(), 0);
}

static spinlock_t held_lock;

static int take_lock_and_sleep(void *data)
{
	spin_lock(&held_lock);
	wait_event_interruptible(wq, kthread_should_stop());
	return 0;
}

static void sleeping_with_a_lock(void)
{
	kthread_run(take_lock_and_sleep, NULL, "bad");
	kxh_sched_run();
}

KTEST(sleeping_thread_with_a_spin_lock_aborts)
{
	spin_lock_init(&held_lock);
	KT_TRUE(ktest_aborts(sleeping_with_a_lock));
}

/* ---- device tree --------------------------------------------------------- */

KTEST(nodes_by_name_and_phandle_count_references)
{
	struct device_node *a = kxh_of_add(NULL, "a");
	struct device_node *b = kxh_of_add(a, "pwm4");
	struct device_node *c = kxh_of_add(NULL, "pwm4");
	struct device_node *np;
	u32 v = 0;

	kxh_of_set_phandle(a, "link", c);
	kxh_of_set_u32(c, "current-speed", 9600);
	np = of_find_node_by_name(NULL, "pwm4");
	KT_TRUE(np == b);			/* depth first */
	np = of_find_node_by_name(np, "pwm4");	/* drops b, takes c */
	KT_TRUE(np == c);
	KT_EQ(kxh_of_refs(), 1);
	of_node_put(np);
	KT_TRUE(of_find_node_by_name(NULL, "none") == NULL);
	np = of_parse_phandle(a, "link", 0);
	KT_TRUE(np == c);
	KT_TRUE(of_parse_phandle(a, "link", 1) == NULL);
	KT_TRUE(of_parse_phandle(a, "other", 0) == NULL);
	KT_EQ(of_property_read_u32(np, "current-speed", &v), 0);
	KT_EQ(v, 9600);
	KT_EQ(of_property_read_u32(np, "none", &v), -EINVAL);
	of_node_put(np);
	KT_EQ(kxh_of_refs(), 0);
}

static void put_twice(void)
{
	struct device_node *n = kxh_of_add(NULL, "n");

	of_node_put(of_node_get(n));
	of_node_put(n);
}

KTEST(dropping_a_reference_not_held_aborts)
{
	KT_TRUE(ktest_aborts(put_twice));
}

KTEST(interrupts_map_request_fire_and_free)
{
	struct device_node *n = kxh_of_add(NULL, "pwm4");
	unsigned int virq;

	KT_EQ(irq_of_parse_and_map(n, 0), 0);
	kxh_of_set_interrupt(n, 3);
	virq = irq_of_parse_and_map(n, 0);
	KT_TRUE(virq > 0);
	KT_EQ(kxh_irq_mappings(), 1);
	KT_EQ(request_irq(virq, timer_irq, IRQF_TIMER, "t", NULL), 0);
	KT_EQ(request_irq(virq, timer_irq, IRQF_TIMER, "t", NULL), -EBUSY);
	KT_EQ(kxh_irqs_requested(), 1);
	KT_STREQ((const char *)free_irq(virq, NULL), "t");
	KT_EQ(kxh_irq_fire(virq), IRQ_NONE);
	irq_dispose_mapping(virq);
	KT_EQ(kxh_irq_mappings(), 0);
}

/* ---- platform devices, PHYs, GPIOs ------------------------------------- */

static int probe_result = -EPROBE_DEFER;
static int probes, removes;

static int t_probe(struct platform_device *pdev)
{
	probes++;
	if (!devm_kzalloc(&pdev->dev, 64, GFP_KERNEL))
		return -ENOMEM;
	return probe_result;
}

static int t_remove(struct platform_device *pdev)
{
	removes++;
	return 0;
}

static const struct of_device_id t_match[] = { { .compatible = "kx,test" }, { } };
static struct platform_driver t_driver = {
	.probe = t_probe, .remove = t_remove,
	.driver = { .name = "t", .of_match_table = t_match },
};

KTEST(deferred_probe_is_retried_when_devices_appear)
{
	struct device_node *n = kxh_of_add(NULL, "dev");
	struct device_node *p = kxh_of_add(NULL, "phy");
	struct platform_device *pdev;
	struct phy_device *phy;
	long slab = kxh_slab_live();

	kxh_of_set_compatible(n, "kx,test");
	pdev = kxh_platform_device_add("dev", n);
	KT_EQ(probes, 0);			/* no driver yet */
	KT_EQ(platform_driver_register(&t_driver), 0);
	KT_EQ(probes, 1);
	KT_TRUE(pdev->kxh_deferred);
	KT_EQ(kxh_slab_live(), slab);		/* device-managed memory released */
	probe_result = 0;
	phy = kxh_phy_add(p, "phy");
	KT_EQ(probes, 2);
	KT_TRUE(pdev->kxh_bound);
	KT_TRUE(of_phy_find_device(p) == phy);
	KT_EQ(phy->mdio.dev.kxh_refs, 1);
	put_device(&phy->mdio.dev);
	KT_TRUE(of_find_device_by_node(n) == pdev);
	put_device(&pdev->dev);
	platform_driver_unregister(&t_driver);
	KT_EQ(removes, 1);
	KT_FALSE(pdev->kxh_bound);
	KT_EQ(kxh_slab_live(), slab);
	KT_EQ(kxh_platform_drivers(), 0);
	kxh_platform_device_del(pdev);
	kxh_phy_del(phy);
}

KTEST(optional_gpio_from_the_node)
{
	struct device_node *n = kxh_of_add(NULL, "dev");
	struct gpio_desc *led = kxh_gpio_new("led", 1);
	struct device dev;

	kxh_device_init(&dev, "dev");
	dev.of_node = n;
	KT_TRUE(gpiod_get_optional(&dev, "pps-led", GPIOD_OUT_LOW) == NULL);
	kxh_of_set_gpio(n, "pps-led-gpios", led);
	KT_TRUE(gpiod_get_optional(&dev, "pps-led", GPIOD_OUT_LOW) == led);
	KT_EQ(kxh_gpio_value(led), 0);
	KT_TRUE(kxh_gpio_is_output(led));
	KT_EQ(PTR_ERR(gpiod_get_optional(&dev, "pps-led", GPIOD_OUT_LOW)), -EBUSY);
	gpiod_put(led);
	KT_FALSE(kxh_gpio_requested(led));
}

/* ---- the system clock ------------------------------------------------------ */

KTEST(settimeofday_sets_the_virtual_clock)
{
	struct timespec64 ts = { .tv_sec = 1000, .tv_nsec = 5 };

	KT_EQ(do_settimeofday64(&ts), 0);
	KT_EQ(kxh_time_real_ns(), 1000000000005LL);
	ts.tv_nsec = NSEC_PER_SEC;
	KT_EQ(do_settimeofday64(&ts), -EINVAL);
	KT_EQ(kxh_time_settime_count(), 1);
	kxh_time_advance_ns(10);
	KT_EQ(kxh_time_real_ns(), 1000000000015LL);
}
