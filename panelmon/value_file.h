// Small text files of the appliance: status files in /var/volatile/rundata,
// the kernel module's attributes in /sys/pps_filter and the configuration
// values in /etc. Each is read whole and written whole.
#pragma once

#include <cstddef>
#include <cstdint>

// Longest text taken from a value file: one line of at most 19 characters.
inline constexpr size_t VALUE_TEXT_MAX = 19;

// Sets `text` (room for at least `size` bytes, size >= 1) to the first line
// of the file, at most 19 characters and at most size - 1, line end
// included when it falls inside. Returns 0, also for an empty file, or -1
// with `text` empty when the file cannot be opened.
int read_value_file(const char *path, char *text, size_t size);

// Replaces the status file's content with `text` as one step (temporary file
// renamed over it), so a reader never finds it empty or half written. A file
// that cannot be written is skipped silently.
void write_value_file(const char *path, const char *text);

// Writes `text` to a kernel attribute (created when absent, as in a test
// tree). Attributes cannot be renamed over: the kernel takes each write as
// it comes. A file that cannot be opened is skipped silently.
void write_attribute(const char *path, const char *text);

// The base-10 number at the start of `text`: leading white space and a sign
// are accepted, parsing stops at the first non-digit, no digits give 0.
// Values beyond the 32-bit range are clamped to it.
int32_t parse_number(const char *text);

// parse_number of the file's first line; a missing file counts as 0.
int32_t read_number_file(const char *path);
