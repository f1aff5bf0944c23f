// SPDX-License-Identifier: GPL-2.0
/*
 * GPS time of day from GGA and ZDA: the parsers' accepted and refused
 * fields, the label of the next pulse, and the evaluation of each second
 * (fix qualification, missed GGA, time jumps, the time channels).
 */
#include <string.h>

#include "kx_serial.h"
#include "ktest.h"

static struct pps_uart_ctx pctx;

static void zda(const char *text)
{
	pps_process_gpzda(&pctx, text, strlen(text));
}

static void gga(const char *text)
{
	pps_process_gpgga(&pctx, text, strlen(text));
}

#define NOT_SET 12345LL

static s64 zda_label(const char *text)
{
	gGPSTime.ts.tv_sec = NOT_SET;
	zda(text);
	return gGPSTime.ts.tv_sec;
}

/* ---- ZDA: the label of the next pulse ------------------------------------ */

KTEST(zda_without_fraction_labels_the_next_second)
{
	KT_EQ(zda_label("$GPZDA,123456,06,12,2026,00,00*4F"), 1796560497LL);
	KT_EQ(gGPSTime.ts.tv_nsec, 0);
	KT_STREQ(pctx.zda_time, "123456");
}

KTEST(zda_fraction_zero_is_no_fraction_and_any_fraction_adds_a_second)
{
	KT_EQ(zda_label("$GPZDA,123456.000,06,12,2026,00,00*4F"), 1796560497LL);
	KT_EQ(zda_label("$GPZDA,123456.500,06,12,2026,00,00*4F"), 1796560498LL);
	/* missing digits are trailing zeros, the fourth is not looked at */
	KT_EQ(zda_label("$GPZDA,123456.5,06,12,2026"), 1796560498LL);
	KT_EQ(zda_label("$GPZDA,123456.0009,06,12,2026"), 1796560497LL);
	KT_EQ(zda_label("$GPZDA,123456.001,06,12,2026"), 1796560498LL);
	/* a digit or anything else at position 6 means no fraction */
	KT_EQ(zda_label("$GPZDA,1234567,06,12,2026"), 1796560497LL);
	KT_EQ(zda_label("$GPZDA,123456x5,06,12,2026"), 1796560497LL);
	KT_EQ(zda_label("$GPZDA,123456.x5,06,12,2026"), 1796560497LL);
}

KTEST(zda_dated_2025_moves_forward_1024_weeks)
{
	KT_EQ(zda_label("$GPZDA,000000,01,06,2025,00,00"), 2368051201LL);
	/* the last second moved: 2025-12-31 23:59:58 labels 23:59:59 */
	KT_EQ(zda_label("$GPZDA,235958,31,12,2025"), 1767225599LL + 619315200LL);
	/* 23:59:59 labels 2026-01-01 00:00:00, which stays */
	KT_EQ(zda_label("$GPZDA,235959,31,12,2025"), 1767225600LL);
}

KTEST(zda_before_2025_is_refused_and_leaves_the_time)
{
	KT_EQ(zda_label("$GPZDA,123456,06,12,2024,00,00"), NOT_SET);
	KT_EQ(zda_label("$GPZDA,123456,06,12,1999"), NOT_SET);
	/* no upper limit on the year */
	KT_EQ(zda_label("$GPZDA,000000,01,01,2100"), 4102444801LL);
	KT_EQ(zda_label("$GPZDA,000000,01,01,9999"), 253370764801LL);
}

KTEST(zda_leap_second_accepted_beyond_refused)
{
	/* 23:59:60 is the next day's 00:00:00, labelled 00:00:01 */
	KT_EQ(zda_label("$GPZDA,235960,06,12,2026"), 1796601601LL);
	KT_EQ(zda_label("$GPZDA,236000,06,12,2026"), NOT_SET);
	KT_EQ(zda_label("$GPZDA,240000,06,12,2026"), NOT_SET);
	KT_EQ(zda_label("$GPZDA,235961,06,12,2026"), NOT_SET);
	KT_EQ(zda_label("$GPZDA,12a456,06,12,2026"), NOT_SET);
	KT_EQ(zda_label("$GPZDA,12345,06,12,2026"), NOT_SET);
}

