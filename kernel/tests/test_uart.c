// SPDX-License-Identifier: GPL-2.0
/*
 * The serial GPS link: line assembly from the byte stream, the receiver
 * commands (speed switch, satellite modes), probe and its failures, the
 * NMEA timeout monitor, and tear-down.
 */
#include <string.h>

#include "kx_serial.h"
#include "ktest.h"

#define BAUD_115200 "$PMTK251,115200*1F\r\n"
#define BAUD_9600 "$PMTK251,9600*17\r\n"
#define PPS_PRECISION "$PMTK256,1*2E\r\n"
#define TIMEOUT_ALERT "No NMEA strings received in past 5 seconds, resetting."
#define JIFFY_NS 4000000LL

static const char *const sats_op[7] = {
	"$PMTK353,1,0,0,0,0*2A\r\n", "$PMTK353,0,1,0,0,0*2A\r\n",
	"$PMTK353,1,1,0,0,0*2B\r\n", "$PMTK353,1,1,1,0,0*2A\r\n",
	"$PMTK353,0,0,0,0,1*2A\r\n", "$PMTK353,1,0,0,0,1*2B\r\n",
	"$PMTK353,1,0,1,0,0*2B\r\n",
};

static const char *write_text(unsigned int i, char *buf)
{
	struct kxh_serdev_write w = kxh_serdev_write_get(sx_uart, i);

	memcpy(buf, kxh_serdev_write_data(sx_uart, i), w.len);
	buf[w.len] = '\0';
	return buf;
}

/* ---- line assembly ------------------------------------------------------- */

KTEST(cr_lf_combinations_and_blank_lines_make_no_empty_lines)
{
	static const char bytes[] = { 'a', 'b', 13, 10, 'c', 'd', 10, 10, 13, 'x', 'y' };
	char out[64];

	sx_bound();
	sx_feed(bytes, sizeof(bytes));
	KT_EQ(sx_drain(out, sizeof(out)), 6);
	KT_EQ(memcmp(out, "ab\ncd\n", 6), 0);
	/* xy waits for its terminator */
	sx_feeds("\r");
	KT_EQ(sx_drain(out, sizeof(out)), 3);
	KT_EQ(memcmp(out, "xy\n", 3), 0);
	sx_feeds("\n\r\r\n\n");
	KT_EQ(sx_drain(out, sizeof(out)), 0);
}

KTEST(a_nul_byte_is_part_of_the_line)
{
	char out[16];

	sx_bound();
	sx_feed("a\0b\n", 4);
	KT_EQ(sx_drain(out, sizeof(out)), 4);
	KT_EQ(memcmp(out, "a\0b\n", 4), 0);
}

KTEST(a_300_byte_line_is_delivered_as_its_first_255_bytes)
{
	char line[301], out[600];
	int i;

	sx_bound();
	for (i = 0; i < 300; i++)
		line[i] = (char)('A' + i % 26);
	line[300] = '\n';
	sx_feed(line, 301);
	sx_feeds("next\n");
	KT_EQ(sx_drain(out, sizeof(out)), 256 + 5);
	KT_EQ(memcmp(out, line, 255), 0);
	KT_EQ(out[255], '\n');
	KT_EQ(memcmp(out + 256, "next\n", 5), 0);
	KT_EQ(g_ctx->line_len, 0);
}

KTEST(a_255_byte_line_is_kept_whole)
{
	char line[256], out[600];

	sx_bound();
	memset(line, 'z', 255);
	line[255] = '\r';
	sx_feed(line, 256);
	KT_EQ(sx_drain(out, sizeof(out)), 256);
	KT_EQ(memcmp(out, line, 255), 0);
}

KTEST(lines_split_over_many_chunks_are_parsed)
{
	static const char text[] =
		"$GPGGA,123456.000,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*53\r\n"
		"$GPZDA,123456.000,06,12,2026,00,00*52\r\n";
	char out[256];
	size_t i;

	sx_bound();
	for (i = 0; i < sizeof(text) - 1; i++)
		sx_feed(text + i, 1);
	KT_STREQ(g_ctx->gga_time, "123456.000");
	KT_EQ(g_ctx->gga_fix, 1);
	KT_EQ(gGPSTime.ts.tv_sec, SX_T0 + 1);
	KT_EQ(sx_drain(out, sizeof(out)), sizeof(text) - 1 - 2);
}

