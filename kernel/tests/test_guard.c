// SPDX-License-Identifier: GPL-2.0
/*
 * The GNSS integrity guard. Property: over 10^5 seconds of a receiver that
 * lies now and then at random (its time of day off by seconds to a year,
 * its pulse stepped by 1 us to 1 ms, its position kilometres away, a date
 * before the floor) between truthful spells, with spells of jamming (no
 * fix, no pulse) and operator accepts, every second:
 *  - once the receiver has been trusted (and no accept since), no wrong
 *    second leaves: every label handed to a pulse is the true second, every
 *    time record the next one;
 *  - while suspect nothing leaves at all (no label, no record, no LinuxPPS
 *    pulse), the holdover seconds count and time is not known beyond the
 *    limit;
 *  - a lie that starts while trusted makes it suspect within 3 s, with the
 *    lie's reason, counted in gnss_counts;
 *  - a truthful spell of gnss_agree seconds (gnss_qualify after an accept)
 *    and a little more ends trusted.
 * The oscillator is perfect here (the campaign in testbed/campaign adds the
 * VCXO model's noise and temperature); the checks are on what leaves.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kx_board.h"
#include "kx_serial.h"
#include "ktest.h"

#define SECONDS 100000
#define QUALIFY 60
#define AGREE 20
#define LIMIT 30

enum lie { TRUTH, JUMP, STEP, POSITION, CALENDAR, JAM, NLIES };

static const int lie_reason[NLIES] = {
	[JUMP] = PPS_GUARD_TIME, [STEP] = PPS_GUARD_PHASE,
	[POSITION] = PPS_GUARD_POSITION, [CALENDAR] = PPS_GUARD_CALENDAR,
};

static u64 rng = 0x2545F4914F6CDD1DULL;

static s64 below(s64 n)
{
	return ktest_below(&rng, n);
}

static void send(const char *body)
{
	char line[200];

	sx_sentence(line, sizeof(line) - 2, body);
	strcat(line, "\r\n");
	sx_feeds(line);
}

/* GGA and ZDA of second sec, the fix north_km away from home, year given or true */
static void sentences(s64 sec, int fix, int north_km, int year)
{
	/* home 48 deg 07' N; 1 km is 0.54 arc minute; noise under a metre */
	long m5 = 700000 + north_km * 54000L + (long)below(50);
	char hms[16], body[160];
	int d, m, y;

	sx_utc(sec, hms, &d, &m, &y);
	snprintf(body, sizeof(body),
		 "GPGGA,%s.000,48%02ld.%05ld,N,01131.00000,E,%d,08,0.9,545.4,M,46.9,M,,",
		 hms, m5 / 100000, m5 % 100000, fix);
	send(body);
	snprintf(body, sizeof(body), "GPZDA,%s.000,%02d,%02d,%04d,00,00", hms, d, m, year ? year : y);
	send(body);
}

static struct pps_guard_status status(void)
{
	struct pps_guard_status st;

	pps_guard_status(&st);
	return st;
}

static u32 counted(void)
{
	struct pps_guard_status st = status();
	u32 n = 0;
	int i;

	for (i = 0; i < PPS_GUARD_REASONS; i++)
		n += st.counts[i];
	return n;
}