KTEST(zda_date_ranges)
{
	KT_EQ(zda_label("$GPZDA,120000,00,12,2026"), NOT_SET);
	KT_EQ(zda_label("$GPZDA,120000,32,12,2026"), NOT_SET);
	KT_EQ(zda_label("$GPZDA,120000,06,00,2026"), NOT_SET);
	KT_EQ(zda_label("$GPZDA,120000,06,13,2026"), NOT_SET);
	/* day 31 of a 30-day month is the 1st of the next, as mktime64 counts */
	KT_EQ(zda_label("$GPZDA,120000,31,11,2026"), zda_label("$GPZDA,120000,01,12,2026"));
	/* only the first characters count */
	KT_EQ(zda_label("$GPZDA,123456,069,127,20261"), 1796560497LL);
}

KTEST(zda_date_characters_are_not_checked_for_digits_only_the_values)
{
	/* "1:" is 1 * 10 + 10 = day 20 */
	KT_EQ(zda_label("$GPZDA,120000,1:,12,2026"), zda_label("$GPZDA,120000,20,12,2026"));
	/* " 6" is far below 1 */
	KT_EQ(zda_label("$GPZDA,120000, 6,12,2026"), NOT_SET);
}

KTEST(zda_date_fields_too_short_to_read_are_refused)
{
	KT_EQ(zda_label("$GPZDA,120000,6,12,2026"), NOT_SET);
	KT_EQ(zda_label("$GPZDA,120000,06,1,2026"), NOT_SET);
	KT_EQ(zda_label("$GPZDA,120000,06,12,202"), NOT_SET);
}

KTEST(zda_field_count_limits)
{
	/* four fields: ignored, zda_time untouched */
	strcpy(pctx.zda_time, "old");
	KT_EQ(zda_label("$GPZDA,123456,06,12"), NOT_SET);
	KT_STREQ(pctx.zda_time, "old");
	/* five fields, no zone */
	KT_EQ(zda_label("$GPZDA,123456,06,12,2026"), 1796560497LL);
	/* an empty required field: ignored */
	strcpy(pctx.zda_time, "old");
	KT_EQ(zda_label("$GPZDA,123456,,12,2026,00,00"), NOT_SET);
	KT_EQ(zda_label("$GPZDA,,06,12,2026,00,00"), NOT_SET);
	KT_STREQ(pctx.zda_time, "old");
	/* more fields than seven end up in the last one */
	KT_EQ(zda_label("$GPZDA,123456,06,12,2026,00,00,1,2,3"), 1796560497LL);
}

KTEST(zda_refused_after_the_field_checks_still_sets_zda_time)
{
	KT_EQ(zda_label("$GPZDA,236000,06,12,2026"), NOT_SET);
	KT_STREQ(pctx.zda_time, "236000");
	KT_EQ(zda_label("$GPZDA,123456.123456,06,12,2024"), NOT_SET);
	KT_STREQ(pctx.zda_time, "123456.123");
}

KTEST(zda_raises_pending_only_with_a_published_fix)
{
	gGPSFix = 0;
	gGPSTime.pending = 1;
	zda("$GPZDA,123456,06,12,2026");
	KT_EQ(gGPSTime.pending, 0);
	gGPSFix = 2;
	zda("$GPZDA,123457,06,12,2026");
	KT_EQ(gGPSTime.pending, 1);
	KT_TRUE(gGPSTime.lock.taken_irqsave >= 2);
}

KTEST(zda_only_the_first_255_bytes_are_parsed)
{
	char line[320], pad[240];

	/* the year ends at byte 255: parsed */
	memset(pad, 'x', 231);
	pad[231] = '\0';
	snprintf(line, sizeof(line), "$GPZDA,123456%s,06,12,2026", pad);
	KT_EQ(strlen(line), 255);
	KT_EQ(zda_label(line), 1796560497LL);
	/* three bytes more: the year is cut to "2" and refused */
	memset(pad, 'x', 234);
	pad[234] = '\0';
	snprintf(line, sizeof(line), "$GPZDA,123456%s,06,12,2026", pad);
	KT_EQ(strlen(line), 258);
	KT_EQ(zda_label(line), NOT_SET);
}

/* ---- GGA ----------------------------------------------------------------- */