KTEST(bytes_beyond_a_full_receive_fifo_stay_with_the_bus)
{
	static char junk[9000];
	char out[64];

	sx_bound();
	memset(junk, 'j', sizeof(junk));
	KT_EQ(kxh_serdev_receive(sx_uart, junk, sizeof(junk)), 8192);
	KT_EQ(kxh_serdev_receive(sx_uart, junk, 10), 0);
	kxh_wq_run(system_wq);
	KT_EQ(kxh_serdev_receive(sx_uart, "\n", 1), 1);
	kxh_wq_run(system_wq);
	/* one line of 8192 bytes, cut to 255 */
	KT_EQ(sx_drain(out, sizeof(out)), 64);
	KT_EQ(g_ctx->line_len, 0);
}

/* ---- probe and the speed switch ------------------------------------------ */

/* the receiver UART's properties; the link opens at that speed (9600 without
 * one), tells the receiver twice to switch and follows it to 115200 */
static const struct probe_row { u32 speed; bool flow; const char *log; u32 open_speed; } probe_rows[] = {
	{ 0, false, "pps-uart: running @ 9600 baud (flow=0)\n", 9600 },
	{ 38400, true, "pps-uart: running @ 38400 baud (flow=1)\n", 38400 },
};
static const struct probe_row *probe_row;

static void probe_with_properties(void)
{
	char buf[64];

	sx_module();
	sx_add_uart(probe_row->speed, probe_row->flow);
	KT_TRUE(kxh_serdev_bound(sx_uart));
	KT_TRUE(kxh_serdev_is_open(sx_uart));
	KT_EQ(kxh_serdev_flow(sx_uart), probe_row->flow);
	KT_EQ(kxh_log_count_exact(6, probe_row->log), 1);
	KT_EQ(kxh_serdev_writes(sx_uart), 2);
	KT_STREQ(write_text(0, buf), BAUD_115200);
	KT_STREQ(write_text(1, buf), BAUD_115200);
	KT_EQ(kxh_serdev_write_get(sx_uart, 0).speed, probe_row->open_speed);
	KT_EQ(kxh_serdev_write_get(sx_uart, 1).speed, probe_row->open_speed);
	KT_EQ(kxh_serdev_speed(sx_uart), 115200);
	KT_EQ(g_ctx->baud, 115200);
	/* the monitor runs from probe, before any ZDA */
	KT_TRUE(kxh_wq_find("nmea_timeout_mon") != NULL);
	KT_TRUE(delayed_work_pending(&nmea_receive_work));
}

KTEST(probe_opens_at_the_given_speed_and_switches_to_115200)
{
	KT_ROWS(r, probe_rows) {
		probe_row = r;
		KT_TRUE(ktest_passes(probe_with_properties));
	}
}

KTEST(speed_setting_failures_are_logged_and_ignored)
{
	sx_module();
	kxh_fault_arm("serdev_device_set_baudrate", 0, 2, -EIO);
	sx_add_uart(4800, false);
	KT_TRUE(g_ctx != NULL);
	KT_EQ(kxh_log_count_exact(4, "pps-uart: set_baudrate(4800) code: 9600\n"), 1);
	KT_EQ(kxh_log_count_exact(4, "pps-uart: set_baudrate(115200) Code: 9600\n"), 1);
	KT_EQ(kxh_serdev_writes(sx_uart), 2);
	KT_EQ(g_ctx->baud, 115200);
}

static long live_before;

