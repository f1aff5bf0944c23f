// SPDX-License-Identifier: GPL-2.0
/*
 * The host layer's interfaces for the serial half, against the kernel's
 * behaviour: kstrto* parsing rules, mktime64, the wait_event family's
 * return values and sleeps, the simulated UART bus, character devices and
 * user copies.
 */
#include <string.h>

#include <linux/cdev.h>
#include <linux/module.h>
#include <linux/device.h>
#include <linux/kstrtox.h>
#include <linux/serdev.h>
#include <linux/spinlock.h>
#include <linux/time.h>
#include <linux/uaccess.h>
#include <linux/wait.h>
#include <kxhost.h>
#include "ktest.h"

/* ---- kstrto* ------------------------------------------------------------- */

static int u(const char *s, unsigned int base, unsigned int *v)
{
	*v = 777;
	return kstrtouint(s, base, v);
}

KTEST(kstrtouint_accepts_digits_a_plus_and_one_newline)
{
	static const struct { const char *s; unsigned int base, want; } rows[] = {
		{ "0", 10, 0 }, { "+5", 10, 5 }, { "5\n", 10, 5 },
		{ "0004294967295", 10, 4294967295u }, { "0x1f", 16, 31 },
		{ "010", 0, 8 }, { "0x10", 0, 16 },
	};
	unsigned int v;

	KT_ROWS(r, rows) {
		KT_EQ(u(r->s, r->base, &v), 0);
		KT_EQ(v, r->want);
	}
}

KTEST(kstrtouint_refuses_everything_else_and_leaves_the_result)
{
	static const struct { const char *s; unsigned int base; int err; } rows[] = {
		{ "", 10, -EINVAL }, { "\n", 10, -EINVAL }, { "+", 10, -EINVAL },
		{ "5\n\n", 10, -EINVAL }, { " 5", 10, -EINVAL }, { "5 ", 10, -EINVAL },
		{ "-1", 10, -EINVAL }, { "-0", 10, -EINVAL }, { "++5", 10, -EINVAL },
		{ "5a", 10, -EINVAL }, { "0x10", 10, -EINVAL }, { "1.0", 10, -EINVAL },
		{ "\n5", 10, -EINVAL }, { "0x", 16, -EINVAL },
		{ "4294967296", 10, -ERANGE }, { "18446744073709551616", 10, -ERANGE },
	};
	unsigned int v;

	KT_ROWS(r, rows) {
		KT_EQ(u(r->s, r->base, &v), r->err);
		KT_EQ(v, 777);
	}
}

KTEST(kstrtoint_limits)
{
	int v;

	KT_EQ(kstrtoint("-2147483648", 10, &v), 0);
	KT_EQ(v, -2147483647 - 1);
	KT_EQ(kstrtoint("-2147483649", 10, &v), -ERANGE);
	KT_EQ(kstrtoint("2147483648", 10, &v), -ERANGE);
	KT_EQ(kstrtoint("+-1", 10, &v), -EINVAL);
}

/* ---- mktime64 ------------------------------------------------------------- */

KTEST(mktime64_values)
{
	KT_EQ(mktime64(1970, 1, 1, 0, 0, 0), 0);
	KT_EQ(mktime64(2000, 3, 1, 0, 0, 0), 951868800LL);
	KT_EQ(mktime64(2024, 2, 29, 12, 0, 0), 1709208000LL);
	KT_EQ(mktime64(2026, 12, 6, 12, 34, 56), 1796560496LL);
	KT_EQ(mktime64(2100, 3, 1, 0, 0, 0) - mktime64(2100, 2, 28, 0, 0, 0), 86400);
	/* no range checks: second 60 and day 31 roll over */
	KT_EQ(mktime64(2026, 12, 6, 23, 59, 60), mktime64(2026, 12, 7, 0, 0, 0));
	KT_EQ(mktime64(2026, 11, 31, 0, 0, 0), mktime64(2026, 12, 1, 0, 0, 0));
}

/* ---- wait queues ------------------------------------------------------------ */

static DECLARE_WAIT_QUEUE_HEAD(wq);
static int cond, steps, cond_at, signal_at, wake_at = -1;

static void hook(void *arg)
{
	steps++;
	if (steps == cond_at) {
		cond = 1;
		wake_up(&wq);
	}
	if (steps == wake_at)
		wake_up(&wq);
	if (steps == signal_at)
		kxh_signal_raise();
}

