// SPDX-License-Identifier: GPL-2.0
/*
 * kx_pps: GPS time of day from the receiver's GGA and ZDA sentences.
 *
 * Within each second the receiver sends GGA (fix quality) before ZDA (UTC
 * date and time), both carrying the same time field. ZDA closes the second:
 * it sets the label of the next pulse in gGPSTime, and the second's
 * evaluation decides from the fix and the continuity of the seconds whether
 * the GPS time is published (gGPSFix) and handed to the PHY alignment
 * threads through the two time channels.
 */
#include <linux/kernel.h>
#include <linux/errno.h>
#include <linux/kstrtox.h>
#include <linux/module.h>
#include <linux/sched.h>
#include <linux/spinlock.h>
#include <linux/string.h>
#include <linux/time.h>
#include <linux/timekeeping.h>
#include <linux/wait.h>

#include "kx_pps.h"

struct gps_time gGPSTime = {
	.lock = __SPIN_LOCK_UNLOCKED(gGPSTime.lock),
};
s32 gGPSFix;
u32 gpsfix_kount;
u32 missed_inc_kount;
u32 missed_gga_kount;
s64 last_gps_time;

#define GGA_MIN_FIELDS 12
#define GGA_MAX_FIELDS 14
#define ZDA_MIN_FIELDS 5
#define ZDA_MAX_FIELDS 7
/* good seconds needed before the fix is published, and the count's ceiling */
#define GPS_FIX_QUALIFY 5
#define GPS_FIX_KOUNT_MAX 20
/* ZDA sentences in a row without their GGA before the GGA fix is dropped */
#define GPS_MISSED_GGA_MAX 2
/*
 * The calendar floor: 2026-01-01, before the first release of this
 * software. No receiver that knows the time sends a date before it: such a
 * date comes from a receiver without time (a cold start counting from 1980,
 * a week number rolled over 1024 weeks back), and it is never taken, at
 * start-up too. nmeafeed judges a ZDA by the same rule (nmeafeed/zda_time.h,
 * kCalendarFloor and kWeekRolloverYear): change the two together.
 */
#define GPS_CALENDAR_FLOOR 1767225600LL	/* 2026-01-01 00:00:00 UTC */
/*
 * Receivers with an old firmware count GPS weeks from the 2019 rollover
 * and report 2025 dates 1024 weeks late after their week counter wraps:
 * a date in 2025, the year below the floor, is moved forward by those
 * 1024 weeks; an earlier year is below the floor.
 */
#define GPS_WEEK_ROLLOVER_YEAR 2025
#define GPS_WEEK_ROLLOVER_SECS 619315200LL	/* 1024 weeks */

/* BeiDou talks as "GB" since NMEA 4.10, as "BD" before it */
static const char *const gga_tags[] = {
	"$GPGGA", "$GNGGA", "$GLGGA", "$GAGGA", "$GBGGA", "$BDGGA",
};
static const char *const zda_tags[] = {
	"$GPZDA", "$GNZDA", "$GLZDA", "$GAZDA", "$GBZDA", "$BDZDA",
};

/* the line (not NUL-terminated, may hold NULs) contains one of the tags */
static bool line_has_tag(const char *line, size_t len, const char *const *tags,
			 size_t ntags)
{
	size_t i, pos;

	for (i = 0; i < ntags; i++) {
		size_t tlen = strlen(tags[i]);

		for (pos = 0; pos + tlen <= len; pos++)
			if (!memcmp(line + pos, tags[i], tlen))
				return true;
	}
	return false;
}

/*
 * Copy at most PPS_UART_LINE_MAX bytes into buf (PPS_UART_LINE_MAX + 1
 * bytes), NUL-terminate it and split it at every comma into at most max
 * fields; the last field keeps any further commas. Returns the field count.
 */
