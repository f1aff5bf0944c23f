// SPDX-License-Identifier: GPL-2.0
/* The /sys/pps_filter attributes: creation, show texts, stores and their effects. */
#include <stdlib.h>
#include <string.h>

#include "kx_fixture.h"
#include "ktest.h"

#define N0 25000000U

static char text[4096];

/* the host layer's sscanf (the kernel's rules), not the C library's */
extern int kernel_sscanf(const char *buf, const char *fmt, ...) __asm__("sscanf")
	__attribute__((__format__(scanf, 2, 3)));

/* read pps_filter/<name>; the text lands in `text` */
static ssize_t rd(const char *name)
{
	char path[128];

	snprintf(path, sizeof(path), "pps_filter/%s", name);
	text[0] = 0;
	return kxh_sysfs_read(path, text, sizeof(text));
}

static ssize_t wr(const char *name, const char *value)
{
	char path[128];

	snprintf(path, sizeof(path), "pps_filter/%s", name);
	return kxh_sysfs_write(path, value);
}

/* the files in creation order, the names their creation failures give,
 * and whether they can be read (show) and written (store) */
static const struct {
	const char *name, *fail_msg;
	bool show, store;
} files[] = {
	{ "k1", "k1", 1, 1 }, { "k2", "k2", 1, 1 }, { "pause", "pause_attr", 1, 1 },
	{ "gpsfix", "gpsfix", 1, 0 }, { "tai_offset", "tai_offset", 1, 1 },
	{ "gpsmode", "gpsmode", 1, 1 }, { "timeknown", "timeknown", 1, 0 },
	{ "holdover_time", "holdover", 1, 0 },
	{ "holdover_setting", "holdover_time", 1, 1 },
	{ "prv_integ_fp", "prvintegfp", 1, 1 }, { "freqcorr", "freqcorr", 1, 0 },
	{ "freqcorrdelta", "freqcorrdelta", 1, 0 }, { "gps_time_set", "gps_time", 1, 0 },
	{ "phy_delta1", "delta1", 1, 0 }, { "phy_delta2", "delta2", 1, 0 },
	{ "manualtime", "manualtime", 0, 1 }, { "ppsled", "ppsled", 0, 1 },
	{ "deleth0", "delta_eth0", 0, 1 }, { "deleth1", "delta_eth1", 0, 1 },
};

/* a probed-looking record with its port queues, no threads */
static struct pps_priv priv;

static void with_record(void)
{
	int i;

	for (i = 0; i < 2; i++) {
		priv.phy_i[i].port = i;
		spin_lock_init(&priv.phy_i[i].ts_lock);
		init_waitqueue_head(&priv.phy_i[i].adj_wq);
		if (kfifo_alloc(&priv.phy_i[i].ts_fifo, 1024, GFP_KERNEL))
			abort();
	}
	priv.led_gpio = kxh_gpio_new("pps-led", 0);
	g_pps = &priv;
}

KTEST(nineteen_files_with_mode_0660_refusing_what_they_lack)
{
	char path[64];

	KT_EQ(pps_sysfs_create(), 0);
	KT_TRUE(kobj_ref != NULL);
	KT_EQ(kxh_sysfs_files("pps_filter"), 19);
	KT_ROWS(f, files) {
		snprintf(path, sizeof(path), "pps_filter/%s", f->name);
		KT_EQ(kxh_sysfs_mode(path), 0660);
		if (!f->show)
			KT_EQ(rd(f->name), -EIO);
		if (!f->store)
			KT_EQ(wr(f->name, "0"), -EIO);
	}
	KT_EQ(kxh_log_count(), 0);
}

KTEST(every_creation_failure_is_logged_in_table_order)
{
	char want[80];

	kxh_fault_arm("sysfs_create_file", 0, 19, -ENOMEM);
	KT_EQ(pps_sysfs_create(), 0);
	KT_EQ(kxh_sysfs_files("pps_filter"), 0);
	KT_EQ(kxh_log_count(), 19);
	KT_ROWS(f, files) {
		snprintf(want, sizeof(want), "Cannot create sysfs file %s......\n", f->fail_msg);
		KT_EQ(kxh_log_get(ktest_row)->level, 6);
		KT_STREQ(kxh_log_get(ktest_row)->text, want);
	}
	/* nothing created, nothing removed; the directory still goes */
	pps_sysfs_remove_filter();
	KT_EQ(kxh_kobjects(), 0);
	KT_EQ(kxh_log_count_exact(6, "All sysfs_remove_file call done\n"), 1);
	KT_EQ(kxh_log_count_exact(6, "kobject_put done\n"), 1);
}

