// SPDX-License-Identifier: GPL-2.0
/*
 * PHY clock alignment (the port threads, taking turns with the test) and
 * the system-clock setter. The threads' GPS records come from the test
 * (pps_uart_get_time_nowait is wrapped at link time).
 */
#include <stdlib.h>
#include <string.h>

#include <linux/notifier.h>

#include "kx_board.h"
#include "ktest.h"
#include "phystub/kxpps_phystub.h"

/* ---- GPS records handed to the port threads ---------------------------- */

static struct pps_uart_time recs[2][8];
static int nrecs[2];
static unsigned int rec_calls[2];

int __wrap_pps_uart_get_time_nowait(struct pps_uart_time *out, int idx);
int __wrap_pps_uart_get_time_nowait(struct pps_uart_time *out, int idx)
{
	rec_calls[idx]++;
	if (!nrecs[idx])
		return -EAGAIN;
	*out = recs[idx][0];
	memmove(&recs[idx][0], &recs[idx][1], sizeof(recs[idx][0]) * (size_t)--nrecs[idx]);
	return 0;
}

static void push_rec(int port, s64 gps_sec, s32 fix)
{
	struct pps_uart_time r = { .gps_sec = gps_sec, .gps_nsec = 0, .fix = fix };

	recs[port][nrecs[port]++] = r;
}

/* ---- the board, loaded and probed ---------------------------------------- */

static void up(void)
{
	kb_load(0);
	if (!g_pps) {
		fprintf(stderr, "timer device not probed\n");
		abort();
	}
	/* the threads start and go to sleep */
	kxh_sched_run();
	kxh_log_clear();
}

static int event(u32 port, s64 sec, s64 nsec)
{
	struct phy_pps_event ev = { .port = port, .sec = sec, .nsec = nsec };

	return kxpps_cb(&kxpps_nb, 0, &ev);
}

static unsigned int adjs(int port)
{
	return kxpps_phystub_adjtimes(kb.phy[port]);
}

static s64 phc_ns(int port)
{
	struct timespec64 ts;

	if (kxpps_phystub_gettime(kb.phy[port], &ts))
		abort();
	return timespec64_to_ns(&ts);
}

/* ---- alignment ------------------------------------------------------------ */

KTEST(threads_are_named_per_port_and_sleep)
{
	up();
	KT_EQ(kxh_kthreads(), 2);
	KT_TRUE(kxh_kthread_find("pps0-adj") == g_pps->phy_i[0].adj_task);
	KT_TRUE(kxh_kthread_find("pps1-adj") == g_pps->phy_i[1].adj_task);
	KT_TRUE(kxh_task_sleeping(g_pps->phy_i[0].adj_task));
	KT_TRUE(kxh_task_sleeping(g_pps->phy_i[1].adj_task));
	KT_EQ(rec_calls[0] + rec_calls[1], 0);
}

KTEST(in_range_stamps_step_the_phy_by_the_corrected_delta)
{
	/* delta = GPS second + TAI offset - stamp + the port's correction */
	static const struct {
		u32 port;
		s64 gps, sec, nsec;
		s32 tai, eth0, eth1;	/* eth1 corrects port 0, eth0 port 1 */
		s64 want;
	} rows[] = {
		{ 0, 63, 100, 200, 37, 0, 0, -200 },
		{ 1, 63, 100, 1500, 37, 0, 0, -1500 },	/* the threshold is inclusive */
		{ 0, 82, 100, 0, 18, 0, 0, 0 },
		{ 0, 63, 100, 200, 37, -50, 100, -100 },
		{ 1, 63, 100, 200, 37, -50, 100, -250 },
	};

	up();
	KT_ROWS(r, rows) {
		unsigned int before = adjs(r->port);

		tai_offset_value = r->tai;
		gDelta_eth0 = r->eth0;
		gDelta_eth1 = r->eth1;
		push_rec(r->port, r->gps, 1);
		KT_EQ(event(r->port, r->sec, r->nsec), NOTIFY_OK);
		KT_EQ(adjs(r->port), before);	/* nothing before the thread runs */
		kxh_sched_run();
		KT_EQ(adjs(r->port), before + 1);
		KT_EQ(g_pps->phy_i[r->port].last_delta, r->want);
		KT_TRUE(kxh_task_sleeping(g_pps->phy_i[r->port].adj_task));
	}
	KT_EQ(adjs(0) + adjs(1), KT_COUNT(rows));
	KT_EQ(kxh_log_count(), 0);
}