static int nmea_split(char *buf, const char *line, size_t len, char **fields, int max)
{
	char *p = buf;
	int n = 0;

	len = min_t(size_t, len, PPS_UART_LINE_MAX);
	memcpy(buf, line, len);
	buf[len] = '\0';
	fields[n++] = p;
	while (n < max) {
		p = strchr(p, ',');
		if (!p)
			break;
		*p++ = '\0';
		fields[n++] = p;
	}
	return n;
}

static void nmea_copy_time(char *dst, const char *field)
{
	size_t n = strnlen(field, PPS_NMEA_TIME_LEN);

	memcpy(dst, field, n);
	dst[n] = '\0';
}

static bool is_digit(u8 c)
{
	return c >= '0' && c <= '9';
}

static int two_digits(const char *s)
{
	return ((u8)s[0] - '0') * 10 + ((u8)s[1] - '0');
}

/*
 * A date field: exactly `digits` digits, ended by "," (where the split left
 * its NUL) or by the checksum's "*". Its value, or -1. A field of another
 * length is never read by its first characters: "26*4E" is no year 2544,
 * "205*" no 2044, "120" no December and "20250" no 2025.
 */
static int nmea_date_field(const char *f, int digits)
{
	int i, v = 0;

	for (i = 0; i < digits; i++) {
		if (!is_digit(f[i]))
			return -1;
		v = v * 10 + ((u8)f[i] - '0');
	}
	return f[digits] == '\0' || f[digits] == '*' ? v : -1;
}

/* the UTC seconds of a ZDA's date and time as they are taken, or -1 */
static time64_t pps_zda_calendar(int year, int mon, int day, int hh, int mm, int ss)
{
	time64_t t;

	if (year < GPS_WEEK_ROLLOVER_YEAR)
		return -1;
	t = mktime64(year, mon, day, hh, mm, ss);
	if (t < GPS_CALENDAR_FLOOR)
		t += GPS_WEEK_ROLLOVER_SECS;
	return t;
}

/* a leap second is inserted only as 23:59:60 on the last day of a month */
static bool pps_leap_second_ok(int year, int mon, int day, int hh, int mm)
{
	static const u8 days[12] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
	bool leap_year = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);

	return hh == 23 && mm == 59 && day == days[mon - 1] + (mon == 2 && leap_year);
}

static int nmea_hex_digit(u8 c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	return -1;
}

/* printable ASCII: everything a receiver sends between its line ends */
static bool nmea_printable(u8 c)
{
	return c >= 0x20 && c <= 0x7e;
}

/*
 * The sentence runs from the line's first "$" (the receiver's text; bytes
 * before it are line noise) to the line's end. A checksum field, "*" and
 * two hex digits of either case, must end it and match the XOR of the
 * characters between "$" and "*". A sentence without one is damaged too:
 * the receiver always sends it, so a line without it lost its tail (a ZDA
 * cut after its year would still parse). Anything after the two digits
 * (two sentences run together when a line end was lost) counts as damage
 * as well. A byte damaged on the serial line thus never becomes the time
 * of day or the fix.
 */
static bool nmea_checksum_ok(const char *line, size_t len)
{
	const char *end = line + len;
	const char *p;
	size_t i;
	int hi, lo;
	u8 sum = 0;

	/*
	 * The whole line as received is printable ASCII, the noise before
	 * the "$" included: any other byte came off the line (NUL for a break
	 * or framing error, 0xFF for a framing error, a stretch received at
	 * the wrong speed), and such damage may leave the sum matching. A
	 * line that took one was received while the UART was not in step
	 * with the receiver, so none of it is trusted.
	 */
	for (i = 0; i < len; i++)
		if (!nmea_printable(line[i]))
			return false;
	p = memchr(line, '$', len);
	if (!p)
		return false;
	for (p++; p < end && *p != '*'; p++)
		sum ^= (u8)*p;
	if (end - p != 3)
		return false;
	hi = nmea_hex_digit(p[1]);
	lo = nmea_hex_digit(p[2]);
	return hi >= 0 && lo >= 0 && (hi << 4 | lo) == sum;
}