KTEST(one_failed_file_leaves_the_others)
{
	kxh_fault_arm("sysfs_create_file", 2, 1, -EEXIST);
	pps_sysfs_create();
	KT_EQ(kxh_log_count(), 1);
	KT_STREQ(kxh_log_get(0)->text, "Cannot create sysfs file pause_attr......\n");
	KT_EQ(kxh_sysfs_files("pps_filter"), 18);
	KT_FALSE(kxh_sysfs_exists("pps_filter/pause"));
	KT_TRUE(kxh_sysfs_exists("pps_filter/gpsfix"));
	pps_sysfs_remove_filter();
	KT_FALSE(kxh_sysfs_exists("pps_filter"));
	KT_EQ(kxh_kobjects(), 0);
	KT_TRUE(kobj_ref == NULL);
}

KTEST(no_directory_no_files_and_removal_does_nothing)
{
	kxh_fault_arm("kobject_create_and_add", 0, 1, -ENOMEM);
	pps_sysfs_create();
	KT_EQ(kxh_log_count(), 1);
	KT_EQ(kxh_log_get(0)->level, 3);
	KT_STREQ(kxh_log_get(0)->text, "pps: kobject_create_and_add failed\n");
	KT_EQ(kxh_fault_hits("sysfs_create_file"), 0);
	pps_sysfs_remove_filter();
	KT_EQ(kxh_log_count(), 1);
}

KTEST(removal_in_order_then_recreation)
{
	pps_sysfs_create();
	pps_sysfs_remove_filter();
	KT_EQ(kxh_log_count(), 2);
	KT_STREQ(kxh_log_get(0)->text, "All sysfs_remove_file call done\n");
	KT_STREQ(kxh_log_get(1)->text, "kobject_put done\n");
	/* the created-flags were cleared: a second load creates all again */
	KT_EQ(pps_sysfs_create(), 0);
	KT_EQ(kxh_sysfs_files("pps_filter"), 19);
	pps_sysfs_remove_filter();
	KT_EQ(kxh_kobjects(), 0);
}

KTEST(gains_at_load_show_value_and_scaled_value)
{
	pps_sysfs_create();
	KT_EQ(rd("k1"), 13);
	KT_STREQ(text, "200 (134200)\n");
	KT_EQ(rd("k2"), 16);
	KT_STREQ(text, "10000 (6710000)\n");
}

KTEST(gain_stores_follow_the_kernel_scanf_within_the_exact_range)
{
	/* in turn: a refused or unparsable text leaves the gain as it was */
	static const struct { const char *file, *text; int ret, k1, k2; } rows[] = {
		{ "k1", "350\n", 4, 350, 10000 },
		{ "k1", "abc", 3, 350, 10000 },
		/* the kernel's scanf takes no plus sign and no hex prefix for %d */
		{ "k1", "+5", 2, 350, 10000 },
		{ "k1", "0x10", 4, 0, 10000 },
		{ "k1", "  -7 junk", 9, -7, 10000 },
		{ "k1", "", 0, -7, 10000 },
		{ "k2", "12abc", 5, -7, 12 },
		/* beyond the range where the scaled products stay exact */
		{ "k1", "2068960", 7, 2068960, 12 },
		{ "k1", "2068961", -EINVAL, 2068960, 12 },
		{ "k1", "-2068961", -EINVAL, 2068960, 12 },
		{ "k1", "-2068960", 8, -2068960, 12 },
		/* digits beyond 64 bits wrap, and the wrapped value is checked too */
		{ "k1", "99999999999", -EINVAL, -2068960, 12 },
		/* k2 never enters the loop: the whole s32 range is stored */
		{ "k2", "3200422", 7, -2068960, 3200422 },
		{ "k2", "-2147483648", 11, -2068960, -2147483647 - 1 },
	};

	pps_sysfs_create();
	KT_ROWS(r, rows) {
		KT_EQ(wr(r->file, r->text), r->ret);
		KT_EQ(k1_hundred_thou_value, r->k1);
		KT_EQ(k2_hundred_thou_value, r->k2);
	}
	rd("k1");
	KT_STREQ(text, "-2068960 (-1388272160)\n");
	rd("k2");
	KT_STREQ(text, "-2147483648 (-1440961527808)\n");
	wr("k1", "-7");
	rd("k1");
	KT_STREQ(text, "-7 (-4697)\n");
}

