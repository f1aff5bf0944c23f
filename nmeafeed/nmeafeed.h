// nmeafeed's per-second state and work: line dispatch, the ZDA work that
// rewrites the status files in /var/volatile/rundata and feeds the NTP
// shared-memory segment.
#pragma once

#include <cstddef>
#include <cstdint>

#include "nmea_parser.h"

// One line slot: 127 characters and a terminator. Longer lines are cut.
constexpr size_t kSlotSize = 128;
constexpr int kMaxGsvLines = 4;
constexpr int kSatListSize = 12;

struct constellation_state {
	int32_t gsv_count; // GSV lines stored since the last GGA, 0 to 4
	char gsv_lines[kMaxGsvLines][kSlotSize];
	nmea_gsv gsv_records[kMaxGsvLines];
	nmea_sat_info sat_list[kSatListSize]; // strongest first, zero where none
};

// The satellite systems in the order they are handled.
struct gnss_system {
	const char *gsv_type;  // "$GPGSV"
	const char *gsv_alias; // another talker of the same system ("$GBGSV"), or null
	char letter;           // of its status files, "g" for gsatlist.dat
};
constexpr int kSystemCount = 4;
extern const gnss_system kSystems[kSystemCount];

// The receiver time of one ZDA line, handed to the NTP feed.
struct zda_stamp {
	int32_t year;
	int32_t month; // 1 to 12
	int32_t day;
	int32_t hour;
	int32_t minute;
	int32_t second;
	int32_t nanoseconds;
	int32_t valid;
	int32_t sent_second; // the seconds as sent, before rounding: 60 in a leap second
};

// Process-wide state, for the whole run.
extern char gga_line[kSlotSize];
extern nmea_gga gga_record;
extern constellation_state constellations[kSystemCount];
// Seconds since 1970 of the last ZDA whose time was read, 0 before the first.
extern int64_t last_zda_seconds;

// Back to the start-up state (no GGA, no GSV).
void nmeafeed_reset_state();

// True when the line, length bytes as received (NULs included), is one
// whole sentence with its checksum: "$", the body, "*", two hexadecimal
// digits (either case) equal to the XOR of the body, then CR LF, LF or
// nothing. A line without "*", holding a NUL, or with a body byte outside
// printable ASCII: false.
bool nmea_checksum_matches(const char *line, size_t length);

// Dispatches one complete line, length bytes up to and including its LF,
// by its first six characters. GGA, GSV and ZDA lines count only when their
// checksum matches (nmea_checksum_matches); every other line is ignored.
void handle_line(const char *line, size_t length);

// The work of one ZDA line (checked, without NULs): status files, ZDA
// print, and an NTP sample when its time is taken (zda_time_taken), is the
// previous ZDA's + 1 s, is not a leap second, the module's fix (gpsfix) is
// above 0 and its integrity guard does not hold the receiver suspect
// (gnss_state).
void update_status(const char *zda_line);

// Parses the stored GSV lines of one system into its strongest-first list.
void aggregate_constellation(constellation_state *cs);

// Writes the satellite and SNR lists of one system.
void write_sat_files(const constellation_state *cs, char letter);

// "lat,lon" in decimal degrees from the ddmm.mmmm numbers of a GGA.
void format_coords(const nmea_gga *gga, char *out, size_t size);

// Reads the ZDA's date and time from its fixed columns
// ($GPZDA,hhmmss.sss,dd,mm,yyyy), rounding to the nearest second. Each
// column holds digits only, and the year is ended by "," or the checksum's
// "*" (the module reads the date fields alike). False otherwise: then there
// is no time to report. Whether the time is taken is zda_time_taken's call.
bool read_zda_stamp(const char *line, zda_stamp *stamp);