KTEST(wait_timeout_return_values)
{
	s64 t0 = kxh_time_mono_ns();

	kxh_wait_set_hook(hook, NULL);
	cond = 1;
	KT_EQ(wait_event_interruptible_timeout(wq, cond, 30), 30);
	KT_EQ(wait_event_interruptible_timeout(wq, cond, 0), 1);
	cond = 0;
	KT_EQ(wait_event_interruptible_timeout(wq, cond, 0), 0);
	KT_EQ(steps, 0);
	/* the condition comes true in the 5th step: 4 jiffies passed */
	cond_at = 5;
	KT_EQ(wait_event_interruptible_timeout(wq, cond, 30), 26);
	KT_EQ(kxh_time_mono_ns() - t0, 4 * 4000000LL);
	/* runs out */
	cond = 0;
	steps = 0;
	cond_at = 0;
	KT_EQ(wait_event_timeout(wq, cond, 10), 0);
	KT_EQ(steps, 10);
}

KTEST(a_wake_up_without_the_condition_sleeps_again)
{
	kxh_wait_set_hook(hook, NULL);
	wake_at = 2;
	cond_at = 6;
	KT_EQ(wait_event_interruptible_timeout(wq, cond, 100), 100 - 4);
	KT_EQ(steps, 6);
}

KTEST(signals_end_interruptible_waits_only)
{
	kxh_wait_set_hook(hook, NULL);
	signal_at = 3;
	KT_EQ(wait_event_interruptible(wq, cond), -ERESTARTSYS);
	KT_EQ(steps, 3);
	/* uninterruptible: the signal does not end it, the condition does */
	steps = 0;
	cond_at = 7;
	wait_event(wq, cond);
	KT_EQ(steps, 7);
	/* a condition true at once wins over the pending signal */
	KT_EQ(wait_event_interruptible(wq, cond), 0);
}

static void sleep_forever(void)
{
	wait_event(wq, cond);
}

static void sleep_under_lock(void)
{
	static DEFINE_SPINLOCK(l);

	spin_lock(&l);
	(void)wait_event_interruptible_timeout(wq, cond, 5);
}

static void wake_uninitialised(void)
{
	wait_queue_head_t q;

	memset(&q, 0, sizeof(q));
	wake_up(&q);
}

KTEST(waits_that_would_hang_or_sleep_in_atomic_context_abort)
{
	KT_TRUE(ktest_aborts(sleep_forever));
	KT_TRUE(ktest_aborts(sleep_under_lock));
	KT_TRUE(ktest_aborts(wake_uninitialised));
}

/* ---- serial device bus ------------------------------------------------------ */

static int probes, removes, close_in_remove = 1;
static const struct serdev_device_ops no_ops;

static int t_probe(struct serdev_device *sd)
{
	void *p = devm_kzalloc(&sd->dev, 100, GFP_KERNEL);

	probes++;
	if (!p)
		return -ENOMEM;
	serdev_device_set_client_ops(sd, &no_ops);
	serdev_device_set_drvdata(sd, p);
	return serdev_device_open(sd);
}

static void t_remove(struct serdev_device *sd)
{
	removes++;
	if (close_in_remove)
		serdev_device_close(sd);
}

static const struct of_device_id t_match[] = { { .compatible = "acme,uart" }, { } };
static struct serdev_device_driver t_drv = {
	.probe = t_probe,
	.remove = t_remove,
	.driver = { .name = "t-uart", .of_match_table = t_match },
};

KTEST(serdev_binds_by_compatible_and_releases_managed_memory)
{
	struct serdev_device *a = kxh_serdev_new("acme,uart");
	struct serdev_device *b = kxh_serdev_new("other,uart");
	long live = kxh_slab_live();

	kxh_serdev_add(a);
	kxh_serdev_add(b);
	KT_EQ(serdev_device_driver_register(&t_drv), 0);
	KT_EQ(probes, 1);
	KT_TRUE(kxh_serdev_bound(a));
	KT_FALSE(kxh_serdev_bound(b));
	KT_EQ(kxh_devres_count(&a->dev), 1);
	KT_EQ(kxh_serdev_speed(a), 9600);
	KT_EQ(serdev_device_set_baudrate(a, 57600), 57600);
	KT_EQ(serdev_device_write(a, (const unsigned char *)"hey", 3, 50), 3);
	KT_EQ(kxh_serdev_write_get(a, 0).speed, 57600);
	serdev_device_driver_unregister(&t_drv);
	KT_EQ(removes, 1);
	KT_FALSE(kxh_serdev_bound(a));
	KT_EQ(serdev_device_get_drvdata(a), NULL);
	KT_EQ(kxh_slab_live(), live);
	kxh_serdev_del(a);
	kxh_serdev_del(b);
}

static void remove_leaving_port_open(void)
{
	struct serdev_device *a = kxh_serdev_new("acme,uart");

	close_in_remove = 0;
	kxh_serdev_add(a);
	if (serdev_device_driver_register(&t_drv))
		return;
	serdev_device_driver_unregister(&t_drv);
}