KTEST(k1_store_takes_effect_from_the_next_pulse)
{
	fx_board();
	pps_sysfs_create();
	fx_pulse(1000);			/* reference */
	fx_pulse(1000 + N0 + 1);	/* -134,200 */
	KT_EQ(integ_fp, -134200);
	wr("k1", "400");
	fx_pulse(1000 + 2 * N0 + 2);
	KT_EQ(integ_fp, -134200 - 400 * 671);
}

KTEST(pause_holds_the_loop_and_resume_reseeds)
{
	fx_board();
	pps_sysfs_create();
	KT_EQ(rd("pause"), 2);
	KT_STREQ(text, "0\n");
	fx_pulse(0);
	fx_pulse(N0 + 1);
	KT_EQ(integ_fp, -134200);
	KT_EQ(wr("pause", "1"), 1);
	KT_EQ(rd("pause"), 2);
	KT_STREQ(text, "1\n");
	fx_pulse(2 * N0 + 50);
	KT_EQ(integ_fp, -134200);
	/* unparsable while paused: stays paused, no re-seed asked */
	initial_calc = false;
	KT_EQ(wr("pause", "x"), 1);
	KT_TRUE(filter_pause);
	KT_FALSE(initial_calc);
	KT_EQ(wr("pause", "0\n"), 2);
	KT_FALSE(filter_pause);
	KT_TRUE(initial_calc);
	/* unparsable while running: the re-seed is still asked */
	fx_pulse(3 * N0);
	KT_FALSE(initial_calc);
	KT_EQ(wr("pause", "x"), 1);
	KT_TRUE(initial_calc);
	/* other values than 0 and 1 pause as well */
	wr("pause", "5");
	KT_TRUE(filter_pause);
	rd("pause");
	KT_STREQ(text, "1\n");
}

KTEST(s32_files_show_and_store_their_own_value)
{
	/* value at load (-1: write-only file), whether writable */
	static const struct { const char *name; s32 *v; int load; bool store; } rows[] = {
		{ "gpsfix", &gGPSFix, 0, 0 },
		{ "holdover_time", &holdover_time_sec, 0, 0 },
		{ "gps_time_set", &gps_time_set, 0, 0 },
		{ "tai_offset", &tai_offset_value, 37, 1 },
		{ "holdover_setting", &holdover_setting, 0, 1 },
		{ "gpsmode", &gGPSMode, 0, 1 },
		{ "deleth0", &gDelta_eth0, -1, 1 },
		{ "deleth1", &gDelta_eth1, -1, 1 },
	};
	char want[16];

	pps_sysfs_create();
	KT_ROWS(r, rows) {
		if (r->load >= 0) {
			KT_EQ(rd(r->name), 2 + (r->load > 9));
			snprintf(want, sizeof(want), "%d\n", r->load);
			KT_STREQ(text, want);
			*r->v = -1234567 - ktest_row;
			rd(r->name);
			snprintf(want, sizeof(want), "%d\n", -1234567 - ktest_row);
			KT_STREQ(text, want);
		}
		if (r->store) {
			KT_EQ(wr(r->name, "1000\n"), 5);
			KT_EQ(*r->v, 1000);
			KT_EQ(wr(r->name, "soon"), 4);
			KT_EQ(*r->v, 1000);
			KT_EQ(wr(r->name, "-25"), 3);
			KT_EQ(*r->v, -25);
		} else {
			KT_EQ(wr(r->name, "0"), -EIO);
			KT_EQ(*r->v, -1234567 - ktest_row);
		}
	}
}

/*
 * The holdover limit survives a reload: modprobe sets the module parameter
 * holdover_limit at every load (from /etc/modprobe.d/kx-pps.conf; here, as
 * insmod would, before the load), and the attribute holdover_setting is
 * the same value, both ways.
 */
KTEST(the_holdover_limit_is_the_parameter_set_at_load_and_the_attribute)
{
	char param[32];

	KT_EQ(kxh_param_mode("holdover_limit"), 0644);
	holdover_setting = 7200;	/* "options kx-pps holdover_limit=7200" */
	KT_EQ(pps_sysfs_create(), 0);
	KT_EQ(rd("holdover_setting"), 5);
	KT_STREQ(text, "7200\n");
	KT_TRUE(wr("holdover_setting", "600") > 0);
	KT_EQ(kxh_param_show("holdover_limit", param, sizeof(param)), 4);
	KT_STREQ(param, "600\n");
	/* and it is the limit the holdover update applies */
	gps_time_set = 1;
	pps_holdover_update(1);
	holdover_time_sec = 599;
	pps_holdover_update(0);
	KT_FALSE(time_known);
}