KTEST(probe_failures_return_their_code_and_leave_nothing)
{
	/* the error message, the whole text or (after the device's name) its end */
	static const struct {
		const char *site;
		unsigned int skip;
		int err;
		const char *log;
		bool whole;
	} rows[] = {
		{ "serdev_device_open", 0, -EIO, "pps-uart: serdev open code: -5\n", true },
		/* context, channel 0, channel 1, receive FIFO */
		{ "kmalloc", 0, -ENOMEM }, { "kmalloc", 1, -ENOMEM }, { "kmalloc", 2, -ENOMEM },
		{ "kmalloc", 3, -ENOMEM, "kfifo alloc failed\n" },
	};

	sx_module();
	live_before = kxh_slab_live();
	KT_ROWS(r, rows) {
		kxh_fault_clear();
		kxh_log_clear();
		kxh_fault_arm(r->site, r->skip, 1, r->err);
		sx_add_uart(0, false);
		KT_EQ(kxh_serdev_probe_result(sx_uart), r->err);
		KT_FALSE(kxh_serdev_bound(sx_uart));
		KT_EQ(g_ctx, NULL);
		KT_EQ(kxh_wq_find("nmea_timeout_mon"), NULL);
		KT_EQ(kxh_slab_live(), live_before);
		KT_EQ(kxh_log_count_sub(3, ""), r->log != NULL);
		if (r->log)
			KT_EQ(r->whole ? kxh_log_count_exact(3, r->log) :
					 kxh_log_count_sub(3, r->log), 1);
		kxh_serdev_del(sx_uart);
	}
	kxh_fault_clear();
	sx_add_uart(0, false);
	KT_EQ(kxh_serdev_probe_result(sx_uart), 0);
}

KTEST(without_its_work_queue_the_link_runs_unmonitored)
{
	sx_module();
	kxh_fault_arm("alloc_workqueue", 0, 1, -ENOMEM);
	sx_add_uart(0, false);
	KT_EQ(kxh_serdev_probe_result(sx_uart), 0);
	KT_EQ(kxh_log_count_exact(1, "nmea_receive_workq: workqueue creation failed \n"), 1);
	sx_second(SX_T0, 1);
	KT_EQ(gGPSTime.ts.tv_sec, SX_T0 + 1);
	kxh_time_advance_ns(20LL * 1000000000LL);
	kxh_wq_run_all();
	KT_EQ(kxh_log_count_exact(1, TIMEOUT_ALERT), 0);
	kxh_serdev_del(sx_uart);
}

/* ---- receiver commands --------------------------------------------------- */

KTEST(every_gps_mode_sends_its_command_twice_then_1pps_twice)
{
	char buf[64];

	sx_bound();
	KT_ROWS(cmd, sats_op) {
		kxh_serdev_tx_clear(sx_uart);
		gGPSMode = ktest_row;
		gSetGPSMode = true;
		sx_feeds("$GPTXT,x");
		KT_FALSE(gSetGPSMode);
		KT_EQ(kxh_serdev_writes(sx_uart), 4);
		KT_STREQ(write_text(0, buf), *cmd);
		KT_STREQ(write_text(1, buf), *cmd);
		KT_STREQ(write_text(2, buf), PPS_PRECISION);
		KT_STREQ(write_text(3, buf), PPS_PRECISION);
	}
	/* once sent, the next receive run sends nothing */
	kxh_serdev_tx_clear(sx_uart);
	sx_feeds("y");
	KT_EQ(kxh_serdev_writes(sx_uart), 0);
}

KTEST(modes_outside_0_to_6_send_nothing)
{
	static const int modes[] = { 7, -1, 100 };

	sx_bound();
	KT_ROWS(mode, modes) {
		gGPSMode = *mode;
		gSetGPSMode = true;
		sx_feeds("x");
		KT_FALSE(gSetGPSMode);
		KT_EQ(kxh_serdev_writes(sx_uart), 0);
	}
}

KTEST(gps_set_baud_tells_the_receiver_only)
{
	sx_bound();
	gps_set_baud(9600);
	KT_EQ(sx_sent(BAUD_9600), 2);
	gps_set_baud(115200);
	KT_EQ(sx_sent(BAUD_115200), 2);
	gps_set_baud(4800);
	KT_EQ(sx_sent(BAUD_115200), 4);
	KT_EQ(kxh_log_count_exact(4, "pps-uart: Invalid Baud Rate Selection, defaulting to 115200\r\n"), 1);
	KT_EQ(kxh_serdev_speed(sx_uart), 115200);
	KT_EQ(kxh_serdev_writes(sx_uart), 6);
}