KTEST(a_lying_receiver_never_gets_a_wrong_second_out_once_trusted)
{
	struct pps_device *src;
	s64 mono0, truth, sec;
	u32 counter = 0, alarms = 0, count0;
	int lie = TRUTH, left = 300, spell = 0, trusted_once = 0;
	int lie_start_trusted = 0, amount = 0;
	long s;

	gnss_guard = 1;
	gnss_qualify = QUALIFY;
	gnss_agree = AGREE;
	holdover_setting = LIMIT;
	kb_load(0);
	sx_add_uart(0, false);
	src = kb_priv()->pps_src;
	mono0 = kxh_time_mono_ns();
	count0 = counted();

	for (s = 0; s < SECONDS; s++) {
		struct pps_uart_time rec;
		struct pps_guard_status before = status(), after;
		unsigned int events;
		bool suspect_before, judged;
		s32 held;
		s64 told;
		int pending;

		truth = SX_T0 + s;
		if (--left <= 0) {
			/* a lie or a truthful spell ends; the next one begins */
			if (lie == TRUTH) {
				lie = 1 + (int)below(NLIES - 1);
				left = 5 + (int)below(200);
				amount = ((int)below(2) ? -1 : 1) * (1 + (int)below(25000));
				lie_start_trusted = !strcmp(before.state, "trusted");
			} else {
				lie = TRUTH;
				left = AGREE + 8 + (int)below(400);
			}
			spell = 0;
		}
		spell++;
		if (lie == TRUTH && spell == 3 && !below(20)) {
			KT_TRUE(kxh_sysfs_write("pps_filter/gnss_accept", "1") > 0);
			KT_STREQ(status().state, "qualifying");
			trusted_once = 0;
			left = QUALIFY + 10 + (int)below(100);
		}
		before = status();
		suspect_before = !strcmp(before.state, "suspect");
		judged = trusted_once && strcmp(before.state, "qualifying");
		held = holdover_time_sec;
		events = kxh_pps_events(src);

		/* the pulse of second truth */
		kxh_time_advance_ns(mono0 + (s + 1) * 1000000000LL - kxh_time_mono_ns());
		counter += KX_N0;
		if (lie != JAM) {
			pending = READ_ONCE(gGPSTime.pending);
			sec = gGPSTime.ts.tv_sec;
			kb_pulse(counter + (lie == STEP ? amount + (amount < 0 ? -24 : 24) : 0));
			if (pending && !READ_ONCE(gGPSTime.pending) && judged)
				KT_EQ(sec, truth);
			if (suspect_before)
				KT_EQ(kxh_pps_events(src), events);
		}
		kxh_wq_run_all();

		told = truth;
		if (lie == JUMP)
			told += amount * (below(2) ? 1 : 1261);
		sentences(told, lie != JAM, lie == POSITION ? 1 + (int)below(20) : 0,
			  lie == CALENDAR ? 2007 : 0);
		kxh_wq_run_all();
		while (!pps_uart_get_time_nowait(&rec, 0) || !pps_uart_get_time_nowait(&rec, 1)) {
			KT_FALSE(suspect_before);
			if (judged)
				KT_EQ(rec.gps_sec, truth + 1);
		}

		after = status();
		if (!strcmp(after.state, "trusted"))
			trusted_once = 1;
		if (!strcmp(after.state, "suspect")) {
			if (!suspect_before) {
				alarms++;
				/* the alarm in the kernel log, at alert level */
				KT_EQ(kxh_log_count_sub(1, "GNSS receiver suspect"), 1);
				KT_EQ(after.since, truth);
				if (lie != TRUTH && lie != JAM && lie_start_trusted)
					KT_STREQ(after.reason, pps_guard_reason_name(lie_reason[lie]));
			}
			/* held over: the seconds count, the limit applies */
			if (suspect_before && lie != JAM)
				KT_EQ(holdover_time_sec, held + 1);
			if (holdover_time_sec >= LIMIT)
				KT_FALSE(time_known);
		} else {
			KT_STREQ(after.reason, "none");
		}
		/* detection within 3 s of a lie that started while trusted */
		if (lie != TRUTH && lie != JAM && lie_start_trusted && spell == 3)
			KT_STREQ(after.state, "suspect");
		/* a long enough truthful spell ends trusted */
		if (lie == TRUTH && left == 1 && spell > AGREE + 5 &&
		    (trusted_once || spell > QUALIFY + 5))
			KT_STREQ(after.state, "trusted");
		kxh_log_clear();
	}
	KT_TRUE(alarms > 100);
	/* every alarm counted under its reason; calendar also while qualifying */
	KT_TRUE(counted() - count0 >= alarms);
	KT_TRUE(counted() - count0 - status().counts[PPS_GUARD_CALENDAR] <= alarms);
}

/* "[-]D.DDDDDDD" to 1e-7 degree; end after it */
static s64 degrees(const char *p, char **end)
{
	bool neg = *p == '-';
	s64 v = llabs(strtoll(p, end, 10)) * 10000000;

	if (**end == '.')
		v += strtoll(*end + 1, end, 10);
	return neg ? -v : v;
}

/* "LAT LON" in degrees with 7 decimals goes in and comes back, or is refused */
KTEST(home_position_written_reads_back_and_nonsense_is_refused)
{
	static const char *const refused[] = {
		"", "48.1", "91 0", "0 181", "-90.0000001 0", "48.1x 11.5", "48.1 11.5 3", "a b",
	};
	char text[64], back[64], *p;
	int i;

	kb_load(0);
	KT_EQ(kxh_sysfs_read("pps_filter/gnss_home", back, sizeof(back)), 5);
	KT_STREQ(back, "none\n");
	for (i = 0; i < 1000; i++) {
		s64 lat = below(1800000001) - 900000000, lon = below(3600000001) - 1800000000;

		snprintf(text, sizeof(text), "%s%lld.%07lld %s%lld.%07lld", lat < 0 ? "-" : "",
			 llabs(lat) / 10000000, llabs(lat) % 10000000, lon < 0 ? "-" : "",
			 llabs(lon) / 10000000, llabs(lon) % 10000000);
		KT_EQ(kxh_sysfs_write("pps_filter/gnss_home", text), (long)strlen(text));
		KT_TRUE(kxh_sysfs_read("pps_filter/gnss_home", back, sizeof(back)) > 0);
		/* kept to 1e-5 arc minute (1.7e-7 degree): back within 1e-7 degree */
		KT_TRUE(llabs(degrees(back, &p) - lat) <= 1);
		KT_TRUE(llabs(degrees(p + 1, &p) - lon) <= 1);
		KT_STREQ(p, "\n");
	}
	KT_ROWS(t, refused)
		KT_EQ(kxh_sysfs_write("pps_filter/gnss_home", *t), -EINVAL);
}