KTEST(timeknown_shows_0_or_1)
{
	pps_sysfs_create();
	KT_EQ(rd("timeknown"), 2);
	KT_STREQ(text, "0\n");
	time_known = true;
	rd("timeknown");
	KT_STREQ(text, "1\n");
}

KTEST(gpsmode_sets_the_apply_request_only_for_modes_0_to_6)
{
	static const struct { const char *text; s32 mode; bool request; } rows[] = {
		{ "3", 3, 1 }, { "7", 7, 0 }, { "6", 6, 1 }, { "-1", -1, 0 }, { "0", 0, 1 },
	};

	pps_sysfs_create();
	KT_ROWS(r, rows) {
		KT_EQ(wr("gpsmode", r->text), strlen(r->text));
		KT_EQ(gGPSMode, r->mode);
		KT_EQ(gSetGPSMode, r->request);
	}
	/* unparsable text recomputes the request from the unchanged mode */
	gSetGPSMode = false;		/* the serial link sent the command */
	KT_EQ(wr("gpsmode", "none"), 4);
	KT_EQ(gGPSMode, 0);
	KT_TRUE(gSetGPSMode);
}

KTEST(prv_integ_fp_seed_moves_the_dac_at_once)
{
	fx_board();
	pps_sysfs_create();
	fx_pulse(0);
	fx_pulse(N0 + 1);
	kxh_wq_run_all();
	kxh_i2c_clear();
	KT_EQ(rd("prv_integ_fp"), 8);
	KT_STREQ(text, "-134200\n");

	KT_EQ(wr("prv_integ_fp", "67108864\n"), 9);
	KT_EQ(new_prv_integ_fp, 67108864);
	KT_EQ(filtered_integ, 67108864);
	KT_TRUE(initial_calc);
	KT_EQ(integ_num, 1);
	KT_EQ(integ_dec, 0);
	KT_EQ(kxh_wq_pending(dac_workq), 1);
	KT_EQ(kxh_wq_run(dac_workq), 1);
	KT_EQ(fx_dac_writes(), 1);
	KT_EQ(fx_dac_code(0), pps_dac_code(67108864));
	rd("freqcorr");
	KT_STREQ(text, " 1.0000\n");
	/* the integrator shown is the loop's until the next pulse re-seeds it */
	rd("prv_integ_fp");
	KT_STREQ(text, "-134200\n");
	fx_pulse(2 * N0 + 1);
	rd("prv_integ_fp");
	KT_STREQ(text, "67108864\n");
}

KTEST(prv_integ_fp_unparsable_applies_the_seed_again)
{
	fx_board();
	pps_sysfs_create();
	wr("prv_integ_fp", "-33554432");
	kxh_wq_run_all();
	filtered_integ = 5;
	initial_calc = false;
	kxh_i2c_clear();
	KT_EQ(wr("prv_integ_fp", "abc"), 3);
	KT_EQ(new_prv_integ_fp, -33554432);
	KT_EQ(filtered_integ, -33554432);
	KT_TRUE(initial_calc);
	KT_EQ(integ_num, 0);
	KT_EQ(integ_dec, -5000);
	kxh_wq_run_all();
	KT_EQ(fx_dac_writes(), 1);
	KT_EQ(fx_dac_code(0), pps_dac_code(-33554432));
}

KTEST(prv_integ_fp_without_dac_queue_still_seeds)
{
	pps_sysfs_create();
	KT_EQ(wr("prv_integ_fp", "1000"), 4);
	KT_EQ(filtered_integ, 1000);
	KT_TRUE(initial_calc);
	KT_EQ(kxh_wq_run_all(), 0);
}

KTEST(correction_figures_come_from_the_loop)
{
	fx_board();
	pps_sysfs_create();
	KT_EQ(rd("freqcorrdelta"), 5);
	KT_STREQ(text, "none\n");
	fx_pulse(0);
	fx_pulse(N0 - 50);
	KT_EQ(rd("freqcorr"), 8);
	KT_STREQ(text, " 0.0999\n");	/* 6,710,000 / 2^26, truncated */
	rd("freqcorrdelta");
	KT_STREQ(text, "67100\n");
}

