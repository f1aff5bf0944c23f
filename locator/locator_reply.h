// The locator's discovery request and its 80-byte reply.
//
// A management tool on the LAN broadcasts a datagram starting with 0xA1 to
// UDP port 7372; the unit answers with its addresses, MACs, software
// version, GPS state, NTP counter, local time, position, name and altitude.
// Every value is read afresh from its file for each request.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int locator_port = 7372;
constexpr unsigned char locator_request_byte = 0xA1;
constexpr unsigned char locator_reply_type = 6;
constexpr std::size_t locator_reply_size = 80;
constexpr std::size_t locator_max_request = 1500;

// Offsets and sizes of the reply fields.
enum : std::size_t {
	reply_type_off = 0,
	reply_addr0_off = 1,
	reply_mac0_off = 5,
	reply_version_x_off = 11,
	reply_version_y_off = 12,
	reply_fix_off = 13,
	reply_ntp_kount_off = 14,
	reply_hour_off = 18,
	reply_minute_off = 19,
	reply_second_off = 20,
	reply_position_off = 21,
	reply_position_len = 25,
	reply_name_off = 46,
	reply_name_len = 16,
	reply_addr1_off = 62,
	reply_mac1_off = 66,
	reply_altitude_off = 72,
	reply_altitude_len = 7,
	reply_last_off = 79,
};

// True when a received datagram of n bytes asks for a reply.
bool locator_is_request(const unsigned char *data, long n);

// Reads every source file and fills the whole reply. Prints
// "Error opening: <path>" for each file that cannot be opened.
void locator_build_reply(unsigned char (&reply)[locator_reply_size]);
