// SPDX-License-Identifier: GPL-2.0
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "receiver_stream.h"

/* one 64-bit mix step (splitmix64): a value that looks random for each key */
static uint64_t mix(uint64_t a, uint64_t b)
{
	uint64_t z = a * 0x9E3779B97F4A7C15ull + b + 0x632BE59BD9B4E019ull;

	z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
	z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
	return z ^ (z >> 31);
}

/* the satellites each system may have in view, and how many */
static const struct {
	const char *talker;
	int first_prn, count;
} catalogue[RX_SYSTEMS] = {
	{ "GP", 1, 14 }, { "GL", 65, 10 }, { "GA", 101, 9 }, { "BD", 201, 8 },
};

#define SKY_PERIOD 300		/* satellites rise and set on this scale (s) */

void rx_civil(int64_t utc, int *year, int *month, int *day, int *hh, int *mm, int *ss)
{
	int64_t days = utc / 86400, rem = utc % 86400;
	int64_t z, era, doe, yoe, doy, mp, m;

	if (rem < 0) {
		rem += 86400;
		days--;
	}
	/* days since 1970-01-01 to a civil date */
	z = days + 719468;
	era = (z >= 0 ? z : z - 146096) / 146097;
	doe = z - era * 146097;
	yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
	doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
	mp = (5 * doy + 2) / 153;
	m = mp < 10 ? mp + 3 : mp - 9;
	*day = (int)(doy - (153 * mp + 2) / 5 + 1);
	*month = (int)m;
	*year = (int)(yoe + era * 400 + (m <= 2));
	*hh = (int)(rem / 3600);
	*mm = (int)(rem / 60 % 60);
	*ss = (int)(rem % 60);
}

int64_t rx_utc_of(int year, int month, int day, int hh, int mm, int ss)
{
	int64_t y = month <= 2 ? year - 1 : year;
	int64_t era = (y >= 0 ? y : y - 399) / 400;
	int64_t yoe = y - era * 400;
	int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
	int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
	int64_t days = era * 146097 + doe - 719468;

	return days * 86400 + hh * 3600 + mm * 60 + ss;
}

void rx_truth_make(struct rx_truth *t, int64_t utc, int fix, uint64_t site_seed)
{
	uint64_t w = mix(site_seed, (uint64_t)utc);
	int s, k;

	memset(t, 0, sizeof(*t));
	t->utc = utc;
	t->fix = fix;
	/* the site, and a wander of up to 0.1 arc minute and 2 m around it */
	t->lat_e4min = (int32_t)(mix(site_seed, 1) % (2 * 85 * 600000 + 1)) - 85 * 600000;
	t->lon_e4min = (int32_t)(mix(site_seed, 2) % (2 * 179 * 600000 + 1)) - 179 * 600000;
	t->alt_dm = (int32_t)(mix(site_seed, 3) % 30000) - 500;
	t->lat_e4min += (int32_t)(w % 2001) - 1000;
	t->lon_e4min += (int32_t)(w / 2001 % 2001) - 1000;
	t->alt_dm += (int32_t)(w / 4004001 % 41) - 20;

	for (s = 0; s < RX_SYSTEMS; s++) {
		struct rx_system *sys = &t->sys[s];
		uint64_t sky = (uint64_t)(utc / SKY_PERIOD) * 8 + (uint64_t)s;

		sys->talker = catalogue[s].talker;
		for (k = 0; k < catalogue[s].count; k++) {
			int prn = catalogue[s].first_prn + k;
			uint64_t h = mix(sky, (uint64_t)prn);
			uint64_t sig = mix((uint64_t)utc, (uint64_t)prn * 131 + (uint64_t)s);
			struct rx_sat *sat;

			if (h % 100 >= 65 || sys->in_view == RX_SATS_MAX)
				continue;
			sat = &sys->sat[sys->in_view++];
			sat->prn = prn;
			sat->elevation = 5 + (int)(h / 100 % 85);
			sat->azimuth = (int)(h / 8500 % 360);
			sat->snr = sig % 10 == 0 ? 0 : 12 + (int)(sig / 10 % 40);
		}
	}
	if (!fix)
		return;
	for (s = 0; s < RX_SYSTEMS; s++) {
		int used = 0;

		for (k = 0; k < t->sys[s].in_view; k++) {
			const struct rx_sat *sat = &t->sys[s].sat[k];

			if (sat->snr >= 25 && sat->elevation >= 10 && used < 12)
				used++;
		}
		t->sats_used += used;
	}
}

/* ---- sentences ------------------------------------------------------------ */

struct out {
	char *buf;
	size_t size, len;
	struct rx_line *lines;
	int nlines;
	size_t start;		/* of the sentence being written */
};