KTEST(pulses_through_the_phy_driver_step_its_clock)
{
	s64 now;

	up();
	/* PHY 1 runs 700 ns ahead of TAI */
	now = kxh_time_real_ns();
	lan8841_ptp_settime64_phy(kb.phy[1], &(struct timespec64){
		.tv_sec = now / NSEC_PER_SEC + 37, .tv_nsec = 700 });
	kxh_time_set_real(now / NSEC_PER_SEC, 0);
	push_rec(1, now / NSEC_PER_SEC, 2);
	KT_EQ(kxpps_phystub_pulse(kb.phy[1], 1, kxh_time_real_ns()), 0);
	kxh_sched_run();
	KT_EQ(g_pps->phy_i[1].last_delta, -700);
	KT_EQ(phc_ns(1) - kxh_time_real_ns(), 37 * NSEC_PER_SEC);
}

KTEST(five_outliers_in_a_row_are_followed)
{
	int i;

	up();
	for (i = 1; i <= 6; i++) {
		char want[96];

		push_rec(0, 63, 1);
		event(0, 99, 999998000);	/* 2,000 ns early */
		kxh_sched_run();
		snprintf(want, sizeof(want),
			 "[0]gps=100.        0 phc=99.999998000 delta=2000 kount=%d", i);
		KT_EQ(kxh_log_count_exact(1, want), 1);
		KT_EQ(adjs(0), i < 5 ? 0 : i - 4);
	}
	KT_EQ(g_pps->phy_i[0].last_delta, 2000);
	/* in range again: applied, count back to 0 */
	push_rec(0, 63, 1);
	event(0, 100, 1000);
	kxh_sched_run();
	KT_EQ(adjs(0), 3);
	KT_EQ(g_pps->phy_i[0].last_delta, -1000);
	/* a single outlier afterwards is ignored again */
	kxh_log_clear();
	push_rec(0, 63, 1);
	event(0, 100, 1501);
	kxh_sched_run();
	KT_EQ(adjs(0), 3);
	KT_EQ(kxh_log_count_exact(1, "[0]gps=100.        0 phc=100.     1501 delta=-1501 kount=1"), 1);
}

KTEST(ports_count_outliers_separately)
{
	int i;

	up();
	for (i = 0; i < 4; i++) {
		push_rec(0, 63, 1);
		event(0, 100, 5000);
		kxh_sched_run();
	}
	push_rec(1, 63, 1);
	event(1, 100, 5000);
	kxh_sched_run();
	KT_EQ(kxh_log_count_sub(1, "[1]"), 1);
	KT_EQ(kxh_log_count_sub(1, "kount=1"), 2);
	KT_EQ(adjs(0) + adjs(1), 0);
}

KTEST(a_newer_stamp_replaces_an_unconsumed_one)
{
	up();
	push_rec(0, 63, 1);
	push_rec(0, 64, 1);
	KT_EQ(event(0, 100, 500), NOTIFY_OK);
	KT_EQ(event(0, 100, 300), NOTIFY_OK);
	/* one wake-up: the second event found one already pending */
	KT_EQ(g_pps->phy_i[0].adj_wq.kxh_wakeups, 1);
	kxh_sched_run();
	KT_EQ(adjs(0), 1);
	KT_EQ(g_pps->phy_i[0].last_delta, -300);
	KT_EQ(rec_calls[0], 1);
	KT_EQ(nrecs[0], 1);
}