static void write_on_closed_port(void)
{
	struct serdev_device *a = kxh_serdev_new("acme,uart");

	serdev_device_write(a, (const unsigned char *)"x", 1, 50);
}

/*
 * Bytes leave one after another, 10 bit times each at the speed in force
 * when each starts: a speed change catches what has not left, unless the
 * writer waits until all is sent first; closing lets the rest go out.
 */
KTEST(serdev_bytes_leave_at_the_speed_of_their_turn)
{
	static const struct {
		const char *name;
		bool wait;		/* wait_until_sent before the change */
		s64 pause_ns;		/* time between write and change */
		unsigned int want[4];	/* speed each byte left at */
	} rows[] = {
		{ "at once", false, 0, { 9600, 115200, 115200, 115200 } },
		{ "two bytes later", false, 2083334, { 9600, 9600, 9600, 115200 } },
		{ "waited", true, 0, { 9600, 9600, 9600, 9600 } },
	};
	struct serdev_device *a = kxh_serdev_new("acme,uart");
	unsigned int i;
	s64 t0, took;

	kxh_serdev_add(a);
	KT_EQ(serdev_device_driver_register(&t_drv), 0);
	KT_ROWS(r, rows) {
		serdev_device_set_baudrate(a, 9600);
		kxh_time_advance_ns(1000000000LL);
		kxh_serdev_tx_clear(a);
		serdev_device_write(a, (const unsigned char *)"$abc", 4, 50);
		/* the first byte is on the line at once */
		KT_EQ(kxh_serdev_tx_waiting(a), 3);
		t0 = kxh_time_mono_ns();
		kxh_time_advance_ns(r->pause_ns);
		if (r->wait)
			serdev_device_wait_until_sent(a, 50);
		took = kxh_time_mono_ns() - t0;
		serdev_device_set_baudrate(a, 115200);
		kxh_time_advance_ns(1000000000LL);
		for (i = 0; i < 4; i++)
			KT_EQ(kxh_serdev_tx_speed(a, i), r->want[i]);
		KT_EQ(kxh_serdev_write_line_speed(a, 0), r->wait ? 9600 : 0);
		/* waiting sleeps (virtual time) for four 10-bit bytes at 9600 baud */
		if (r->wait)
			KT_TRUE(took >= 4 * 1041666 && took < 4 * 1041666 + 1000);
	}
	/* closing drains what waits, at the speed of the moment */
	serdev_device_write(a, (const unsigned char *)"xy", 2, 50);
	serdev_device_driver_unregister(&t_drv);
	KT_EQ(kxh_serdev_tx_waiting(a), 0);
	KT_EQ(kxh_serdev_write_line_speed(a, 1), 115200);
	kxh_serdev_del(a);
}

KTEST(serdev_driver_faults_abort)
{
	KT_TRUE(ktest_aborts(remove_leaving_port_open));
	KT_TRUE(ktest_aborts(write_on_closed_port));
}

/* ---- character devices and user copies -------------------------------------- */

KTEST(device_nodes_regions_and_classes)
{
	struct class *c = class_create("acme");
	struct device *d;
	dev_t first;
	int err;

	KT_EQ(alloc_chrdev_region(&first, 0, 2, "acme"), 0);
	d = device_create(c, NULL, first, NULL, "acme%d", 0);
	KT_FALSE(IS_ERR(d));
	KT_EQ(PTR_ERR(device_create(c, NULL, first + 1, NULL, "acme0")), -EEXIST);
	KT_EQ(kxh_devnode_devt("/dev/acme0"), first);
	/* a node without a character device behind it */
	KT_EQ(kxh_file_open("/dev/acme0", O_RDONLY, &err), NULL);
	KT_EQ(err, -ENXIO);
	KT_EQ(kxh_file_open("/dev/none", O_RDONLY, &err), NULL);
	KT_EQ(err, -ENOENT);
	device_destroy(c, first);
	class_destroy(c);
	unregister_chrdev_region(first, 2);
	KT_EQ(kxh_chrdev_regions(), 0);
}

KTEST(user_copy_faults)
{
	char dst[4] = "abc";

	KT_EQ(copy_to_user(dst, "xyz", 3), 0);
	KT_EQ(memcmp(dst, "xyz", 3), 0);
	kxh_fault_arm("copy_from_user", 0, 1, -EFAULT);
	KT_EQ(copy_from_user(dst, "123", 3), 3);
	/* what could not be copied is zeroed */
	KT_EQ(dst[0], 0);
	KT_EQ(copy_to_user(NULL, "1", 1), 1);
}
