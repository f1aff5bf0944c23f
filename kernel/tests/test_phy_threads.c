// SPDX-License-Identifier: GPL-2.0
/*
 * The PHY threads running for real, in parallel with a PHY driver thread
 * raising pulse events, manual set requests and module unload. Also run
 * under ThreadSanitizer: the notifier, the wake-up protocol and the
 * teardown order must hold without a data race.
 */
#define _POSIX_C_SOURCE 200809L
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

#include "kx_board.h"
#include "ktest.h"
#include "phystub/kxpps_phystub.h"

#define GPS_SEC 1800000000LL

static pthread_mutex_t rec_lock = PTHREAD_MUTEX_INITIALIZER;
static unsigned int rec_calls;

/* every pulse has its GPS second, with fix */
int __wrap_pps_uart_get_time_nowait(struct pps_uart_time *out, int idx);
int __wrap_pps_uart_get_time_nowait(struct pps_uart_time *out, int idx)
{
	pthread_mutex_lock(&rec_lock);
	rec_calls++;
	pthread_mutex_unlock(&rec_lock);
	memset(out, 0, sizeof(*out));
	out->gps_sec = GPS_SEC;
	out->fix = 1;
	return 0;
}

static void up(void)
{
	kxh_sched_concurrent(true);
	kb_setup(0);
	kxh_time_set_real(GPS_SEC, 0);
	if (kxh_module_init() || !g_pps)
		abort();
}

struct driver_arg {
	int pulses;
	int stop;
	int refused;
};

/* the PHY driver: both PHYs stamp pulses as fast as it can */
static void *phy_driver(void *p)
{
	struct driver_arg *a = p;
	int i;

	for (i = 0; a->pulses < 0 ? !__atomic_load_n(&a->stop, __ATOMIC_ACQUIRE) : i < a->pulses;
	     i++) {
		if (kxpps_phystub_pulse(kb.phy[i & 1], i & 1, GPS_SEC * NSEC_PER_SEC))
			__atomic_fetch_add(&a->refused, 1, __ATOMIC_RELAXED);
	}
	return NULL;
}

KTEST(pulses_and_manual_sets_race_with_the_threads)
{
	struct driver_arg a = { .pulses = 4000 };
	pthread_t t;
	unsigned int adj, set;
	int i;

	up();
	if (pthread_create(&t, NULL, phy_driver, &a))
		abort();
	for (i = 0; i < 200; i++)
		KT_EQ(kxh_sysfs_write("pps_filter/manualtime", "1"), 1);
	pthread_join(t, NULL);
	kxh_sched_run();		/* every thread asleep again */
	KT_EQ(a.refused, 0);
	adj = kxpps_phystub_adjtimes(kb.phy[0]) + kxpps_phystub_adjtimes(kb.phy[1]);
	set = kxpps_phystub_settimes(kb.phy[0]) + kxpps_phystub_settimes(kb.phy[1]);
	/* each manual request was served (coalesced ones at least once per port) */
	KT_TRUE(kxpps_phystub_settimes(kb.phy[0]) >= 1);
	KT_TRUE(kxpps_phystub_settimes(kb.phy[1]) >= 1);
	KT_TRUE(set <= 400);
	/* no stamp was used twice: at most one record taken per pulse */
	pthread_mutex_lock(&rec_lock);
	KT_TRUE(rec_calls <= 4000);
	KT_TRUE(adj <= rec_calls);
	pthread_mutex_unlock(&rec_lock);
	KT_EQ(atomic_read(&g_pps->phy_i[0].adj_pending), 0);
	KT_EQ(atomic_read(&g_pps->phy_i[1].adj_pending), 0);
	kxh_module_exit();
	KT_EQ(kxh_kthreads(), 0);
}

KTEST(every_event_is_seen_once_the_thread_catches_up)
{
	int i;

	up();
	/* PHY 0 on TAI: the stamps are in range and applied */
	lan8841_ptp_settime64_phy(kb.phy[0], &(struct timespec64){ .tv_sec = GPS_SEC + 37 });
	for (i = 0; i < 50; i++) {
		KT_EQ(kxpps_phystub_pulse(kb.phy[0], 0, GPS_SEC * NSEC_PER_SEC), 0);
		kxh_sched_run();
	}
	/* one pass per pulse: the thread was asleep before each event */
	KT_EQ(kxpps_phystub_adjtimes(kb.phy[0]), 50);
	KT_EQ(g_pps->phy_i[0].last_delta, 0);
	kxh_module_exit();
}

KTEST(unload_while_the_phy_driver_keeps_stamping)
{
	struct driver_arg a = { .pulses = -1 };
	pthread_t t;
	int i;

	up();
	if (pthread_create(&t, NULL, phy_driver, &a))
		abort();
	for (i = 0; i < 20; i++)
		kxh_sysfs_write("pps_filter/manualtime", "1");
	kxh_module_exit();
	KT_EQ(kxh_kthreads(), 0);
	KT_TRUE(g_pps == NULL);
	/* the driver now finds no subscriber */
	KT_EQ(kxpps_phystub_pulse(kb.phy[0], 0, 0), -ENOENT);
	__atomic_store_n(&a.stop, 1, __ATOMIC_RELEASE);
	pthread_join(t, NULL);
}

KTEST(load_unload_cycles_with_live_threads)
{
	int i;

	kxh_sched_concurrent(true);
	kb_setup(0);
	for (i = 0; i < 20; i++) {
		struct driver_arg a = { .pulses = 200 };
		pthread_t t;

		if (kxh_module_init())
			abort();
		if (pthread_create(&t, NULL, phy_driver, &a))
			abort();
		kxh_sysfs_write("pps_filter/manualtime", "1");
		pthread_join(t, NULL);
		kxh_module_exit();
	}
	KT_EQ(kxh_kthreads(), 0);
	KT_EQ(kxh_kthreads_total(), 40);
}