KTEST(stamps_without_a_usable_record_are_dropped)
{
	up();
	/* no record queued: the stamp goes */
	event(0, 100, 100);
	kxh_sched_run();
	KT_EQ(rec_calls[0], 1);
	KT_EQ(adjs(0), 0);
	KT_TRUE(kfifo_is_empty(&g_pps->phy_i[0].ts_fifo));
	/* a record arriving later does not meet the old stamp */
	push_rec(0, 63, 1);
	kxh_sched_run();
	KT_EQ(rec_calls[0], 1);
	/* a record without fix is taken and ignored */
	nrecs[0] = 0;
	push_rec(0, 63, 0);
	event(0, 100, 100);
	kxh_sched_run();
	KT_EQ(rec_calls[0], 2);
	KT_EQ(nrecs[0], 0);
	KT_EQ(adjs(0), 0);
	KT_EQ(g_pps->phy_i[0].last_delta, 0);
	KT_EQ(kxh_log_count(), 0);
}

KTEST(events_beyond_port_1_or_without_data_are_ignored)
{
	up();
	push_rec(0, 63, 1);
	KT_EQ(event(2, 100, 100), NOTIFY_DONE);
	KT_EQ(event(0xFFFFFFFF, 100, 100), NOTIFY_DONE);
	KT_EQ(kxpps_cb(&kxpps_nb, 0, NULL), NOTIFY_DONE);
	KT_EQ(kxpps_phystub_pulse(kb.phy[0], 2, kxh_time_real_ns()), 0);
	kxh_sched_run();
	KT_EQ(rec_calls[0] + rec_calls[1], 0);
	KT_EQ(atomic_read(&g_pps->phy_i[0].adj_pending), 0);
	KT_EQ(atomic_read(&g_pps->phy_i[1].adj_pending), 0);
}

KTEST(events_before_the_probe_are_ignored)
{
	kb_load(KB_NO_PHYS);
	KT_TRUE(g_pps == NULL);
	KT_EQ(event(0, 100, 100), NOTIFY_DONE);
}

KTEST(a_phy_clock_years_off_gives_a_bounded_step)
{
	up();
	push_rec(0, 63, 1);
	event(0, S64_MIN + 5, 999999999);
	kxh_sched_run();
	KT_EQ(kxh_log_count_sub(1, "kount=1"), 1);
	push_rec(0, 63, 1);
	event(0, S64_MAX, -5);
	kxh_sched_run();
	KT_EQ(kxh_log_count_sub(1, "kount=2"), 1);
	KT_EQ(kxh_log_count_sub(1, "delta=-9223372025999999995 kount=2"), 1);
}

KTEST(manual_set_puts_both_phys_on_tai_with_port_offsets)
{
	up();
	kxh_time_set_real(1000, 999000000);
	KT_EQ(kxh_sysfs_write("pps_filter/manualtime", "1"), 1);
	kxh_sched_run();
	KT_EQ(kxpps_phystub_settimes(kb.phy[0]), 1);
	KT_EQ(kxpps_phystub_settimes(kb.phy[1]), 1);
	KT_EQ(phc_ns(0), 1038002300000LL);
	KT_EQ(phc_ns(1), 1038000000000LL);
	KT_EQ(adjs(0) + adjs(1), 0);
	KT_EQ(rec_calls[0] + rec_calls[1], 0);
}

KTEST(manual_set_drops_a_stamp_taken_before_it)
{
	up();
	push_rec(0, 63, 1);
	event(0, 100, 900);
	kxh_sysfs_write("pps_filter/manualtime", "1");
	kxh_sched_run();
	KT_EQ(kxpps_phystub_settimes(kb.phy[0]), 1);
	KT_EQ(adjs(0), 0);
	/* the next pulse is aligned as usual */
	event(0, 100, 900);
	kxh_sched_run();
	KT_EQ(adjs(0), 1);
	KT_EQ(g_pps->phy_i[0].last_delta, -900);
}

KTEST(a_signal_only_restarts_the_wait)
{
	struct task_struct *t;

	up();
	t = g_pps->phy_i[0].adj_task;
	kxh_task_signal(t);
	kxh_sched_run();
	KT_TRUE(kxh_task_sleeping(t));
	KT_EQ(rec_calls[0], 0);
	push_rec(0, 63, 1);
	event(0, 100, 10);
	kxh_sched_run();
	KT_EQ(adjs(0), 1);
}