KTEST(gga_takes_time_and_fix_quality)
{
	gga("$GPGGA,123456.000,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47");
	KT_STREQ(pctx.gga_time, "123456.000");
	KT_EQ(pctx.gga_fix, 1);
	gga("$GNGGA,123457.00000,4807.038,N,01131.000,E,2,08,0.9,545.4,M,46.9,M,,*47");
	KT_STREQ(pctx.gga_time, "123457.000");
	KT_EQ(pctx.gga_fix, 2);
	gga("$GPGGA,123458,4807.038,N,01131.000,E,+1,08,0.9,545.4,M,46.9,M,,*47");
	KT_EQ(pctx.gga_fix, 1);
}

KTEST(gga_quality_above_two_or_not_a_number_gives_zero)
{
	pctx.gga_fix = 1;
	gga("$GPGGA,123456,4807.038,N,01131.000,E,6,08,0.9,545.4,M,46.9,M,,*47");
	KT_EQ(pctx.gga_fix, 0);
	pctx.gga_fix = 1;
	gga("$GPGGA,123456,4807.038,N,01131.000,E,4,08,0.9,545.4,M,46.9,M,,*47");
	KT_EQ(pctx.gga_fix, 0);
	pctx.gga_fix = 1;
	gga("$GPGGA,123456,4807.038,N,01131.000,E, 1,08,0.9,545.4,M,46.9,M,,*47");
	KT_EQ(pctx.gga_fix, 0);
	pctx.gga_fix = 1;
	gga("$GPGGA,123456,4807.038,N,01131.000,E,-1,08,0.9,545.4,M,46.9,M,,*47");
	KT_EQ(pctx.gga_fix, 0);
	pctx.gga_fix = 1;
	gga("$GPGGA,123456,4807.038,N,01131.000,E,4294967297,08,0.9,545.4,M,46.9,M,,*47");
	KT_EQ(pctx.gga_fix, 0);
}

KTEST(gga_empty_fields_leave_the_previous_values)
{
	gga("$GPGGA,123456,4807.038,N,01131.000,E,2,08,0.9,545.4,M,46.9,M,,*47");
	gga("$GPGGA,123457,4807.038,N,01131.000,E,,08,0.9,545.4,M,46.9,M,,*47");
	KT_STREQ(pctx.gga_time, "123456");
	KT_EQ(pctx.gga_fix, 2);
	gga("$GPGGA,,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47");
	KT_STREQ(pctx.gga_time, "123456");
	KT_EQ(pctx.gga_fix, 2);
}

KTEST(gga_field_count_limits)
{
	/* 11 fields: ignored */
	gga("$GPGGA,123456,4807.038,N,01131.000,E,1,08,0.9,545.4,M");
	KT_STREQ(pctx.gga_time, "");
	KT_EQ(pctx.gga_fix, 0);
	/* 12 fields: enough */
	gga("$GPGGA,123456,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9");
	KT_STREQ(pctx.gga_time, "123456");
	KT_EQ(pctx.gga_fix, 1);
}

/* ---- the second's evaluation --------------------------------------------- */

static int rec_on(int idx, struct pps_uart_time *rec)
{
	return pps_uart_get_time_nowait(rec, idx);
}

KTEST(qualification_from_load)
{
	struct pps_uart_time r0, r1;
	s64 s = SX_T0;
	int i;

	sx_bound();
	/* 1st: only takes the reference (last_gps_time starts at 0) */
	sx_second(s, 1);
	KT_EQ(last_gps_time, s + 1);
	KT_EQ(missed_inc_kount, 1);
	KT_EQ(gpsfix_kount, 0);
	KT_EQ(rec_on(0, &r0), -EAGAIN);
	/* 2nd..6th: good seconds 1..5, fix not yet published, records with fix 0 */
	for (i = 1; i <= 5; i++) {
		sx_second(s + i, 1);
		KT_EQ(gpsfix_kount, i);
		KT_EQ(gGPSFix, 0);
		KT_EQ(missed_inc_kount, 0);
		KT_EQ(gGPSTime.pending, 0);
		KT_EQ(rec_on(0, &r0), 0);
		KT_EQ(rec_on(1, &r1), 0);
		KT_EQ(r0.gps_sec, s + i + 1);
		KT_EQ(r0.fix, 0);
		KT_EQ(memcmp(&r0, &r1, sizeof(r0)), 0);
	}
	/* 7th publishes; its record still carries fix 0 */
	sx_second(s + 6, 1);
	KT_EQ(gGPSFix, 1);
	KT_EQ(gGPSTime.pending, 0);
	KT_EQ(rec_on(0, &r0), 0);
	KT_EQ(r0.fix, 0);
	/* 8th: pending raised, the first record with fix 1 */
	sx_second(s + 7, 1);
	KT_EQ(gGPSTime.pending, 1);
	KT_EQ(rec_on(0, &r0), 0);
	KT_EQ(r0.fix, 1);
	KT_EQ(r0.gps_sec, s + 8);
	KT_EQ(r0.gps_nsec, 0);
	KT_EQ(r0.sys_sec, kxh_time_real_ns() / 1000000000LL);
	KT_EQ(rec_on(0, &r0), -EAGAIN);
	/* the count saturates at 20 */
	for (i = 8; i < 40; i++)
		sx_second(s + i, 2);
	KT_EQ(gpsfix_kount, 20);
	KT_EQ(gGPSFix, 2);
}