/*
 * gnss_guard written at run time: 0 takes the receiver at its word again
 * (a jump waits for the next ZDA, then is followed), 1 starts qualifying.
 */
KTEST(the_guard_switched_off_follows_a_jump_and_on_again_qualifies)
{
	char text[32];
	s64 s, sec, mono0;
	u32 counter = 0;

	gnss_guard = 1;
	gnss_qualify = QUALIFY;
	kb_load(0);
	sx_add_uart(0, false);
	mono0 = kxh_time_mono_ns();
	for (s = 0; s < QUALIFY + 20; s++) {
		/* the PPS LED's work sleeps: the pulses keep to whole seconds */
		kxh_time_advance_ns(mono0 + (s + 1) * 1000000000LL - kxh_time_mono_ns());
		kb_pulse(counter += KX_N0);
		kxh_wq_run_all();
		sentences(SX_T0 + s, 1, 0, 0);
	}
	KT_STREQ(status().state, "trusted");
	gnss_guard = 0;
	KT_EQ(kxh_sysfs_read("pps_filter/gnss_state", text, sizeof(text)), 4);
	KT_STREQ(text, "off\n");
	for (; s < QUALIFY + 23; s++) {
		/* the PPS LED's work sleeps: the pulses keep to whole seconds */
		kxh_time_advance_ns(mono0 + (s + 1) * 1000000000LL - kxh_time_mono_ns());
		kb_pulse(counter += KX_N0);
		kxh_wq_run_all();
		sentences(SX_T0 + s + 3600, 1, 0, 0);
	}
	/* the jump of an hour taken: the next pulse's label */
	KT_TRUE(READ_ONCE(gGPSTime.pending));
	sec = gGPSTime.ts.tv_sec;
	KT_EQ(sec, SX_T0 + s + 3600);
	gnss_guard = 1;
	KT_STREQ(status().state, "qualifying");
}

/* GGA and ZDA with the receiver's own hhmmss and date (second 60 too) */
static void sentences_text(const char *hms, int d, int m, int y)
{
	char body[160];

	snprintf(body, sizeof(body),
		 "GPGGA,%s.000,4807.00000,N,01131.00000,E,1,08,0.9,545.4,M,46.9,M,,", hms);
	send(body);
	snprintf(body, sizeof(body), "GPZDA,%s.000,%02d,%02d,%04d,00,00", hms, d, m, y);
	send(body);
}

/*
 * A leap second where it belongs, 23:59:60 on the last day of a month, is
 * no alarm: the appliance's own scale repeats a second with the receiver,
 * every pulse goes on to LinuxPPS and the receiver stays trusted.
 */
KTEST(a_leap_second_at_the_end_of_a_month_raises_no_alarm)
{
	/* 2026-12-31 23:58:00 UTC; 00:00:00 is 2027-01-01 */
	const s64 start = 1798761480LL, midnight = 1798761600LL;
	struct pps_device *src;
	char hms[16];
	s64 mono0, s, posix;
	u32 counter = 0;
	int d, m, y;

	gnss_guard = 1;
	gnss_qualify = QUALIFY;
	kb_load(0);
	sx_add_uart(0, false);
	src = kb_priv()->pps_src;
	mono0 = kxh_time_mono_ns();
	for (s = 0; s < 200; s++) {
		unsigned int events = kxh_pps_events(src);

		kxh_time_advance_ns(mono0 + (s + 1) * 1000000000LL - kxh_time_mono_ns());
		kb_pulse(counter += KX_N0);
		if (s > QUALIFY + 15)
			KT_EQ(kxh_pps_events(src), events + 1);
		kxh_wq_run_all();
		/* the receiver's second: 23:59:60 after 23:59:59, then one behind */
		posix = start + s - (start + s > midnight);
		sx_utc(posix, hms, &d, &m, &y);
		if (start + s == midnight)
			sx_utc(posix - 1, hms, &d, &m, &y), memcpy(hms + 4, "60", 2);
		sentences_text(hms, d, m, y);
		kxh_wq_run_all();
		/* trusted well before midnight (the fix itself takes 5 s) */
		if (s == QUALIFY + 15)
			KT_STREQ(status().state, "trusted");
	}
	KT_STREQ(status().state, "trusted");
	KT_EQ(counted(), 0);
}