KTEST(remove_stops_threads_before_freeing_and_unsubscribes)
{
	up();
	push_rec(0, 63, 1);
	event(0, 100, 10);		/* pending, the thread has not run */
	kxh_module_exit();
	KT_EQ(kxh_kthreads(), 0);
	KT_TRUE(g_pps == NULL);
	/* the PHY driver has no subscriber any more */
	KT_EQ(kxpps_phystub_pulse(kb.phy[0], 0, 0), -ENOENT);
	KT_EQ(kxpps_phystub_pulse(kb.phy[1], 1, 0), -ENOENT);
	KT_EQ(adjs(0), 0);
}

/* ---- system clock ------------------------------------------------------- */

/* a pulse at the system time now, labelled with GPS time gps_ns */
static void gps_pulse(s64 gps_ns)
{
	struct timespec64 ts = ns_to_timespec64(gps_ns);
	unsigned long flags;

	spin_lock_irqsave(&gGPSTime.lock, flags);
	gGPSTime.ts = ts;
	gGPSTime.pending = 1;
	spin_unlock_irqrestore(&gGPSTime.lock, flags);
	kb_pulse(tpm4_counter_value_old + 25000000);
}

KTEST(one_large_offset_does_not_step_the_clock)
{
	s64 now;

	up();
	now = 1800000000LL * NSEC_PER_SEC;
	kxh_time_set_real(1800000000, 0);
	gps_pulse(now - 60000000);	/* system clock 60 ms ahead */
	kxh_time_advance_ns(2000000);	/* the work runs 2 ms later */
	kxh_wq_run(system_wq);
	KT_EQ(kxh_time_settime_count(), 0);
	gps_pulse(kxh_time_real_ns());	/* back in step */
	kxh_wq_run(system_wq);
	gps_pulse(kxh_time_real_ns() - 60000000);
	kxh_wq_run(system_wq);
	KT_EQ(kxh_time_settime_count(), 0);
	KT_EQ(kxh_log_count_sub(1, "Set Linux system clock"), 0);
}

KTEST(two_large_offsets_in_a_row_step_once)
{
	s64 gps;

	up();
	kxh_time_set_real(1800000000, 0);
	gps = kxh_time_real_ns() - 60000000;
	gps_pulse(gps);
	kxh_wq_run(system_wq);
	KT_EQ(kxh_time_settime_count(), 0);
	kxh_time_advance_ns(NSEC_PER_SEC);
	gps += NSEC_PER_SEC;
	gps_pulse(gps);
	kxh_time_advance_ns(3000000);	/* 3 ms from pulse to work */
	kxh_wq_run(system_wq);
	KT_EQ(kxh_time_settime_count(), 1);
	/* the clock now reads GPS time plus the 3 ms since the pulse */
	KT_EQ(kxh_time_real_ns(), gps + 3000000);
	KT_EQ(kxh_log_count_exact(1, "Set Linux system clock from GPS. RTC Offset=60000000"), 1);
	/* in step from here on */
	gps += NSEC_PER_SEC;
	kxh_time_advance_ns(NSEC_PER_SEC - 3000000);
	gps_pulse(gps);
	kxh_wq_run(system_wq);
	KT_EQ(kxh_time_settime_count(), 1);
}

KTEST(offsets_up_to_50_ms_are_left_alone)
{
	int i;

	up();
	kxh_time_set_real(1800000000, 0);
	for (i = 0; i < 3; i++) {
		gps_pulse(kxh_time_real_ns() + (i & 1 ? 50000000 : -50000000));
		kxh_wq_run(system_wq);
	}
	KT_EQ(kxh_time_settime_count(), 0);
}

KTEST(a_late_work_still_sets_a_valid_time)
{
	s64 gps;

	up();
	kxh_time_set_real(1800000000, 0);
	gps = kxh_time_real_ns() + 500000000;
	gps_pulse(gps - NSEC_PER_SEC);
	kxh_wq_run(system_wq);
	gps_pulse(gps);
	/* the work runs 700 ms after the pulse: nanoseconds carry over */
	kxh_time_advance_ns(700000000);
	kxh_wq_run(system_wq);
	KT_EQ(kxh_time_settime_count(), 1);
	KT_TRUE(kxh_time_settime_last().tv_nsec < NSEC_PER_SEC);
	KT_EQ(kxh_time_real_ns(), gps + 700000000);
}
