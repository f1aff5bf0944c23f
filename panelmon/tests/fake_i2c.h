// A recording stand-in for the I2C seam, linked into the unit tests in place
// of the board or simulator implementation. Bus 0 answers as the AD9544
// (16-bit register addresses, little-endian reads with auto-increment), bus 1
// as the INA226-class antenna monitor (8-bit register pointer, 16-bit
// registers read most significant byte first).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace fake_i2c {

inline constexpr int BUS0_FD = 40;
inline constexpr int BUS1_FD = 41;

struct transfer {
	int fd;
	bool is_write;
	std::vector<uint8_t> bytes;  // written bytes, or the bytes returned
};

// Everything the fake does, reset by reset().
extern std::vector<transfer> log;
extern std::map<int, int> selected_address;   // fd -> I2C_SLAVE address
extern std::map<uint16_t, uint8_t> ad9544_regs;
extern std::map<uint8_t, uint16_t> monitor_regs;
extern bool bus0_missing, bus1_missing;
extern bool set_address_fails;
extern std::vector<int> closed;
// When set, decides a transfer's result: return a value >= -1 to override
// the byte count, or -2 to let the transfer happen normally. `index` counts
// all transfers (reads and writes) since reset().
extern std::function<ssize_t(const transfer &, size_t index)> override_result;

void reset();

// The write transfers on one descriptor, in order.
std::vector<std::vector<uint8_t>> writes(int fd);

}  // namespace fake_i2c
