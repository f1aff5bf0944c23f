// The front panel's screens: page 0 (time and GPS or NTP state) and the
// information pages 1 to 5, each rendered into two row texts of at most 20
// characters.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t ROW_CHARS = 20;
inline constexpr size_t ROW_SIZE = ROW_CHARS + 1;

// Time modes of /etc/time_mode.
inline constexpr int TIME_MODE_GPS = 0;
inline constexpr int TIME_MODE_PEER = 1;
inline constexpr int TIME_MODE_MANUAL = 2;

// State of the last refresh, kept by the loop and shown on the screens.
extern int32_t time_known_flag;  // timeknown read 1
extern int32_t holdover_value;   // holdover_time at the last refresh without fix
extern char fix_text[4];         // "N/A", "2D" or "3D"
// The module's integrity guard holds the receiver suspect, and why
// (gnss_reason: "time", "position", ...; empty when not readable).
extern bool gnss_suspect;
extern char gnss_alarm[16];

// Formats a row: output beyond 20 characters is cut off.
void format_row(char *row, const char *format, ...) __attribute__((format(printf, 2, 3)));

// "    HH:MM:SS UTC    " of the current local time, or of 00:00:00.
void time_text(char *row, bool running);

// The mode a text of /etc/time_mode selects (GPS for anything but 1 and 2).
int time_mode_from_text(const char *text);
int read_time_mode();

// Mean of the four strongest of the first four SNR values of each
// constellation's list; 0 without lists.
int32_t snr_average();

// Renders page 0 for the mode read from /etc/time_mode. In GPS mode, while
// the receiver is suspect, the second row is the alarm, "GPS SUSPECT TIME"
// and the like, in place of the fix or the holdover count.
void render_page0(char *line1, char *line2);

// Renders one of the pages 1 to 5 from its files.
void render_info_page(int page, char *line1, char *line2);