static void put(struct out *o, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

static void put(struct out *o, const char *fmt, ...)
{
	va_list ap;
	int n;

	if (o->len >= o->size)
		return;
	va_start(ap, fmt);
	n = vsnprintf(o->buf + o->len, o->size - o->len, fmt, ap);
	va_end(ap);
	if (n > 0)
		o->len += (size_t)n < o->size - o->len ? (size_t)n : o->size - o->len - 1;
}

static void begin(struct out *o, enum rx_kind kind, int system)
{
	o->start = o->len;
	if (o->nlines < RX_LINES_MAX)
		o->lines[o->nlines] = (struct rx_line){ .off = o->len, .kind = kind,
							.system = system };
	put(o, "$");
}

/* "*HH\r\n" over the body since the "$" */
static void end(struct out *o)
{
	unsigned int sum = 0;
	size_t i;

	for (i = o->start + 1; i < o->len; i++)
		sum ^= (unsigned char)o->buf[i];
	put(o, "*%02X\r\n", sum);
	if (o->nlines < RX_LINES_MAX)
		o->lines[o->nlines++].len = o->len - o->start;
}

/* ddmm.mmmm,N or dddmm.mmmm,E */
static void coordinate(struct out *o, int32_t e4min, int deg_digits, char pos, char neg)
{
	int32_t v = e4min < 0 ? -e4min : e4min;

	put(o, "%0*d%02d.%04d,%c", deg_digits, (int)(v / 600000), (int)(v % 600000 / 10000),
	    (int)(v % 10000), e4min < 0 ? neg : pos);
}

static void gga(struct out *o, const struct rx_truth *t, const char *hms)
{
	int32_t a = t->alt_dm < 0 ? -t->alt_dm : t->alt_dm;

	begin(o, RX_GGA, -1);
	if (!t->fix) {
		put(o, "GNGGA,%s,,,,,0,00,,,M,,M,,", hms);
	} else {
		put(o, "GNGGA,%s,", hms);
		coordinate(o, t->lat_e4min, 2, 'N', 'S');
		put(o, ",");
		coordinate(o, t->lon_e4min, 3, 'E', 'W');
		put(o, ",%d,%02d,0.90,%s%d.%d,M,46.9,M,,", t->fix, t->sats_used,
		    t->alt_dm < 0 ? "-" : "", (int)(a / 10), (int)(a % 10));
	}
	end(o);
}

static void gsa(struct out *o, const struct rx_truth *t, int s)
{
	int k, used = 0;

	begin(o, RX_GSA, s);
	put(o, "GNGSA,A,%d", t->fix ? 3 : 1);
	for (k = 0; k < t->sys[s].in_view && t->fix; k++) {
		const struct rx_sat *sat = &t->sys[s].sat[k];

		if (sat->snr >= 25 && sat->elevation >= 10 && used < 12) {
			put(o, ",%02d", sat->prn);
			used++;
		}
	}
	for (; used < 12; used++)
		put(o, ",");
	put(o, t->fix ? ",1.52,0.90,1.22" : ",,,");
	end(o);
}

static void gsv(struct out *o, const struct rx_truth *t, int s)
{
	const struct rx_system *sys = &t->sys[s];
	int msgs = sys->in_view ? (sys->in_view + 3) / 4 : 1;
	int m, k;

	for (m = 0; m < msgs; m++) {
		begin(o, RX_GSV, s);
		put(o, "%sGSV,%d,%d,%02d", sys->talker, msgs, m + 1, sys->in_view);
		for (k = m * 4; k < sys->in_view && k < m * 4 + 4; k++) {
			const struct rx_sat *sat = &sys->sat[k];

			put(o, ",%02d,%02d,%03d,", sat->prn, sat->elevation, sat->azimuth);
			if (sat->snr)
				put(o, "%02d", sat->snr);
		}
		end(o);
	}
}

size_t rx_stream_second(const struct rx_truth *t, char *buf, size_t size,
			struct rx_line *lines, int *nlines)
{
	struct out o = { .buf = buf, .size = size, .lines = lines };
	int year, month, day, hh, mm, ss, s;
	char hms[16];

	rx_civil(t->utc, &year, &month, &day, &hh, &mm, &ss);
	snprintf(hms, sizeof(hms), "%02d%02d%02d.000", hh, mm, ss);

	gga(&o, t, hms);
	for (s = 0; s < RX_SYSTEMS; s++)
		gsa(&o, t, s);
	for (s = 0; s < RX_SYSTEMS; s++)
		gsv(&o, t, s);

	begin(&o, RX_RMC, -1);
	if (t->fix) {
		put(&o, "GNRMC,%s,A,", hms);
		coordinate(&o, t->lat_e4min, 2, 'N', 'S');
		put(&o, ",");
		coordinate(&o, t->lon_e4min, 3, 'E', 'W');
		put(&o, ",0.00,0.00,%02d%02d%02d,,,%c", day, month, year % 100,
		    t->fix == 2 ? 'D' : 'A');
	} else {
		put(&o, "GNRMC,%s,V,,,,,0.00,0.00,%02d%02d%02d,,,N", hms, day, month, year % 100);
	}
	end(&o);

	begin(&o, RX_ZDA, -1);
	put(&o, "GNZDA,%s,%02d,%02d,%04d,00,00", hms, day, month, year);
	end(&o);

	*nlines = o.nlines;
	return o.len;
}