/*
 * "ddmm.mmmmm" (deg_digits 2) or "dddmm.mmmmm" (3) and its hemisphere to
 * 1e-5 arc minutes, south and west negative; false when not such a field.
 * Digits only: no floating point here, and no division.
 */
static bool nmea_angle(const char *f, const char *hemi, int deg_digits, s64 *out)
{
	s64 deg = 0, min = 0, frac = 0, scale = 10000;
	int i;

	for (i = 0; i < deg_digits + 2; i++)
		if (!is_digit(f[i]))
			return false;
	for (i = 0; i < deg_digits; i++)
		deg = deg * 10 + (f[i] - '0');
	min = two_digits(f + deg_digits);
	f += deg_digits + 2;
	if (*f == '.')
		for (f++; is_digit(*f) && scale; f++, scale /= 10)
			frac += (*f - '0') * scale;
	while (is_digit(*f))
		f++;
	if (*f || min > 59 || deg > (deg_digits == 2 ? 90 : 180))
		return false;
	*out = (deg * 60 + min) * 100000 + frac;
	if (!strcmp(hemi, "S") || !strcmp(hemi, "W"))
		*out = -*out;
	else if (strcmp(hemi, "N") && strcmp(hemi, "E"))
		return false;
	return true;
}

void pps_process_gpgga(struct pps_uart_ctx *ctx, const char *line, size_t len)
{
	s64 lat, lon;
	char buf[PPS_UART_LINE_MAX + 1];
	char *f[GGA_MAX_FIELDS];
	unsigned int quality;
	int n;

	n = nmea_split(buf, line, len, f, GGA_MAX_FIELDS);
	if (n < GGA_MIN_FIELDS)
		return;
	/* field 1: UTC time, field 6: fix quality */
	if (!f[1][0] || !f[6][0])
		return;
	nmea_copy_time(ctx->gga_time, f[1]);
	if (kstrtouint(f[6], 10, &quality))
		quality = 0;
	ctx->gga_fix = quality < 3 ? quality : 0;
	/* fields 2 to 5: latitude, N/S, longitude, E/W; judged by the guard */
	if (ctx->gga_fix && nmea_angle(f[2], f[3], 2, &lat) && nmea_angle(f[4], f[5], 3, &lon))
		pps_guard_position(lat, lon);
}


