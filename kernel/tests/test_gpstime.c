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
/* ZDA lines in a row without their GGA that keep the fix */
#define MISSED_GGA_KEPT 2

/* the label a ZDA line gives the next pulse; NOT_SET when it is refused */
static s64 zda_label(const char *text)
{
	gGPSTime.ts.tv_sec = NOT_SET;
	gGPSTime.ts.tv_nsec = 7;
	zda(text);
	KT_EQ(gGPSTime.ts.tv_nsec, gGPSTime.ts.tv_sec == NOT_SET ? 7 : 0);
	return gGPSTime.ts.tv_sec;
}

/* ---- ZDA: the label of the next pulse ------------------------------------ */

KTEST(zda_labels_the_next_pulse_or_is_refused)
{
	static const struct { const char *line; s64 want; } rows[] = {
		{ "$GPZDA,123456,06,12,2026,00,00*4F", 1796560497LL },
		/* a fraction of zero is none, any other adds a second; missing
		 * digits are trailing zeros, the fourth is not looked at */
		{ "$GPZDA,123456.000,06,12,2026,00,00*4F", 1796560497LL },
		{ "$GPZDA,123456.500,06,12,2026,00,00*4F", 1796560498LL },
		{ "$GPZDA,123456.5,06,12,2026", 1796560498LL },
		{ "$GPZDA,123456.0009,06,12,2026", 1796560497LL },
		{ "$GPZDA,123456.001,06,12,2026", 1796560498LL },
		/* a digit or anything else at position 6 means no fraction */
		{ "$GPZDA,1234567,06,12,2026", 1796560497LL },
		{ "$GPZDA,123456x5,06,12,2026", 1796560497LL },
		{ "$GPZDA,123456.x5,06,12,2026", 1796560497LL },
		/*
		 * the floor is 2026-01-01: a 2025 date moves forward 1024 weeks,
		 * up to its last second (the ZDA's own time, as nmeafeed judges
		 * it); earlier dates (a cold start from 1980, a rollover from
		 * 2026) are refused; no upper limit
		 */
		{ "$GPZDA,000000,01,06,2025,00,00", 2368051201LL },
		{ "$GPZDA,235958,31,12,2025", 1767225599LL + 619315200LL },
		{ "$GPZDA,235959,31,12,2025", 1767225600LL + 619315200LL },
		{ "$GPZDA,000000,01,01,2026", 1767225601LL },
		{ "$GPZDA,123456,06,12,2024,00,00", NOT_SET },
		{ "$GPZDA,000019,06,01,1980", NOT_SET },
		{ "$GPZDA,123456,22,04,2007", NOT_SET },
		{ "$GPZDA,123456,06,12,1999", NOT_SET },
		{ "$GPZDA,123456,06,12,0000", NOT_SET },
		{ "$GPZDA,000000,01,01,2100", 4102444801LL },
		{ "$GPZDA,000000,01,01,9999", 253370764801LL },
		/*
		 * 23:59:60 on a month's last day labels the next pulse 00:00:00
		 * (as 23:59:59 did the pulse of 23:59:60); second 60 elsewhere,
		 * beyond, and non-digits refused
		 */
		{ "$GPZDA,235960,31,12,2026", 1798761600LL },
		{ "$GPZDA,235960,30,06,2026", 1782864000LL },
		{ "$GPZDA,235960,29,02,2028", 1835481600LL },
		{ "$GPZDA,235960,28,02,2028", NOT_SET },
		{ "$GPZDA,235960,06,12,2026", NOT_SET },
		{ "$GPZDA,123460,31,12,2026", NOT_SET },
		{ "$GPZDA,235860,31,12,2026", NOT_SET },
		{ "$GPZDA,236000,06,12,2026", NOT_SET },
		{ "$GPZDA,240000,06,12,2026", NOT_SET },
		{ "$GPZDA,235961,06,12,2026", NOT_SET },
		{ "$GPZDA,12a456,06,12,2026", NOT_SET },
		{ "$GPZDA,12345,06,12,2026", NOT_SET },
		/* date ranges; day 31 of a 30-day month is the 1st of the next */
		{ "$GPZDA,120000,00,12,2026", NOT_SET },
		{ "$GPZDA,120000,32,12,2026", NOT_SET },
		{ "$GPZDA,120000,06,00,2026", NOT_SET },
		{ "$GPZDA,120000,06,13,2026", NOT_SET },
		{ "$GPZDA,120000,31,11,2026", 1796126401LL },
		/*
		 * day and month exactly two digits, the year four, each ended by
		 * "," or the checksum's "*": never read by their first characters
		 */
		{ "$GPZDA,123456,06,12,2026*4F", 1796560497LL },
		{ "$GPZDA,123456.00,06,12,26*4E", NOT_SET },
		{ "$GPZDA,123456.00,06,12,205*4E", NOT_SET },
		{ "$GPZDA,123456,069,12,2026", NOT_SET },
		{ "$GPZDA,123456,06,120,2026", NOT_SET },
		{ "$GPZDA,123456,06,12,20261", NOT_SET },
		{ "$GPZDA,123456,06,12,2026x,00,00", NOT_SET },
		{ "$GPZDA,120000,1:,12,2026", NOT_SET },
		{ "$GPZDA,120000, 6,12,2026", NOT_SET },
		{ "$GPZDA,120000,+6,12,2026", NOT_SET },
		{ "$GPZDA,120000,06,-1,2026", NOT_SET },
		/* fields too short to read */
		{ "$GPZDA,120000,6,12,2026", NOT_SET },
		{ "$GPZDA,120000,06,1,2026", NOT_SET },
		{ "$GPZDA,120000,06,12,202", NOT_SET },
		/* five fields are enough, four not; empty required fields refused;
		 * fields beyond seven end up in the last */
		{ "$GPZDA,123456,06,12", NOT_SET },
		{ "$GPZDA,123456,06,12,2026", 1796560497LL },
		{ "$GPZDA,123456,,12,2026,00,00", NOT_SET },
		{ "$GPZDA,,06,12,2026,00,00", NOT_SET },
		{ "$GPZDA,123456,06,12,2026,00,00,1,2,3", 1796560497LL },
	};
	KT_ROWS(r, rows)
		KT_EQ(zda_label(r->line), r->want);
}