static void qualify(s64 s)
{
	int i;

	sx_bound();
	for (i = 0; i < 8; i++)
		sx_second(s + i, 1);
}

KTEST(record_layout_is_32_bytes_in_field_order)
{
	KT_EQ(sizeof(struct pps_uart_time), 32);
	KT_EQ(offsetof(struct pps_uart_time, gps_sec), 0);
	KT_EQ(offsetof(struct pps_uart_time, gps_nsec), 8);
	KT_EQ(offsetof(struct pps_uart_time, sys_sec), 16);
	KT_EQ(offsetof(struct pps_uart_time, sys_nsec), 24);
	KT_EQ(offsetof(struct pps_uart_time, fix), 28);
}

KTEST(an_unread_record_is_replaced_never_queued_behind)
{
	struct pps_uart_time r;

	qualify(SX_T0);
	sx_second(SX_T0 + 8, 1);
	sx_second(SX_T0 + 9, 1);
	KT_EQ(kfifo_len(&g_ctx->nmea.fifo[0]), sizeof(r));
	KT_EQ(kfifo_len(&g_ctx->nmea.fifo[1]), sizeof(r));
	KT_EQ(rec_on(1, &r), 0);
	KT_EQ(r.gps_sec, SX_T0 + 10);
	KT_EQ(rec_on(1, &r), -EAGAIN);
	KT_EQ(rec_on(0, &r), 0);
	KT_EQ(r.gps_sec, SX_T0 + 10);
}

KTEST(one_time_jump_empties_the_channels_and_keeps_the_fix)
{
	struct pps_uart_time r;

	qualify(SX_T0);
	KT_EQ(gGPSFix, 1);
	KT_EQ(gpsfix_kount, 7);
	/* skipped second */
	sx_second(SX_T0 + 9, 1);
	KT_EQ(missed_inc_kount, 1);
	KT_EQ(gGPSFix, 1);
	KT_EQ(gpsfix_kount, 7);
	KT_EQ(last_gps_time, SX_T0 + 10);
	KT_EQ(rec_on(0, &r), -EAGAIN);
	KT_EQ(rec_on(1, &r), -EAGAIN);
	/* back on track from the new reference */
	sx_second(SX_T0 + 10, 1);
	KT_EQ(missed_inc_kount, 0);
	KT_EQ(rec_on(0, &r), 0);
}

KTEST(two_jumps_in_a_row_clear_fix_count_and_pending)
{
	qualify(SX_T0);
	sx_second(SX_T0 + 9, 1);
	KT_EQ(gGPSTime.pending, 1);
	/* repeated second */
	sx_second(SX_T0 + 9, 1);
	KT_EQ(missed_inc_kount, 2);
	KT_EQ(gGPSFix, 0);
	KT_EQ(gpsfix_kount, 0);
	KT_EQ(gGPSTime.pending, 0);
	/* going back counts the same */
	sx_second(SX_T0 + 3, 1);
	KT_EQ(missed_inc_kount, 3);
	KT_EQ(gGPSFix, 0);
}

KTEST(a_refused_zda_is_a_non_consecutive_second)
{
	qualify(SX_T0);
	/* matching GGA, but a 2024 date: gGPSTime stays on the previous second */
	sx_gga(SX_T0 + 8, 1);
	sx_feeds("$GPZDA,123504.000,06,12,2024,00,00*6F\r\n");
	KT_EQ(missed_inc_kount, 1);
	KT_EQ(gGPSTime.ts.tv_sec, SX_T0 + 8);
}