KTEST(without_a_device_writes_and_speed_changes_do_nothing)
{
	sx_module();
	pps_uart_write("x", 1);
	pps_uart_set_baud(9600);
	gps_set_baud(9600);
	KT_EQ(g_ctx, NULL);
}

/* ---- the NMEA timeout monitor -------------------------------------------- */

static struct workqueue_struct *monq(void)
{
	return kxh_wq_find("nmea_timeout_mon");
}

static void advance_jiffies(long j)
{
	kxh_time_advance_ns(j * JIFFY_NS);
	kxh_wq_run(monq());
}

KTEST(monitor_fires_5_s_after_the_last_zda_and_every_5_s_after)
{
	char buf[64];
	int i;

	gps_time_set = 1;
	sx_bound();
	for (i = 0; i < 8; i++)
		sx_second(SX_T0 + i, 1);
	KT_EQ(gGPSFix, 1);
	KT_TRUE(time_known);
	g_ctx->gga_fix = 2;
	missed_gga_kount = 1;
	kxh_serdev_tx_clear(sx_uart);

	advance_jiffies(1249);
	KT_EQ(kxh_log_count_exact(1, TIMEOUT_ALERT), 0);
	advance_jiffies(1);
	KT_EQ(kxh_log_count_exact(1, TIMEOUT_ALERT), 1);
	KT_EQ(gGPSFix, 0);
	KT_EQ(gpsfix_kount, 0);
	KT_EQ(missed_inc_kount, 0);
	KT_EQ(missed_gga_kount, 0);
	KT_EQ(last_gps_time, SX_T0 + 8);
	/* held over (no limit: still known); the rest left alone */
	KT_TRUE(time_known);
	KT_EQ(holdover_time_sec, 5);
	KT_EQ(g_ctx->gga_fix, 2);
	KT_EQ(gGPSTime.ts.tv_sec, SX_T0 + 8);
	/* UART back to 9600, the switch sent twice there, UART to 115200 */
	KT_EQ(kxh_serdev_writes(sx_uart), 2);
	KT_STREQ(write_text(0, buf), BAUD_115200);
	KT_EQ(kxh_serdev_write_get(sx_uart, 0).speed, 9600);
	KT_EQ(kxh_serdev_write_get(sx_uart, 1).speed, 9600);
	KT_EQ(kxh_serdev_speed(sx_uart), 115200);

	advance_jiffies(1249);
	KT_EQ(kxh_log_count_exact(1, TIMEOUT_ALERT), 1);
	advance_jiffies(1);
	KT_EQ(kxh_log_count_exact(1, TIMEOUT_ALERT), 2);
	KT_EQ(kxh_serdev_writes(sx_uart), 4);
}

/*
 * The label waiting for the next pulse came with the last ZDA. When the
 * pulses stop with the sentences (the receiver reset or without power), the
 * first pulse after them must not hand it, seconds late, to the clock
 * setter: the monitor withdraws it.
 */
KTEST(monitor_withdraws_the_label_of_a_pulse_that_never_came)
{
	int i;

	gps_time_set = 1;
	sx_bound();
	for (i = 0; i < 8; i++)
		sx_second(SX_T0 + i, 1);
	KT_EQ(gGPSTime.pending, 1);
	advance_jiffies(1250);
	KT_EQ(kxh_log_count_exact(1, TIMEOUT_ALERT), 1);
	KT_EQ(gGPSTime.pending, 0);
	KT_EQ(gGPSTime.ts.tv_sec, SX_T0 + 8);
}

/*
 * A silent receiver (dead, its UART broken) sends no ZDA, so no second runs
 * the holdover update: the monitor counts its 5 s as seconds without a fix,
 * or the holdover limit would never expire and the time would stay known
 * for ever. The phase-and-frequency loop holds as at a fixless second.
 */