KTEST(zda_time_is_set_once_the_fields_are_there)
{
	static const struct { const char *line, *want; } rows[] = {
		{ "$GPZDA,123456,06,12,2026,00,00*4F", "123456" },
		{ "$GPZDA,123456,06,12", "old" },
		{ "$GPZDA,123456,,12,2026,00,00", "old" },
		{ "$GPZDA,,06,12,2026,00,00", "old" },
		/* refused after the field checks */
		{ "$GPZDA,236000,06,12,2026", "236000" },
		{ "$GPZDA,123456.123456,06,12,2024", "123456.123" },
	};
	KT_ROWS(r, rows) {
		strcpy(pctx.zda_time, "old");
		zda(r->line);
		KT_STREQ(pctx.zda_time, r->want);
	}
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
	char line[320];

	/* the year ends at byte 255: parsed; three bytes more cut it to "2" */
	snprintf(line, sizeof(line), "$GPZDA,123456%.231d,06,12,2026", 0);
	KT_EQ(strlen(line), 255);
	KT_EQ(zda_label(line), 1796560497LL);
	snprintf(line, sizeof(line), "$GPZDA,123456%.234d,06,12,2026", 0);
	KT_EQ(strlen(line), 258);
	KT_EQ(zda_label(line), NOT_SET);
}

/* ---- GGA ----------------------------------------------------------------- */

