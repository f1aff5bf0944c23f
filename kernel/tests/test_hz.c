// SPDX-License-Identifier: GPL-2.0
/*
 * The serial link's time spans in real time, whatever the kernel's tick:
 * this program runs at the platform's 250 Hz and again, as ktest_hz1000,
 * with the host layer and the module built for 1000 Hz.
 */
#include <string.h>

#include <linux/jiffies.h>

#include "kx_serial.h"
#include "ktest.h"

#define TIMEOUT_ALERT "No NMEA strings received in past 5 seconds, resetting."
#define MS (1000000LL)

KTEST(uart_timeouts_and_the_monitor_keep_their_time_at_any_tick)
{
	unsigned int i;

	sx_module();
	sx_add_uart(0, false);
	/* the speed switch at probe: two writes, then the wait before the speed */
	KT_EQ(kxh_serdev_writes(sx_uart), 2);
	for (i = 0; i < 2; i++)
		KT_EQ(jiffies_to_msecs(kxh_serdev_write_get(sx_uart, i).timeout), 200);
	KT_EQ(jiffies_to_msecs(kxh_serdev_wait_timeout(sx_uart)), 200);
	/* no sentences: the monitor's first reset 5 s after the probe */
	kxh_time_advance_ns(5000 * MS - 1000000000 / HZ);
	kxh_wq_run_all();
	KT_EQ(kxh_log_count_exact(1, TIMEOUT_ALERT), 0);
	kxh_time_advance_ns(1000000000 / HZ);
	kxh_wq_run_all();
	KT_EQ(kxh_log_count_exact(1, TIMEOUT_ALERT), 1);
}