KTEST(phy_deltas_need_a_probed_device)
{
	pps_sysfs_create();
	KT_EQ(rd("phy_delta1"), -ENODEV);
	KT_EQ(rd("phy_delta2"), -ENODEV);
	with_record();
	priv.phy_i[0].last_delta = -200;
	priv.phy_i[1].last_delta = 1234567890123LL;
	KT_EQ(rd("phy_delta1"), 5);
	KT_STREQ(text, "-200\n");
	rd("phy_delta2");
	KT_STREQ(text, "1234567890123\n");
}

KTEST(manualtime_before_probe_is_enodev_with_the_alert)
{
	pps_sysfs_create();
	KT_EQ(wr("manualtime", "1"), -ENODEV);
	KT_EQ(kxh_log_count_exact(1, "g_pps/cap0/cap1 pointer error!!!\n"), 1);
}

KTEST(manualtime_raises_both_ports_and_drops_stale_stamps)
{
	u8 stamp[16] = { 1 };

	pps_sysfs_create();
	with_record();
	kfifo_in(&priv.phy_i[0].ts_fifo, stamp, sizeof(stamp));
	kfifo_in(&priv.phy_i[1].ts_fifo, stamp, sizeof(stamp));
	KT_EQ(wr("manualtime", "now\n"), 4);
	KT_EQ(atomic_read(&priv.phy_i[0].adj_pending), 1);
	KT_EQ(atomic_read(&priv.phy_i[1].adj_pending), 1);
	KT_TRUE(kfifo_is_empty(&priv.phy_i[0].ts_fifo));
	KT_TRUE(kfifo_is_empty(&priv.phy_i[1].ts_fifo));
	KT_EQ(priv.phy_i[0].adj_wq.kxh_wakeups, 1);
	KT_EQ(priv.phy_i[1].adj_wq.kxh_wakeups, 1);
	/* a second request before the threads ran wakes nobody again */
	wr("manualtime", "again");
	KT_EQ(priv.phy_i[0].adj_wq.kxh_wakeups, 1);
	KT_EQ(kxh_log_count(), 0);
}

KTEST(ppsled_flashes_the_led_for_500_ms_once_probed)
{
	pps_sysfs_create();
	KT_EQ(wr("ppsled", "1"), 1);
	KT_EQ(kxh_wq_run_all(), 0);
	with_record();
	KT_EQ(wr("ppsled", "anything"), 8);
	KT_EQ(kxh_gpio_value(priv.led_gpio), 1);
	kxh_wq_run_all();
	KT_EQ(kxh_gpio_value(priv.led_gpio), 0);
	KT_EQ(kxh_gpio_changes(priv.led_gpio), 2);
	KT_TRUE(kxh_gpio_change(priv.led_gpio, 1)->mono_ns -
		kxh_gpio_change(priv.led_gpio, 0)->mono_ns >= 500000000LL);
}

KTEST(kernel_scanf_conversions)
{
	int a = -1, b = -1, n = -1;
	long long ll = 0;
	unsigned int u = 0;
	char s[16];

	KT_EQ(kernel_sscanf("12 34", "%d %d", &a, &b), 2);
	KT_EQ(a, 12);
	KT_EQ(b, 34);
	KT_EQ(kernel_sscanf("-9223372036854775808", "%lld", &ll), 1);
	KT_TRUE(ll == S64_MIN);
	KT_EQ(kernel_sscanf("18446744073709551617", "%lld", &ll), 1);
	KT_EQ(ll, 1);			/* wrapped */
	KT_EQ(kernel_sscanf("4294967297", "%d", &a), 1);
	KT_EQ(a, 1);			/* truncated to int */
	KT_EQ(kernel_sscanf("-", "%d", &a), 0);
	KT_EQ(kernel_sscanf("ff", "%x", &u), 1);
	KT_EQ(u, 255);
	KT_EQ(kernel_sscanf("0x1F", "%i", &a), 1);
	KT_EQ(a, 31);
	KT_EQ(kernel_sscanf("017", "%i", &a), 1);
	KT_EQ(a, 15);
	KT_EQ(kernel_sscanf("abc 5", "%s %d%n", s, &a, &n), 2);
	KT_STREQ(s, "abc");
	KT_EQ(n, 5);
	KT_EQ(kernel_sscanf("x=3", "x=%d", &a), 1);
	KT_EQ(a, 3);
	KT_EQ(kernel_sscanf("y=3", "x=%d", &a), 0);
	KT_EQ(kernel_sscanf("123456", "%3d", &a), 1);
	KT_EQ(a, 123);
}