KTEST(no_fix_clears_the_published_state)
{
	struct pps_uart_time r;

	qualify(SX_T0);
	sx_second(SX_T0 + 8, 1);
	sx_second(SX_T0 + 9, 0);
	KT_EQ(gGPSFix, 0);
	KT_EQ(gpsfix_kount, 0);
	KT_EQ(missed_inc_kount, 0);
	KT_EQ(last_gps_time, SX_T0 + 10);
	/* the record of the previous second stays on the channel */
	KT_EQ(rec_on(0, &r), 0);
	KT_EQ(r.gps_sec, SX_T0 + 9);
	KT_EQ(rec_on(0, &r), -EAGAIN);
}

KTEST(missed_gga_logs_and_keeps_the_published_state)
{
	char want[256];

	qualify(SX_T0);
	sx_zda(SX_T0 + 8);
	KT_EQ(missed_gga_kount, 1);
	KT_EQ(gGPSFix, 1);
	KT_EQ(last_gps_time, SX_T0 + 9);
	snprintf(want, sizeof(want),
		 "missed GGA, fix=1 gga_time=123503.000 zda_time=123504.000 epoch=%lld missed count=1",
		 SX_T0 + 9);
	KT_EQ(kxh_log_count_exact(1, want), 1);
	sx_zda(SX_T0 + 9);
	KT_EQ(missed_gga_kount, 2);
	KT_EQ(g_ctx->gga_fix, 1);
	/* the third in a row drops the GGA fix, the published fix stays */
	sx_zda(SX_T0 + 10);
	KT_EQ(missed_gga_kount, 3);
	KT_EQ(g_ctx->gga_fix, 0);
	KT_EQ(gGPSFix, 1);
	snprintf(want, sizeof(want),
		 "missed GGA, fix=0 gga_time=123503.000 zda_time=123506.000 epoch=%lld missed count=3",
		 SX_T0 + 11);
	KT_EQ(kxh_log_count_exact(1, want), 1);
	/* a matching second resets the count */
	sx_second(SX_T0 + 11, 1);
	KT_EQ(missed_gga_kount, 0);
}

KTEST(a_gga_with_eleven_fields_makes_the_zda_a_missed_gga)
{
	qualify(SX_T0);
	sx_feeds("$GPGGA,123504.000,4807.038,N,01131.000,E,1,08,0.9,545.4,M\r\n");
	sx_zda(SX_T0 + 8);
	KT_EQ(missed_gga_kount, 1);
}

KTEST(holdover_runs_on_matched_seconds_only)
{
	gps_time_set = 1;
	holdover_setting = 3;
	qualify(SX_T0);
	KT_TRUE(time_known);
	sx_second(SX_T0 + 8, 0);
	KT_EQ(holdover_time_sec, 1);
	sx_zda(SX_T0 + 9);		/* missed GGA: no update */
	KT_EQ(holdover_time_sec, 1);
	sx_second(SX_T0 + 10, 0);
	KT_EQ(holdover_time_sec, 2);
	KT_TRUE(time_known);
	sx_second(SX_T0 + 11, 0);
	KT_EQ(holdover_time_sec, 3);
	KT_FALSE(time_known);
}

KTEST(dispatch_finds_every_talker_anywhere_in_the_line)
{
	static const char *const talkers[] = { "GP", "GN", "GL", "GA", "GB" };
	char line[160];
	unsigned int i;

	sx_bound();
	for (i = 0; i < 5; i++) {
		/* noise before the tag */
		snprintf(line, sizeof(line),
			 "xx$%sGGA,1234%02u.000,4807.038,N,01131.000,E,%u,08,0.9,545.4,M,46.9,M,,*47",
			 talkers[i], i, i % 3);
		pps_nmea_dispatch(g_ctx, line, strlen(line));
		snprintf(line, sizeof(line), "1234%02u.000", i);
		KT_STREQ(g_ctx->gga_time, line);
		KT_EQ(g_ctx->gga_fix, i % 3);
		snprintf(line, sizeof(line), "$%sZDA,1234%02u.000,06,12,2026", talkers[i], i);
		pps_nmea_dispatch(g_ctx, line, strlen(line));
		KT_EQ(gGPSTime.ts.tv_sec, 1796560440LL + i + 1);
	}
	/* other sentences, and a tag cut by the line's length, do nothing */
	gGPSTime.ts.tv_sec = 7;
	pps_nmea_dispatch(g_ctx, "$GPRMC,123456,06,12,2026", 24);
	pps_nmea_dispatch(g_ctx, "$GPZDA,123456,06,12,2026", 5);
	KT_EQ(gGPSTime.ts.tv_sec, 7);
}

