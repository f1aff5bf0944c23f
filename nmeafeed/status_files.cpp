// The work of one GPS second, run at every ZDA line: satellite lists, the
// status files in /var/volatile/rundata, the ZDA print and the NTP sample.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "kx_file.h"
#include "kx_path.h"
#include "kx_state.h"
#include "nmeafeed.h"
#include "ntp_leap.h"
#include "ntp_shm.h"
#include "zda_time.h"

namespace {

// Replaces a status file whole. The readers (panelmon, locator, scripts)
// open and read it at any moment, so it is swapped in by rename, never
// truncated in place. A file that cannot be written is skipped.
void write_status_file(const char *fixed_path, const char *text)
{
	kx_replace_file(kx_path(fixed_path).c_str(), text);
}

// Decimal places of a power-of-ten scale (1000 -> 3).
int decimal_places(int64_t scale)
{
	int places = 0;
	while (scale >= 10) {
		scale /= 10;
		places++;
	}
	return places;
}

// One coordinate, ddmm.mmmm (value / scale), as decimal degrees. 64-bit
// arithmetic: the inputs are raw receiver data.
int format_coordinate(const nmea_fixed &c, char *out, size_t size)
{
	if (c.scale == 0)
		return snprintf(out, size, "0.0");
	int64_t v = c.value;
	int64_t s = c.scale;
	int64_t whole = v / s;
	int64_t degrees = whole / 100;
	int64_t rest = v - 100 * degrees * s;
	int64_t fraction = (rest < 0 ? -rest : rest) / 60;
	int places = decimal_places(s < 0 ? -s : s);
	if (places < 1)
		places = 1;
	if (places > 10)
		places = 10; // a 32-bit scale has at most 9

	int64_t abs_degrees = degrees < 0 ? -degrees : degrees;
	return snprintf(out, size, "%s%" PRId64 ".%0*" PRId64, v < 0 ? "-" : "", abs_degrees, places,
	                fraction);
}

// The digits at a fixed column, exactly width of them. False when any of
// them is not a digit (a blank, a sign, damage): the field is another layout.
bool column_digits(const char *line, size_t length, size_t column, int width, int32_t *out)
{
	if (column + static_cast<size_t>(width) > length)
		return false;
	int32_t value = 0;
	for (int i = 0; i < width; i++) {
		char c = line[column + static_cast<size_t>(i)];
		if (c < '0' || c > '9')
			return false;
		value = value * 10 + (c - '0');
	}
	*out = value;
	return true;
}

} // namespace

void format_coords(const nmea_gga *gga, char *out, size_t size)
{
	char lat[64], lon[64];
	format_coordinate(gga->lat, lat, sizeof lat);
	format_coordinate(gga->lon, lon, sizeof lon);
	snprintf(out, size, "%s,%s", lat, lon);
}

void aggregate_constellation(constellation_state *cs)
{
	nmea_sat_info work[16] = {};
	int messages = cs->gsv_count < kMaxGsvLines ? cs->gsv_count : kMaxGsvLines;
	for (int i = 0; i < messages; i++) {
		nmea_gsv g{};
		nmea_parse_gsv(&g, cs->gsv_lines[i]);
		cs->gsv_records[i] = g;
		// Position i*4+k+1 of the list, while it is within the satellites
		// this message says are in view.
		for (int k = 0; k < 4 && i * 4 + k + 1 <= g.sats_in_view; k++)
			work[i * 4 + k] = g.sat[k];
	}

	int32_t n = messages > 0 ? cs->gsv_records[0].sats_in_view : 0;
	if (n > 16)
		n = 16;
	// Strongest first; equal SNRs keep their order of arrival.
	for (int32_t p = 0; p < n; p++) {
		for (int32_t q = p + 1; q < n; q++) {
			if (work[p].snr < work[q].snr) {
				nmea_sat_info t = work[p];
				work[p] = work[q];
				work[q] = t;
			}
		}
	}
	memcpy(cs->sat_list, work, sizeof cs->sat_list);
}

void write_sat_files(const constellation_state *cs, char letter)
{
	char text[100];
	char path[64];
	size_t used = 0;
	text[0] = '\0';
	for (const nmea_sat_info &s : cs->sat_list) {
		int n = snprintf(text + used, sizeof text - used, "%3d ", s.prn);
		used += n > 0 ? static_cast<size_t>(n) : 0;
		if (used >= sizeof text)
			break; // cut at 100 characters
	}
	snprintf(path, sizeof path, "/var/volatile/rundata/%csatlist.dat", letter);
	write_status_file(path, text);

	used = 0;
	text[0] = '\0';
	for (const nmea_sat_info &s : cs->sat_list) {
		int n = snprintf(text + used, sizeof text - used, "%3d ", s.snr);
		used += n > 0 ? static_cast<size_t>(n) : 0;
		if (used >= sizeof text)
			break;
	}
	snprintf(path, sizeof path, "/var/volatile/rundata/%csnrlist.dat", letter);
	write_status_file(path, text);
}