void pps_process_gpzda(struct pps_uart_ctx *ctx, const char *line, size_t len)
{
	char buf[PPS_UART_LINE_MAX + 1];
	char *f[ZDA_MAX_FIELDS];
	struct pps_guard_zda z;
	const char *tm;
	int hh, mm, ss, day, mon, year, ms = 0;
	unsigned long flags;
	bool follows, leap;
	time64_t t;
	int n, i;

	ctx->zda_leap = false;
	n = nmea_split(buf, line, len, f, ZDA_MAX_FIELDS);
	if (n < ZDA_MIN_FIELDS)
		return;
	/* fields 1 time, 2 day, 3 month, 4 year */
	for (i = 1; i <= 4; i++)
		if (!f[i][0])
			return;
	tm = f[1];
	nmea_copy_time(ctx->zda_time, tm);

	for (i = 0; i < 6; i++)
		if (!is_digit(tm[i]))
			return;
	hh = two_digits(tm);
	mm = two_digits(tm + 2);
	ss = two_digits(tm + 4);
	if (tm[6] == '.') {
		static const int scale[3] = { 100, 10, 1 };

		for (i = 0; i < 3 && is_digit(tm[7 + i]); i++)
			ms += ((u8)tm[7 + i] - '0') * scale[i];
	}
	if (hh > 23 || mm > 59 || ss > 60)
		return;

	/* day and month two digits, the year four (nmeafeed reads them alike) */
	day = nmea_date_field(f[2], 2);
	mon = nmea_date_field(f[3], 2);
	year = nmea_date_field(f[4], 4);
	if (day < 1 || day > 31 || mon < 1 || mon > 12)
		return;
	leap = ss == 60;
	if (leap && !pps_leap_second_ok(year, mon, day, hh, mm)) {
		pps_guard_refused(PPS_GUARD_LEAP);
		return;
	}
	/*
	 * The UTC seconds since 1970 have no second 60: the pulse after
	 * 23:59:60 is 00:00:00, the label the ZDA of 23:59:59 gave the pulse
	 * before it (the leap second itself, which a kernel told of the leap
	 * shows as 23:59:59 again). Read as the next day's 00:00:00, second
	 * 60 would label that pulse 00:00:01, a second ahead.
	 */
	t = pps_zda_calendar(year, mon, day, hh, mm, leap ? 59 : ss);
	if (t < 0) {
		pps_guard_refused(PPS_GUARD_CALENDAR);
		return;
	}

	/* the label of the next whole-second pulse */
	t++;
	if (ms)
		t++;

	/*
	 * The 8-bit XOR checksum lets some damage through: two flips of the
	 * same bit in two characters leave it matching (".000" read as ".440",
	 * a day "06" as "17"). Such a ZDA still parses, but its time does not
	 * follow the previous one. The pulse gets a label only when this ZDA
	 * is exactly one second after the last one taken; a jump is held back
	 * until the next ZDA follows it by one second and so confirms it. A
	 * leap second follows 23:59:59 with that second's label again.
	 * Once the receiver is trusted, the integrity guard holds the label
	 * against the appliance's own count of seconds instead.
	 */
	z.leap = leap;
	z.month_turn = pps_leap_second_ok(year, mon, day, hh, mm) ||
		       (day == 1 && hh == 0 && mm == 0);
	spin_lock_irqsave(&gGPSTime.lock, flags);
	follows = t == gGPSTime.ts.tv_sec + 1 || (leap && t == gGPSTime.ts.tv_sec);
	ctx->zda_leap = leap;
	gGPSTime.ts.tv_sec = t;
	gGPSTime.ts.tv_nsec = 0;
	gGPSTime.pending = pps_guard_label(t, follows, READ_ONCE(gGPSFix), &z);
	spin_unlock_irqrestore(&gGPSTime.lock, flags);
}

s64 pps_gps_time_sec(void)
{
	unsigned long flags;
	s64 sec;

	spin_lock_irqsave(&gGPSTime.lock, flags);
	sec = gGPSTime.ts.tv_sec;
	spin_unlock_irqrestore(&gGPSTime.lock, flags);
	return sec;
}

/* empty both channels and, with a record, put it on each (never queued behind) */
static void pps_nmea_channels_set(struct pps_uart_ctx *ctx, const struct pps_uart_time *rec)
{
	unsigned long flags;
	int i;

	for (i = 0; i < 2; i++) {
		spin_lock_irqsave(&ctx->nmea.lock[i], flags);
		kfifo_reset(&ctx->nmea.fifo[i]);
		if (rec)
			kfifo_in(&ctx->nmea.fifo[i], rec, sizeof(*rec));
		spin_unlock_irqrestore(&ctx->nmea.lock[i], flags);
		if (rec)
			wake_up_all(&ctx->nmea.wq[i]);
	}
}

/*
 * A ZDA without its GGA. A GGA lost now and then leaves the second as it
 * is; once more are missing in a row than GPS_MISSED_GGA_MAX, nothing
 * vouches for the fix any more (a receiver that stopped its GGA, or talks
 * in a way not understood, while its ZDA goes on): each further second
 * counts as one without a fix, so no pulse is labelled, no time record
 * made, no clock stepped on the ZDA alone, and the holdover limit runs.
 * The message is logged up to the first second beyond the limit, not
 * every second.
 */
