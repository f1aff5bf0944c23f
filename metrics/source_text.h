// Reading the appliance's small text sources (kernel attributes, status
// files) and taking the numbers out of them strictly: a text that is not
// exactly the expected number (empty, cut short, anything after it but
// white space) gives no value, never a 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The file's text, read whole (at most 4096 bytes, one sysfs page), or
// nothing when it cannot be opened or read (a missing attribute, ENODEV from
// one whose device is gone).
std::optional<std::string> read_source(const std::string &path);

// A status file rewritten once a second by its daemon: its text, or nothing
// when it is missing or has not been rewritten for `max_age` seconds (its
// writer has stopped, so the content is no longer the unit's state).
std::optional<std::string> read_status_file(const std::string &path, double max_age);

// A decimal integer ("%d", "%lld"): optional leading blanks and sign,
// digits, optional trailing white space.
std::optional<int64_t> parse_integer(std::string_view text);

// A decimal number with an optional fraction ("-0.5000", " 3.0000").
std::optional<double> parse_decimal(std::string_view text);

// A hexadecimal word written "0x%08X".
std::optional<uint32_t> parse_hex_word(std::string_view text);

// Blank-separated decimal integers ("%3d " repeated); nothing when any of
// them is not a number or there are none.
std::optional<std::vector<int64_t>> parse_integer_list(std::string_view text);