KTEST(a_silent_receiver_runs_out_its_holdover_limit)
{
	s64 t = SX_T0;
	int i;

	loop_mode = PPS_LOOP_PLL;
	gps_time_set = 1;
	holdover_setting = 12;
	sx_bound();
	for (i = 0; i < 8; i++)
		sx_second(t++, 1);
	KT_TRUE(time_known);
	KT_FALSE(pps_pll.hold);
	/* silent from here: known at 5 and 10 s, expired at 15 s (limit 12) */
	for (i = 1; i <= 3; i++) {
		advance_jiffies(1250);
		KT_EQ(kxh_log_count_exact(1, TIMEOUT_ALERT), i);
		KT_EQ(holdover_time_sec, 5 * i);
		KT_EQ(time_known, 5 * i < 12);
		KT_TRUE(pps_pll.hold);
	}
	/* the receiver back with a fix: known again once the fix qualifies */
	for (i = 0; i < 7; i++)
		sx_second(t++, 1);
	KT_EQ(gGPSFix, 1);
	KT_TRUE(time_known);
	KT_EQ(holdover_time_sec, 0);
	KT_FALSE(pps_pll.hold);
}

/*
 * The speed switch sent at probe is lost (the receiver still booting, or
 * held in reset): no ZDA ever comes, and the reset sequence repeats every
 * 5 s from probe until sentences arrive.
 */
KTEST(without_any_zda_the_reset_repeats_every_5_s_from_probe)
{
	int i;

	sx_bound();
	for (i = 1; i <= 3; i++) {
		advance_jiffies(1249);
		KT_EQ(kxh_log_count_exact(1, TIMEOUT_ALERT), i - 1);
		advance_jiffies(1);
		KT_EQ(kxh_log_count_exact(1, TIMEOUT_ALERT), i);
		KT_EQ(sx_sent(BAUD_115200), 2 * i);
		KT_EQ(kxh_serdev_write_get(sx_uart, 2 * i - 1).speed, 9600);
	}
	/* the receiver answers: the next run is 5 s after its ZDA */
	advance_jiffies(1000);
	sx_zda(SX_T0);
	advance_jiffies(1249);
	KT_EQ(kxh_log_count_exact(1, TIMEOUT_ALERT), 3);
	advance_jiffies(1);
	KT_EQ(kxh_log_count_exact(1, TIMEOUT_ALERT), 4);
}

KTEST(every_zda_pushes_the_monitor_5_s_ahead)
{
	sx_bound();
	sx_zda(SX_T0);
	advance_jiffies(1000);
	/* a ZDA, even a refused one, re-arms */
	sx_feeds("$GPZDA,999999,06,12,2026*4B\r\n");
	advance_jiffies(1000);
	KT_EQ(kxh_log_count_exact(1, TIMEOUT_ALERT), 0);
	/* a GGA does not */
	sx_gga(SX_T0 + 1, 1);
	advance_jiffies(250);
	KT_EQ(kxh_log_count_exact(1, TIMEOUT_ALERT), 1);
}

/*
 * A write only queues the bytes in the UART, so a speed change right behind
 * a command would send its tail at the new speed, as noise to the receiver.
 * Every byte must leave at the speed its command was written for: at
 * probe, and when a timeout reset switches to 9600 just behind satellite
 * commands queued at 115200, and switches back behind its own commands.
 */
KTEST(every_command_leaves_the_uart_at_the_speed_it_was_written_for)
{
	unsigned int i, n;

	sx_module();
	sx_add_uart(0, false);
	KT_EQ(pps_sysfs_create(), 0);
	sx_zda(SX_T0);
	/* the reset is due; satellite commands are queued just before it runs */
	kxh_time_advance_ns(1250 * JIFFY_NS);
	KT_EQ(kxh_wq_pending(monq()), 1);
	KT_EQ(kxh_sysfs_write("pps_filter/gpsmode", "3"), 1);
	sx_feeds("$GPGSV,1");
	kxh_wq_run(monq());
	KT_EQ(kxh_log_count_exact(1, TIMEOUT_ALERT), 1);
	advance_jiffies(1250 + 50);
	KT_EQ(kxh_log_count_exact(1, TIMEOUT_ALERT), 2);
	kxh_time_advance_ns(1000000000LL);

	n = kxh_serdev_writes(sx_uart);
	KT_EQ(n, 2 + 4 + 2 + 2);
	KT_EQ(kxh_serdev_tx_waiting(sx_uart), 0);
	for (i = 0; i < n; i++)
		KT_EQ(kxh_serdev_write_line_speed(sx_uart, i), kxh_serdev_write_get(sx_uart, i).speed);
	/* the receiver was told to switch at 9600 each time */
	KT_EQ(kxh_serdev_write_get(sx_uart, 0).speed, 9600);
	KT_EQ(kxh_serdev_write_get(sx_uart, 6).speed, 9600);
	KT_EQ(kxh_serdev_write_get(sx_uart, 5).speed, 115200);
}