KTEST(a_nul_ends_the_sentence_for_the_parsers)
{
	static const char line[] = "$GPGGA,123456,4807.038,N\0,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";

	pps_process_gpgga(&pctx, line, sizeof(line) - 1);
	KT_STREQ(pctx.gga_time, "");
}

/* ---- the exported time calls --------------------------------------------- */

KTEST(time_calls_without_a_device_or_record)
{
	struct pps_uart_time r;

	KT_EQ(pps_uart_get_time_nowait(&r, 0), -ENODEV);
	KT_EQ(pps_uart_get_time(&r, 100, 1), -ENODEV);
	sx_bound();
	KT_EQ(pps_uart_get_time_nowait(NULL, 0), -ENODEV);
	KT_EQ(pps_uart_get_time(NULL, 100, 0), -ENODEV);
	KT_EQ(pps_uart_get_time_nowait(&r, 0), -EAGAIN);
	KT_EQ(pps_uart_get_time_nowait(&r, 1), -EAGAIN);
}

KTEST(time_call_with_timeout_zero_returns_at_once)
{
	struct pps_uart_time r;
	s64 t0;

	sx_bound();
	t0 = kxh_time_mono_ns();
	KT_EQ(pps_uart_get_time(&r, 0, 0), -EAGAIN);
	KT_EQ(kxh_wait_steps(), 0);
	KT_EQ(kxh_time_mono_ns(), t0);
}

KTEST(time_call_times_out_after_its_timeout)
{
	struct pps_uart_time r;
	s64 t0;

	sx_bound();
	t0 = kxh_time_mono_ns();
	KT_EQ(pps_uart_get_time(&r, 25, 1), -ETIMEDOUT);
	KT_EQ(kxh_time_mono_ns() - t0, 25 * 4000000LL);
}

static int hook_calls;

static void second_arrives(void *arg)
{
	if (hook_calls++ == 3)
		sx_second(SX_T0 + 1, 1);
}

KTEST(time_call_woken_by_the_next_second)
{
	struct pps_uart_time r;

	sx_bound();
	sx_second(SX_T0, 1);
	kxh_wait_set_hook(second_arrives, NULL);
	KT_EQ(pps_uart_get_time(&r, 250, 1), 0);
	KT_EQ(r.gps_sec, SX_T0 + 2);
	KT_EQ(r.fix, 0);
	KT_EQ(hook_calls, 4);
	/* channel 1 consumed, channel 0 still holds its copy */
	KT_EQ(pps_uart_get_time_nowait(&r, 1), -EAGAIN);
	KT_EQ(pps_uart_get_time(&r, 250, 0), 0);
}

KTEST(a_waiting_record_is_returned_without_sleeping)
{
	struct pps_uart_time r;

	sx_bound();
	sx_second(SX_T0, 1);
	sx_second(SX_T0 + 1, 1);
	KT_EQ(pps_uart_get_time(&r, 250, 0), 0);
	KT_EQ(kxh_wait_steps(), 0);
}

static void signal_arrives(void *arg)
{
	if (hook_calls++ == 2)
		kxh_signal_raise();
}

KTEST(time_call_interrupted_by_a_signal)
{
	struct pps_uart_time r;

	sx_bound();
	kxh_wait_set_hook(signal_arrives, NULL);
	KT_EQ(pps_uart_get_time(&r, 250, 0), -ERESTARTSYS);
	KT_EQ(hook_calls, 3);
	/* a signal already pending ends the wait before it sleeps */
	KT_EQ(pps_uart_get_time(&r, 250, 1), -ERESTARTSYS);
	KT_EQ(hook_calls, 3);
}

KTEST(time_calls_after_removal_find_no_device)
{
	struct pps_uart_time r;

	sx_bound();
	sx_second(SX_T0, 1);
	sx_second(SX_T0 + 1, 1);
	kxh_serdev_del(sx_uart);
	KT_EQ(g_ctx, NULL);
	KT_EQ(pps_uart_get_time_nowait(&r, 0), -ENODEV);
	KT_EQ(pps_uart_get_time(&r, 10, 1), -ENODEV);
}
