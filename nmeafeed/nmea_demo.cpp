// nmea_demo: decodes a recorded NMEA session with the sentence library and
// prints, per sentence, what the library makes of it.
//
//   nmea_demo FILE     (or standard input without FILE)
#include <cstdio>
#include <cstring>

#include "kx_path.h"
#include "nmea_parser.h"

namespace {

const char *type_name(int32_t type)
{
	static const char *const names[] = {"other", "RMC", "GGA", "GSA", "GLL",
	                                    "GST",   "GSV", "ZDA", "PGTOP"};
	if (type < 0 || type > NMEA_PGTOP)
		return "invalid";
	return names[type];
}

// Decimal text of a fixed-point number, without floating point.
const char *fixed_text(const nmea_fixed &f, char *buf, size_t size)
{
	if (f.scale <= 1) {
		snprintf(buf, size, "%d", f.value);
		return buf;
	}
	int digits = 0;
	for (int32_t s = f.scale; s > 1 && digits < 9; s /= 10)
		digits++;
	long long v = f.value;
	long long whole = (v < 0 ? -v : v) / f.scale;
	long long frac = (v < 0 ? -v : v) % f.scale;
	snprintf(buf, size, "%s%lld.%0*lld", v < 0 ? "-" : "", whole, digits, frac);
	return buf;
}

void print_time(const nmea_time_of_day &t)
{
	printf("%02d:%02d:%02d.%06d", t.hours, t.minutes, t.seconds, t.microseconds);
}

void decode(const char *line)
{
	char a[64], b[64], c[64];
	int32_t type = nmea_sentence_type(line, true);
	printf("%-6s ", type_name(type));
	switch (type) {
	case NMEA_GGA: {
		nmea_gga g{};
		nmea_parse_gga(&g, line);
		print_time(g.utc_time);
		printf(" lat %s lon %s fix %u sats %u hdop %s alt %s %c\n",
		       fixed_text(g.lat, a, sizeof a), fixed_text(g.lon, b, sizeof b), g.quality,
		       g.sats_used, fixed_text(g.hdop, c, sizeof c), g.alt.text, g.alt_unit);
		break;
	}
	case NMEA_RMC: {
		nmea_rmc r{};
		if (nmea_parse_rmc(&r, line) != 0) {
			printf("(not decoded)\n");
			break;
		}
		print_time(r.utc_time);
		printf(" %s lat %s lon %s speed %s kn date %02d-%02d-%02d\n", r.active ? "active" : "void",
		       fixed_text(r.lat, a, sizeof a), fixed_text(r.lon, b, sizeof b),
		       fixed_text(r.speed_knots, c, sizeof c), r.utc_date.year, r.utc_date.month,
		       r.utc_date.day);
		break;
	}
	case NMEA_GSA: {
		nmea_gsa g{};
		nmea_parse_gsa(&g, line);
		printf("%c fix %uD used", g.selection, g.fix_kind);
		for (int32_t prn : g.used_prn)
			if (prn != 0)
				printf(" %d", prn);
		printf(" pdop %s hdop %s vdop %s\n", fixed_text(g.pdop, a, sizeof a),
		       fixed_text(g.hdop, b, sizeof b), fixed_text(g.vdop, c, sizeof c));
		break;
	}
	case NMEA_GSV: {
		nmea_gsv g{};
		nmea_parse_gsv(&g, line);
		printf("%.2s msg %d/%d in view %d:", line + 1, g.msg_index, g.msg_count, g.sats_in_view);
		for (const nmea_sat_info &s : g.sat)
			if (s.prn != 0)
				printf(" %u(el %d az %d snr %d)", s.prn, s.elevation, s.azimuth, s.snr);
		printf("\n");
		break;
	}
	case NMEA_ZDA: {
		char type_text[NMEA_TYPE_SIZE];
		nmea_time_of_day t{};
		int32_t day = 0, month = 0, year = 0;
		nmea_scan(line, "tTiii", type_text, &t, &day, &month, &year);
		printf("%04d-%02d-%02d ", year, month, day);
		print_time(t);
		printf(" UTC\n");
		break;
	}
	default:
		printf("%s\n", line);
	}
}

} // namespace

int main(int argc, char **argv)
{
	kx_unbuffered_output();
	FILE *in = stdin;
	if (argc > 1 && (in = fopen(argv[1], "r")) == nullptr) {
		fprintf(stderr, "nmea_demo: cannot open %s\n", argv[1]);
		return 1;
	}
	char line[512];
	unsigned count = 0, rejected = 0;
	while (fgets(line, sizeof line, in) != nullptr) {
		line[strcspn(line, "\r\n")] = '\0';
		if (line[0] == '\0')
			continue;
		count++;
		if (nmea_validate(line, true) != 0)
			rejected++;
		decode(line);
	}
	printf("%u sentences, %u rejected by validation\n", count, rejected);
	return 0;
}