static void pps_nmea_missed_gga(struct pps_uart_ctx *ctx, s64 sec)
{
	unsigned long flags;

	if (missed_gga_kount < U32_MAX)
		missed_gga_kount++;
	last_gps_time = sec;
	if (missed_gga_kount > GPS_MISSED_GGA_MAX) {
		ctx->gga_fix = 0;
		WRITE_ONCE(gGPSFix, 0);
		gpsfix_kount = 0;
		missed_inc_kount = 0;
		spin_lock_irqsave(&gGPSTime.lock, flags);
		gGPSTime.pending = 0;
		spin_unlock_irqrestore(&gGPSTime.lock, flags);
		pps_nmea_channels_set(ctx, NULL);
	}
	if (missed_gga_kount <= GPS_MISSED_GGA_MAX + 1)
		pr_alert("missed GGA, fix=%d gga_time=%s zda_time=%s epoch=%lld missed count=%d",
			 (int)ctx->gga_fix, ctx->gga_time, ctx->zda_time, sec,
			 (int)missed_gga_kount);
	pps_holdover_update(pps_guard_fix(READ_ONCE(gGPSFix)));
}

/* after every ZDA line, accepted or not: settle this second's fix state */
static void pps_nmea_second(struct pps_uart_ctx *ctx)
{
	struct pps_uart_time rec;
	struct timespec64 ts, now;
	unsigned long flags;
	s64 sec;

	pps_uart_monitor_rearm();

	sec = pps_gps_time_sec();
	if (strcmp(ctx->gga_time, ctx->zda_time)) {
		pps_nmea_missed_gga(ctx, sec);
		pps_guard_second(0);
		return;
	}

	if (ctx->gga_fix == 1 || ctx->gga_fix == 2) {
		/* 23:59:60 carries the label of 23:59:59 on (pps_process_gpzda) */
		if (sec == last_gps_time + 1 || (ctx->zda_leap && sec == last_gps_time)) {
			spin_lock_irqsave(&gGPSTime.lock, flags);
			ts = gGPSTime.ts;
			spin_unlock_irqrestore(&gGPSTime.lock, flags);
			last_gps_time = ts.tv_sec;

			ktime_get_real_ts64(&now);
			memset(&rec, 0, sizeof(rec));
			rec.gps_sec = ts.tv_sec;
			rec.gps_nsec = (u32)ts.tv_nsec;
			rec.sys_sec = now.tv_sec;
			rec.sys_nsec = (u32)now.tv_nsec;
			rec.fix = READ_ONCE(gGPSFix);
			/* a suspect receiver's time goes to no PHY */
			pps_nmea_channels_set(ctx, pps_guard_time_ok() ? &rec : NULL);

			gpsfix_kount++;
			if (gpsfix_kount <= GPS_FIX_QUALIFY) {
				ctx->gga_fix = 0;
				WRITE_ONCE(gGPSFix, 0);
			} else {
				if (gpsfix_kount > GPS_FIX_KOUNT_MAX)
					gpsfix_kount = GPS_FIX_KOUNT_MAX;
				WRITE_ONCE(gGPSFix, (s32)ctx->gga_fix);
			}
			missed_inc_kount = 0;
		} else {
			/* a second skipped, repeated or gone back */
			missed_inc_kount++;
			if (missed_inc_kount >= 2) {
				WRITE_ONCE(gGPSFix, 0);
				gpsfix_kount = 0;
				spin_lock_irqsave(&gGPSTime.lock, flags);
				gGPSTime.pending = 0;
				spin_unlock_irqrestore(&gGPSTime.lock, flags);
			}
			last_gps_time = sec;
			pps_nmea_channels_set(ctx, NULL);
		}
	} else {
		WRITE_ONCE(gGPSFix, 0);
		gpsfix_kount = 0;
		last_gps_time = sec;
		missed_inc_kount = 0;
		ctx->gga_fix = 0;
	}
	missed_gga_kount = 0;
	pps_guard_second(READ_ONCE(gGPSFix));
	/* a suspect receiver's fix counts as none: the time is held over */
	pps_holdover_update(pps_guard_fix(READ_ONCE(gGPSFix)));
}

