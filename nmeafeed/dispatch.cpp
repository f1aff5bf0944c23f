// Line dispatch: keeps the latest GGA line and, per satellite system, the
// GSV lines received since that GGA; every ZDA line starts the second's work.
#include <cstring>

#include "nmeafeed.h"

const gnss_system kSystems[kSystemCount] = {
    {"$GPGSV", 'g'}, // GPS
    {"$GLGSV", 'l'}, // GLONASS
    {"$GAGSV", 'a'}, // Galileo
    {"$BDGSV", 'b'}, // BeiDou
};

char gga_line[kSlotSize];
nmea_gga gga_record;
constellation_state constellations[kSystemCount];

namespace {

const char *const kGgaTypes[] = {"$GPGGA", "$GNGGA", "$GLGGA", "$GAGGA", "$BDGGA"};
const char *const kZdaTypes[] = {"$GPZDA", "$GNZDA", "$GLZDA", "$GAZDA", "$BDZDA"};

bool has_type(const char *line, const char *const *types, size_t n)
{
	for (size_t i = 0; i < n; i++)
		if (strncmp(line, types[i], 6) == 0)
			return true;
	return false;
}

// Copies a line into a slot, cut to 127 characters.
void copy_to_slot(char *slot, const char *line)
{
	size_t n = strnlen(line, kSlotSize - 1);
	memcpy(slot, line, n);
	slot[n] = '\0';
}

} // namespace

// A "*" only ever stands before the checksum: a line that holds one
// carries a checksum field, which must be the "*", two hexadecimal digits
// (either case) and the line end, and must equal the XOR of the characters
// from after the "$" up to the "*". Anything else there is damage.
bool nmea_checksum_mismatch(const char *line)
{
	const char *star = strchr(line, '*');
	if (star == nullptr)
		return false;
	int32_t high = nmea_hex_value(star[1]);
	int32_t low = high < 0 ? -1 : nmea_hex_value(star[2]);
	if (high < 0 || low < 0)
		return true;
	const char *tail = star + 3;
	if (*tail == '\r')
		tail++;
	if (*tail == '\n')
		tail++;
	if (*tail != '\0')
		return true;
	return nmea_checksum(line) != ((high << 4) | low);
}

void nmeafeed_reset_state()
{
	memset(gga_line, 0, sizeof gga_line);
	gga_record = nmea_gga{};
	memset(constellations, 0, sizeof constellations);
}

void handle_line(const char *line)
{
	// A character damaged on the serial line must never become the time,
	// the position or an NTP sample: a sentence whose checksum disagrees
	// with it is dropped. One without a checksum is taken as it stands.
	if (nmea_checksum_mismatch(line))
		return;
	if (has_type(line, kGgaTypes, 5)) {
		copy_to_slot(gga_line, line);
		for (constellation_state &cs : constellations) {
			cs.gsv_count = 0;
			memset(cs.gsv_lines, 0, sizeof cs.gsv_lines);
		}
		return;
	}
	if (has_type(line, kZdaTypes, 5)) {
		update_status(line);
		return;
	}
	for (int i = 0; i < kSystemCount; i++) {
		if (strncmp(line, kSystems[i].gsv_type, 6) != 0)
			continue;
		constellation_state &cs = constellations[i];
		// More than four GSV lines in one second: the rest are dropped.
		if (cs.gsv_count < kMaxGsvLines)
			copy_to_slot(cs.gsv_lines[cs.gsv_count++], line);
		return;
	}
}