bool read_zda_stamp(const char *line, zda_stamp *stamp)
{
	size_t length = strlen(line);
	// The columns hold the fields only where the separators stand as the
	// layout puts them. A ZDA laid out otherwise (two fraction digits, a
	// field cut short or too long) would give a date read from the wrong
	// characters, those of the next field or the checksum among them.
	static const struct {
		size_t column;
		const char *separators;
	} kLayout[] = {{6, ","}, {13, "."}, {17, ","}, {20, ","}, {23, ","}, {28, ",*"}};
	for (const auto &s : kLayout)
		if (s.column >= length || strchr(s.separators, line[s.column]) == nullptr)
			return false;
	int32_t hour, minute, second, millis, day, month, year;
	if (!column_digits(line, length, 7, 2, &hour) || !column_digits(line, length, 9, 2, &minute) ||
	    !column_digits(line, length, 11, 2, &second) ||
	    !column_digits(line, length, 14, 3, &millis) ||
	    !column_digits(line, length, 18, 2, &day) || !column_digits(line, length, 21, 2, &month) ||
	    !column_digits(line, length, 24, 4, &year))
		return false;
	// Rounded to the whole second; a second of 60 carries into the next
	// minute when the stamp is converted.
	int32_t sent = second;
	if (millis > 499)
		second++;
	*stamp = zda_stamp{year, month, day, hour, minute, second, 0, 1, sent};
	return true;
}

void update_status(const char *zda_line)
{
	if (gga_line[0] != '\0') {
		nmea_gga g{};
		nmea_parse_gga(&g, gga_line);
		gga_record = g;
	}
	for (constellation_state &cs : constellations)
		if (cs.gsv_count > 0)
			aggregate_constellation(&cs);
	for (int i = 0; i < kSystemCount; i++)
		if (constellations[i].gsv_count > 0)
			write_sat_files(&constellations[i], kSystems[i].letter);

	char text[128];
	snprintf(text, sizeof text, "%d", gga_record.sats_used);
	write_status_file("/var/volatile/rundata/numsats.dat", text);
	format_coords(&gga_record, text, sizeof text);
	write_status_file("/var/volatile/rundata/coords.dat", text);
	write_status_file("/var/volatile/rundata/altitude.dat", gga_record.alt.text);

	// A ZDA from a receiver without time carries no numbers: nothing to
	// print and no sample for the NTP daemon.
	zda_stamp stamp;
	if (!read_zda_stamp(zda_line, &stamp))
		return;
	printf("ZDA: %d/%d/%d %d:%d:%d\n", stamp.month, stamp.day, stamp.year, stamp.hour,
	       stamp.minute, stamp.second);
	// The time is the module's to judge, and nmeafeed follows its rule: a
	// date below the calendar floor, a time out of range, never reaches
	// the NTP daemon (zda_time.h).
	int64_t seconds = 0;
	bool taken = zda_time_taken(stamp, &seconds);
	// 23:59:60 has no name in the UTC seconds since 1970 the NTP sample
	// carries (as 00:00:00 it would be a second ahead): no sample, and the
	// next ZDA, 00:00:00, follows 23:59:59.
	if (taken && stamp.sent_second == 60)
		return;
	// The 8-bit XOR checksum lets some damage through (two flips of the
	// same bit in two characters keep it matching): a day "06" read as
	// "17", a fraction ".000" as ".550". The NTP daemon gets a sample only
	// for a ZDA one second after the previous one, so a time that jumps
	// (damage, or the first ZDA after start or a gap) waits for the next
	// ZDA to confirm it; a time refused is a gap.
	bool follows = taken && last_zda_seconds != 0 && seconds == last_zda_seconds + 1;
	last_zda_seconds = taken ? seconds : 0;
	if (!follows || ntp_shm == nullptr)
		return;
	// Only while the module has a fix (gpsfix above 0): a receiver without
	// one (quality 0 after a cold start) may still send a ZDA, and its time
	// is no time to serve, pulse source or not. And never while the
	// module's integrity guard holds the receiver suspect: its time is then
	// not the appliance's, and chronyd holds over on its own clock as the
	// module does on the oscillator (a leap-3 sample instead would make it
	// drop what it holds long before the holdover limit).
	KxModuleState module = kx_read_module_state();
	if (module.fix > 0 && module.gnss != KxGnss::suspect)
		shm_feed_seconds(seconds, stamp.nanoseconds, ntp_sample_leap(module));
}