/* ---- tear-down ------------------------------------------------------------ */

KTEST(removal_stops_the_monitor_and_frees_everything)
{
	/* the monitor armed by the probe, or re-armed by a ZDA */
	static const bool zda_first[] = { false, true };

	sx_module();
	live_before = kxh_slab_live();
	KT_ROWS(zda, zda_first) {
		sx_add_uart(0, false);
		if (*zda)
			sx_second(SX_T0, 1);
		KT_TRUE(delayed_work_pending(&nmea_receive_work));
		kxh_serdev_del(sx_uart);
		KT_EQ(g_ctx, NULL);
		KT_EQ(monq(), NULL);
		KT_FALSE(delayed_work_pending(&nmea_receive_work));
		KT_EQ(kxh_slab_live(), live_before);
		kxh_time_advance_ns(30LL * 1000000000LL);
		kxh_wq_run_all();
		KT_EQ(kxh_log_count_exact(1, TIMEOUT_ALERT), 0);
	}
}

KTEST(removal_with_the_monitor_due_and_receive_work_queued)
{
	sx_bound();
	sx_zda(SX_T0);
	kxh_time_advance_ns(5LL * 1000000000LL);
	KT_EQ(kxh_wq_pending(monq()), 1);
	KT_EQ(kxh_serdev_receive(sx_uart, "$GPZDA,1", 8), 8);
	KT_EQ(kxh_wq_pending(system_wq), 1);
	kxh_serdev_del(sx_uart);
	KT_EQ(kxh_wq_pending(system_wq), 0);
	KT_EQ(monq(), NULL);
	KT_EQ(kxh_log_count_exact(1, TIMEOUT_ALERT), 0);
}

KTEST(driver_init_and_exit)
{
	KT_EQ(pps_uart_init(), 0);
	KT_EQ(kxh_log_count_exact(6, "pps-uart: Initialized successfully\n"), 1);
	sx_add_uart(0, false);
	KT_TRUE(kxh_serdev_bound(sx_uart));
	pps_uart_exit();
	KT_FALSE(kxh_serdev_bound(sx_uart));
	KT_FALSE(kxh_serdev_is_open(sx_uart));
	KT_EQ(g_ctx, NULL);
	KT_EQ(kxh_log_count_exact(6, "pps-uart: UART driver unloaded\n"), 1);
}

KTEST(driver_register_failure)
{
	kxh_fault_arm("serdev_device_driver_register", 0, 1, -ENOMEM);
	KT_EQ(pps_uart_init(), -ENOMEM);
	KT_EQ(kxh_log_count_exact(3, "pps-uart: driver register code: -12\n"), 1);
	KT_EQ(kxh_log_count_exact(6, "pps-uart: Initialized successfully\n"), 0);
}

KTEST(the_gpsmode_attribute_reaches_the_receiver_with_the_next_bytes)
{
	sx_bound();
	KT_EQ(pps_sysfs_create(), 0);
	KT_EQ(kxh_sysfs_write("pps_filter/gpsmode", "3"), 1);
	/* no other work sends it */
	kxh_wq_run_all();
	KT_EQ(kxh_serdev_writes(sx_uart), 0);
	KT_TRUE(gSetGPSMode);
	sx_feeds("$GPGSV,1");
	KT_EQ(sx_sent(sats_op[3]), 2);
	KT_EQ(sx_sent(PPS_PRECISION), 2);
	KT_EQ(kxh_serdev_writes(sx_uart), 4);
}