KTEST(gga_takes_time_and_fix_quality_0_to_2)
{
	static const struct { const char *time, *fix, *want_time; int want_fix; } rows[] = {
		{ "123456.000", "1", "123456.000", 1 },
		{ "123457.00000", "2", "123457.000", 2 },
		{ "123458", "+1", "123458", 1 },
		/* above two, or not a number: 0 */
		{ "123456", "6", "123456", 0 },
		{ "123456", "4", "123456", 0 },
		{ "123456", " 1", "123456", 0 },
		{ "123456", "-1", "123456", 0 },
		{ "123456", "4294967297", "123456", 0 },
		/* empty fields leave the previous values */
		{ "123457", "", "old", 2 },
		{ "", "1", "old", 2 },
	};
	char line[128];

	KT_ROWS(r, rows) {
		strcpy(pctx.gga_time, "old");
		pctx.gga_fix = 2;
		snprintf(line, sizeof(line),
			 "$GPGGA,%s,4807.038,N,01131.000,E,%s,08,0.9,545.4,M,46.9,M,,*47",
			 r->time, r->fix);
		gga(line);
		KT_STREQ(pctx.gga_time, r->want_time);
		KT_EQ(pctx.gga_fix, r->want_fix);
	}
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
	/* a jump labels no pulse (a_time_jump_labels_no_pulse_...) */
	KT_EQ(gGPSTime.pending, 0);
	KT_EQ(gGPSFix, 1);
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

/*
 * Damage the 8-bit checksum cannot show (two flips of the same bit) may
 * leave a ZDA that parses yet does not follow the previous second: it
 * labels no pulse and makes no record until the next ZDA confirms it.
 */
KTEST(a_time_jump_labels_no_pulse_until_the_next_second_confirms_it)
{
	struct pps_uart_time r;
	char line[96];

	qualify(SX_T0);
	KT_EQ(gGPSTime.pending, 1);
	gGPSTime.pending = 0;		/* the pulse took it */
	rec_on(0, &r);
	rec_on(1, &r);
	/* the ZDA of SX_T0 + 8 with ".000" read as ".440": its sum still matches */
	sx_gga(SX_T0 + 8, 1);
	sx_sentence(line, sizeof(line), "GPZDA,123504.000,06,12,2026,00,00");
	memcpy(strchr(line, '.'), ".440", 4);
	strcat(line, "\r\n");
	sx_feeds(line);
	KT_EQ(gGPSTime.ts.tv_sec, SX_T0 + 10);
	KT_EQ(gGPSTime.pending, 0);
	/* the true next second repeats that label: held back too */
	sx_second(SX_T0 + 9, 1);
	KT_EQ(gGPSTime.pending, 0);
	KT_EQ(rec_on(0, &r), -EAGAIN);
	/* one second on: confirmed, the fix was kept */
	sx_second(SX_T0 + 10, 1);
	KT_EQ(gGPSTime.pending, 1);
	KT_EQ(gGPSTime.ts.tv_sec, SX_T0 + 11);
	KT_EQ(rec_on(0, &r), 0);
	KT_EQ(r.gps_sec, SX_T0 + 11);
	KT_EQ(r.fix, 1);
	/* a jump with the GGA matching (a day or an hour damaged alike) */
	gGPSTime.pending = 0;
	sx_second(SX_T0 + 12, 1);
	KT_EQ(gGPSTime.pending, 0);
	KT_EQ(rec_on(0, &r), -EAGAIN);
	sx_second(SX_T0 + 13, 1);
	KT_EQ(gGPSTime.pending, 1);
}

KTEST(a_refused_zda_is_a_non_consecutive_second)
{
	qualify(SX_T0);
	/* matching GGA, but a 2024 date: gGPSTime stays on the previous second */
	sx_gga(SX_T0 + 8, 1);
	sx_feeds("$GPZDA,123504.000,06,12,2024,00,00*56\r\n");
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

KTEST(missed_gga_up_to_the_limit_keeps_the_fix_then_each_second_has_none)
{
	struct pps_uart_time r;
	char want[256];

	qualify(SX_T0);
	sx_zda(SX_T0 + 8);
	KT_EQ(missed_gga_kount, 1);
	KT_EQ(gGPSFix, 1);
	KT_EQ(gGPSTime.pending, 1);
	KT_EQ(last_gps_time, SX_T0 + 9);
	snprintf(want, sizeof(want),
		 "missed GGA, fix=1 gga_time=123503.000 zda_time=123504.000 epoch=%lld missed count=1",
		 SX_T0 + 9);
	KT_EQ(kxh_log_count_exact(1, want), 1);
	sx_zda(SX_T0 + 9);
	KT_EQ(missed_gga_kount, 2);
	KT_EQ(g_ctx->gga_fix, 1);
	KT_EQ(gGPSFix, 1);
	/* the third in a row: no fix, no count, no label, no record */
	sx_zda(SX_T0 + 10);
	KT_EQ(missed_gga_kount, 3);
	KT_EQ(g_ctx->gga_fix, 0);
	KT_EQ(gGPSFix, 0);
	KT_EQ(gpsfix_kount, 0);
	KT_EQ(gGPSTime.pending, 0);
	KT_EQ(rec_on(0, &r), -EAGAIN);
	KT_EQ(rec_on(1, &r), -EAGAIN);
	snprintf(want, sizeof(want),
		 "missed GGA, fix=0 gga_time=123503.000 zda_time=123506.000 epoch=%lld missed count=3",
		 SX_T0 + 11);
	KT_EQ(kxh_log_count_exact(1, want), 1);
	/* a matching second resets the count and qualifies from the start */
	sx_second(SX_T0 + 11, 1);
	KT_EQ(missed_gga_kount, 0);
	KT_EQ(gpsfix_kount, 1);
	KT_EQ(gGPSFix, 0);
}

/*
 * The receiver's GGA stops (or comes in a talker not understood) while its
 * ZDA goes on, and the ZDA's time jumps 18 s (a receiver that loses its
 * leap-second count): beyond the missed-GGA limit no second labels a
 * pulse, makes a time record or keeps the fix, the holdover limit runs
 * out, and the message does not repeat every second.
 */
KTEST(a_zda_only_stream_is_fixless_and_runs_out_the_holdover_limit)
{
	struct pps_uart_time r;
	s64 s = SX_T0 + 8;
	int i;

	gps_time_set = 1;
	holdover_setting = 10;
	qualify(SX_T0);
	KT_TRUE(time_known);
	for (i = 0; i < 40; i++, s++) {
		if (i == 20)
			s += 18;
		sx_zda(s);
		if (i < MISSED_GGA_KEPT)
			continue;
		KT_EQ(gGPSFix, 0);
		KT_EQ(gGPSTime.pending, 0);
		KT_EQ(rec_on(0, &r), -EAGAIN);
		KT_EQ(holdover_time_sec, i - MISSED_GGA_KEPT + 1);
		KT_EQ(time_known, holdover_time_sec < 10);
	}
	KT_FALSE(time_known);
	KT_EQ(kxh_log_count_sub(1, "missed GGA"), MISSED_GGA_KEPT + 1);
}

KTEST(a_gga_with_eleven_fields_makes_the_zda_a_missed_gga)
{
	qualify(SX_T0);
	sx_feeds("$GPGGA,123504.000,4807.038,N,01131.000,E,1,08,0.9,545.4,M*0D\r\n");
	sx_zda(SX_T0 + 8);
	KT_EQ(missed_gga_kount, 1);
}

KTEST(holdover_runs_on_every_zda_second)
{
	gps_time_set = 1;
	holdover_setting = 3;
	qualify(SX_T0);
	KT_TRUE(time_known);
	sx_second(SX_T0 + 8, 0);
	KT_EQ(holdover_time_sec, 1);
	sx_zda(SX_T0 + 9);		/* missed GGA: a second without a fix too */
	KT_EQ(holdover_time_sec, 2);
	KT_TRUE(time_known);
	sx_second(SX_T0 + 10, 0);
	KT_EQ(holdover_time_sec, 3);
	KT_FALSE(time_known);
}

KTEST(dispatch_finds_every_talker_anywhere_in_the_line)
{
	/* BeiDou as "GB" (NMEA 4.10) and as "BD" (before) */
	static const char *const talkers[] = { "GP", "GN", "GL", "GA", "GB", "BD" };
	char body[160], line[160];
	unsigned int i;

	sx_bound();
	for (i = 0; i < ARRAY_SIZE(talkers); i++) {
		/* noise before the tag */
		snprintf(body, sizeof(body),
			 "%sGGA,1234%02u.000,4807.038,N,01131.000,E,%u,08,0.9,545.4,M,46.9,M,,",
			 talkers[i], i, i % 3);
		line[0] = 'x';
		line[1] = 'x';
		sx_sentence(line + 2, sizeof(line) - 2, body);
		pps_nmea_dispatch(g_ctx, line, strlen(line));
		snprintf(line, sizeof(line), "1234%02u.000", i);
		KT_STREQ(g_ctx->gga_time, line);
		KT_EQ(g_ctx->gga_fix, i % 3);
		snprintf(body, sizeof(body), "%sZDA,1234%02u.000,06,12,2026", talkers[i], i);
		sx_sentence(line, sizeof(line), body);
		pps_nmea_dispatch(g_ctx, line, strlen(line));
		KT_EQ(gGPSTime.ts.tv_sec, 1796560440LL + i + 1);
	}
	/* other sentences, and a tag cut by the line's length, do nothing */
	gGPSTime.ts.tv_sec = 7;
	pps_nmea_dispatch(g_ctx, "$GPRMC,123456,06,12,2026", 24);
	pps_nmea_dispatch(g_ctx, "$GPZDA,123456,06,12,2026", 5);
	KT_EQ(gGPSTime.ts.tv_sec, 7);
}

/* ---- checksums ------------------------------------------------------------ */

#define ZDA_BODY "GPZDA,123456.000,06,12,2026,00,00"
#define ZDA_TRUE 1796560497LL

/* a ZDA line through the dispatch: the label it gives, NOT_SET when dropped */
static s64 dispatched_zda(const char *line, size_t len)
{
	gGPSTime.ts.tv_sec = NOT_SET;
	pps_nmea_dispatch(g_ctx, line, len);
	return gGPSTime.ts.tv_sec;
}

KTEST(a_sentence_whose_checksum_does_not_match_is_dropped)
{
	/* len 0: the text's own length */
	static const struct { const char *name, *line; size_t len; bool taken; } rows[] = {
		{ "matching", "$" ZDA_BODY "*52", 0, true },
		{ "lower-case digits", "$GPZDA,123456.000,06,12,2026,00,08*5a", 0, true },
		{ "printable noise before the $", "x~ $" ZDA_BODY "*52", 0, true },
		/*
		 * bytes off the line before the "$" damage the line as well:
		 * the UART was out of step with the receiver when it took them
		 */
		{ "0xFF before the $", "\xff$" ZDA_BODY "*52", 0, false },
		{ "DEL and a control byte before the $", "\x7f\x01$" ZDA_BODY "*52", 0, false },
		{ "NUL before the $", "\0$" ZDA_BODY "*52", 38, false },
		{ "no checksum field", "$" ZDA_BODY, 0, false },
		{ "tail lost after the year", "$GPZDA,123456.000,06,12,2026", 0, false },
		{ "no $", ZDA_BODY "*52", 0, false },
		{ "wrong checksum", "$" ZDA_BODY "*53", 0, false },
		{ "one digit", "$" ZDA_BODY "*5", 0, false },
		{ "no digits", "$" ZDA_BODY "*", 0, false },
		{ "not hex", "$" ZDA_BODY "*5G", 0, false },
		{ "text after it", "$" ZDA_BODY "*52 ", 0, false },
		{ "second sentence run on", "$" ZDA_BODY "*52$GPZDA,1", 0, false },
		{ "damage before the field", "$GPZDA,123456.000,06,12,2027,00,00*52", 0, false },
		{ "stray $ inside", "$GPZDA,12$456.000,06,12,2026,00,00*52", 0, false },
		/* NULs (a UART's break or framing error) count in the sum ... */
		{ "NUL, sum without it", "$GPZDA,123456.000,06,12,2026,00,0\0*52", 37, false },
		/* ... and damage the line even where the sum over them matches */
		{ "NUL added, sum matches", "$GPZDA,123456.000,06,12,2026,00\0,00*52", 38, false },
		{ "year digit as NUL, sum matches", "$GPZDA,123456.000,06,12,202\0,00,00*64", 37, false },
		/*
		 * bytes outside printable ASCII (a wrong-speed stretch, 0xFF for
		 * a framing error) too: the day 06 read as 07 and the sum made
		 * up by two of them
		 */
		{ "day damaged, sum made up off the line", "$GPZDA,123456.000,07,12,2026,00,00\x80\x81*52", 0, false },
		{ "two equal bytes off the line", "$GPZDA,123456.000,06,12,2026,00,00\xff\xff*52", 0, false },
	};

	sx_bound();
	KT_ROWS(r, rows)
		KT_EQ(dispatched_zda(r->line, r->len ? r->len : strlen(r->line)),
		      r->taken ? ZDA_TRUE : NOT_SET);
}

KTEST(a_gga_without_a_sound_checksum_gives_no_fix)
{
	static const struct { const char *line; size_t len; } rows[] = {
		{ "$GPGGA,123456.000,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", 0 },
		{ "$GPGGA,123456.000,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,\0,*53", 70 },
	};

	sx_bound();
	KT_ROWS(r, rows) {
		strcpy(g_ctx->gga_time, "none");
		g_ctx->gga_fix = 7;
		pps_nmea_dispatch(g_ctx, r->line, r->len ? r->len : strlen(r->line));
		KT_STREQ(g_ctx->gga_time, "none");
		KT_EQ(g_ctx->gga_fix, 7);
	}
}

/* a dropped ZDA does not close its second: no evaluation, no re-arming */
KTEST(a_dropped_zda_is_no_second_at_all)
{
	unsigned long due;

	gps_time_set = 1;
	sx_bound();
	/* the monitor as armed by the probe */
	due = nmea_receive_work.timer.expires;
	kxh_time_advance_ns(1000000000);
	sx_gga(SX_T0, 1);
	sx_feeds("$GPZDA,123456.000,06,12,2026,00,00*53\r\n");
	KT_EQ(last_gps_time, 0);
	KT_EQ(missed_gga_kount, 0);
	KT_EQ(kxh_log_count(), 0);
	KT_EQ(nmea_receive_work.timer.expires, due);
}

/*
 * One byte of a checksummed GGA or ZDA damaged on the line, to any value,
 * anywhere: the sentence is dropped (a sentence whose "*" was hit has no
 * checksum field left). Never another time or fix.
 */
KTEST(one_damaged_byte_never_gives_another_time_or_fix)
{
	char gga_line[128], zda_line[64], line[128], true_gga_time[12];
	unsigned int pos, v, bad = 0, taken = 0;
	size_t glen, zlen;

	sx_bound();
	sx_sentence(gga_line, sizeof(gga_line),
		    "GPGGA,123456.000,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
	sx_sentence(zda_line, sizeof(zda_line), ZDA_BODY);
	glen = strlen(gga_line);
	zlen = strlen(zda_line);
	pps_nmea_dispatch(g_ctx, gga_line, glen);
	strcpy(true_gga_time, g_ctx->gga_time);
	KT_STREQ(true_gga_time, "123456.000");
	KT_EQ(g_ctx->gga_fix, 1);
	KT_EQ(dispatched_zda(zda_line, zlen), ZDA_TRUE);

	for (pos = 0; pos < glen; pos++) {
		for (v = 0; v < 256; v++) {
			if (v == (u8)gga_line[pos])
				continue;
			memcpy(line, gga_line, glen);
			line[pos] = (char)v;
			strcpy(g_ctx->gga_time, "none");
			g_ctx->gga_fix = 7;
			pps_nmea_dispatch(g_ctx, line, glen);
			if (!strcmp(g_ctx->gga_time, "none") && g_ctx->gga_fix == 7)
				continue;
			taken++;
			if (strcmp(g_ctx->gga_time, true_gga_time) || g_ctx->gga_fix != 1)
				bad += !!fprintf(stderr, "GGA byte %u = %u taken\n", pos, v);
		}
	}
	for (pos = 0; pos < zlen; pos++) {
		for (v = 0; v < 256; v++) {
			s64 got;

			if (v == (u8)zda_line[pos])
				continue;
			memcpy(line, zda_line, zlen);
			line[pos] = (char)v;
			got = dispatched_zda(line, zlen);
			taken += got != NOT_SET;
			if (got != NOT_SET && got != ZDA_TRUE)
				bad += !!fprintf(stderr, "ZDA byte %u = %u gives %lld\n", pos, v, got);
		}
		kxh_log_clear();
	}
	KT_EQ(bad, 0);
	/* the sums hold no hex letters whose case could change: none is taken */
	KT_EQ(taken, 0);
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

KTEST(time_call_without_a_record_returns_at_its_timeout)
{
	static const struct { int timeout, idx, ret; } rows[] = {
		{ 0, 0, -EAGAIN }, { 25, 1, -ETIMEDOUT },
	};
	struct pps_uart_time r;

	sx_bound();
	KT_ROWS(row, rows) {
		s64 t0 = kxh_time_mono_ns();

		KT_EQ(pps_uart_get_time(&r, row->timeout, row->idx), row->ret);
		KT_EQ(kxh_time_mono_ns() - t0, row->timeout * 4000000LL);
		if (!row->timeout)
			KT_EQ(kxh_wait_steps(), 0);
	}
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