void pps_nmea_dispatch(struct pps_uart_ctx *ctx, const char *line, size_t len)
{
	/* damaged: no time extraction, and a ZDA does not close its second */
	if (!nmea_checksum_ok(line, len))
		return;
	if (line_has_tag(line, len, gga_tags, ARRAY_SIZE(gga_tags)))
		pps_process_gpgga(ctx, line, len);
	if (line_has_tag(line, len, zda_tags, ARRAY_SIZE(zda_tags))) {
		pps_process_gpzda(ctx, line, len);
		pps_nmea_second(ctx);
	}
}

/*
 * The exported calls run in the PHY alignment threads while the serial
 * device may be removed: a caller finds the context under
 * pps_uart_ctx_lock, and one that sleeps holds a user count that removal
 * waits for, so the channels are never freed under it.
 */
static struct pps_uart_ctx *pps_uart_ctx_get(void)
{
	struct pps_uart_ctx *ctx;
	unsigned long flags;

	spin_lock_irqsave(&pps_uart_ctx_lock, flags);
	ctx = g_ctx;
	if (ctx)
		ctx->users++;
	spin_unlock_irqrestore(&pps_uart_ctx_lock, flags);
	return ctx;
}

static void pps_uart_ctx_put(struct pps_uart_ctx *ctx)
{
	unsigned long flags;
	bool last;

	spin_lock_irqsave(&pps_uart_ctx_lock, flags);
	last = --ctx->users == 0 && ctx->removing;
	spin_unlock_irqrestore(&pps_uart_ctx_lock, flags);
	if (last)
		wake_up_all(&pps_uart_users_wq);
}

/* a record waits on the channel, or the device is going away */
static bool pps_uart_chan_ready(struct pps_uart_ctx *ctx, int idx)
{
	unsigned long flags;
	bool ready;

	spin_lock_irqsave(&ctx->nmea.lock[idx], flags);
	ready = !kfifo_is_empty(&ctx->nmea.fifo[idx]);
	spin_unlock_irqrestore(&ctx->nmea.lock[idx], flags);
	if (ready)
		return true;
	spin_lock_irqsave(&pps_uart_ctx_lock, flags);
	ready = ctx->removing;
	spin_unlock_irqrestore(&pps_uart_ctx_lock, flags);
	return ready;
}

int pps_uart_get_time_nowait(struct pps_uart_time *out, int idx)
{
	struct pps_uart_ctx *ctx;
	unsigned long flags;
	int ret = -ENODEV;

	if (!out)
		return -ENODEV;
	spin_lock_irqsave(&pps_uart_ctx_lock, flags);
	ctx = g_ctx;
	if (ctx) {
		spin_lock(&ctx->nmea.lock[idx]);
		if (kfifo_len(&ctx->nmea.fifo[idx]) >= sizeof(*out) &&
		    kfifo_out(&ctx->nmea.fifo[idx], out, sizeof(*out)) == sizeof(*out))
			ret = 0;
		else
			ret = -EAGAIN;
		spin_unlock(&ctx->nmea.lock[idx]);
	}
	spin_unlock_irqrestore(&pps_uart_ctx_lock, flags);
	return ret;
}
EXPORT_SYMBOL_GPL(pps_uart_get_time_nowait);

int pps_uart_get_time(struct pps_uart_time *out, unsigned long timeout, int idx)
{
	struct pps_uart_ctx *ctx;
	long left;
	int ret;

	ret = pps_uart_get_time_nowait(out, idx);
	if (ret != -EAGAIN || !timeout)
		return ret;

	ctx = pps_uart_ctx_get();
	if (!ctx)
		return -ENODEV;
	left = wait_event_interruptible_timeout(ctx->nmea.wq[idx],
						pps_uart_chan_ready(ctx, idx),
						(long)min_t(unsigned long, timeout,
							    MAX_SCHEDULE_TIMEOUT));
	pps_uart_ctx_put(ctx);
	if (left < 0)
		return (int)left;
	if (left == 0)
		return -ETIMEDOUT;
	return pps_uart_get_time_nowait(out, idx);
}
EXPORT_SYMBOL_GPL(pps_uart_get_time);
