// Line dispatch: keeps the latest GGA line and, per satellite system, the
// GSV lines received since that GGA; every ZDA line starts the second's work.
#include <cstring>
#include <iterator>

#include "nmeafeed.h"

// BeiDou talks as "BD", and as "GB" since NMEA 4.10.
const gnss_system kSystems[kSystemCount] = {
    {"$GPGSV", nullptr, 'g'},  // GPS
    {"$GLGSV", nullptr, 'l'},  // GLONASS
    {"$GAGSV", nullptr, 'a'},  // Galileo
    {"$BDGSV", "$GBGSV", 'b'}, // BeiDou
};

char gga_line[kSlotSize];
nmea_gga gga_record;
constellation_state constellations[kSystemCount];
int64_t last_zda_seconds;

namespace {

const char *const kGgaTypes[] = {"$GPGGA", "$GNGGA", "$GLGGA", "$GAGGA", "$BDGGA", "$GBGGA"};
const char *const kZdaTypes[] = {"$GPZDA", "$GNZDA", "$GLZDA", "$GAZDA", "$BDZDA", "$GBZDA"};

bool has_type(const char *line, size_t length, const char *const *types, size_t n)
{
	for (size_t i = 0; i < n; i++)
		if (length >= 6 && memcmp(line, types[i], 6) == 0)
			return true;
	return false;
}

// The satellite system whose GSV lines these are, or -1.
int gsv_system(const char *line, size_t length)
{
	if (length < 6)
		return -1;
	for (int i = 0; i < kSystemCount; i++)
		if (memcmp(line, kSystems[i].gsv_type, 6) == 0 ||
		    (kSystems[i].gsv_alias != nullptr && memcmp(line, kSystems[i].gsv_alias, 6) == 0))
			return i;
	return -1;
}

// Copies a line into a slot, cut to 127 characters.
void copy_to_slot(char *slot, const char *line, size_t length)
{
	size_t n = length < kSlotSize - 1 ? length : kSlotSize - 1;
	memcpy(slot, line, n);
	slot[n] = '\0';
}

} // namespace

// The whole line as received, length bytes: "$", the body, the only "*",
// two hexadecimal digits (either case) equal to the XOR of the body's
// bytes, then CR LF, LF or nothing. A NUL is what the UART hands over for a
// break or a framing error: a line holding one is damaged, whatever the
// XOR says; so is a body holding any byte outside printable ASCII.
bool nmea_checksum_matches(const char *line, size_t length)
{
	if (length == 0 || line[0] != '$' || memchr(line, '\0', length) != nullptr)
		return false;
	const auto *star = static_cast<const char *>(memchr(line, '*', length));
	if (star == nullptr)
		return false;
	size_t at = static_cast<size_t>(star - line);
	if (length - at < 3)
		return false;
	int32_t high = nmea_hex_value(star[1]);
	int32_t low = nmea_hex_value(star[2]);
	if (high < 0 || low < 0)
		return false;
	size_t tail = at + 3;
	if (tail < length && line[tail] == '\r')
		tail++;
	if (tail < length && line[tail] == '\n')
		tail++;
	if (tail != length)
		return false;
	unsigned sum = 0;
	for (size_t i = 1; i < at; i++) {
		auto c = static_cast<unsigned char>(line[i]);
		// A sentence is printable ASCII; any other byte came off the line
		// (0xFF for a framing error, a stretch at the wrong speed), and
		// such damage may leave the sum matching.
		if (c < 0x20 || c > 0x7e)
			return false;
		sum ^= c;
	}
	return sum == static_cast<unsigned>((high << 4) | low);
}

void nmeafeed_reset_state()
{
	memset(gga_line, 0, sizeof gga_line);
	gga_record = nmea_gga{};
	memset(constellations, 0, sizeof constellations);
	last_zda_seconds = 0;
}

void handle_line(const char *line, size_t length)
{
	bool gga = has_type(line, length, kGgaTypes, std::size(kGgaTypes));
	bool zda = has_type(line, length, kZdaTypes, std::size(kZdaTypes));
	int gsv = gsv_system(line, length);
	if (!gga && !zda && gsv < 0)
		return; // no other sentence is used
	// Time, fix and satellites come from these sentences only, and a byte
	// damaged on the serial line must never become the time, the position
	// or an NTP sample: each counts only with its checksum, matching the
	// bytes as received. A sentence cut short (its checksum lost with its
	// tail) reads as a different date or position just as well.
	if (!nmea_checksum_matches(line, length))
		return;
	if (gga) {
		copy_to_slot(gga_line, line, length);
		for (constellation_state &cs : constellations) {
			cs.gsv_count = 0;
			memset(cs.gsv_lines, 0, sizeof cs.gsv_lines);
		}
		return;
	}
	if (zda) {
		update_status(line);
		return;
	}
	constellation_state &cs = constellations[gsv];
	// More than four GSV lines in one second: the rest are dropped.
	if (cs.gsv_count < kMaxGsvLines)
		copy_to_slot(cs.gsv_lines[cs.gsv_count++], line, length);
}
