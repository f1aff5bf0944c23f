#include "antenna.h"

#include "ad9544.h"
#include "kx_i2c.h"
#include "kx_path.h"
#include "value_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <time.h>

int antenna_fd = -1;
int32_t antenna_current_ma = 0;
int32_t antenna_power_mw = 0;
int32_t stored_skew = 12515;

namespace {

constexpr double SHUNT_OHM = 0.1;
constexpr double CURRENT_LSB_A = 3.81e-6;

constexpr uint8_t REG_CONFIG = 0x00;
constexpr uint8_t REG_POWER = 0x03;
constexpr uint8_t REG_CURRENT = 0x04;
constexpr uint8_t REG_CALIBRATION = 0x05;

// 16-sample averaging, 1.1 ms bus and shunt conversions, continuous mode.
constexpr uint16_t CONFIG_VALUE = 0x4527;

void monitor_close()
{
	kx_i2c_close(antenna_fd);
	antenna_fd = -1;
}

bool write_register(uint8_t reg, uint16_t value)
{
	uint8_t frame[3] = {reg, static_cast<uint8_t>(value >> 8),
			    static_cast<uint8_t>(value & 0xFF)};
	return kx_i2c_write(antenna_fd, frame, sizeof frame) == static_cast<ssize_t>(sizeof frame);
}

bool read_register(uint8_t reg, uint16_t *value)
{
	if (kx_i2c_write(antenna_fd, &reg, 1) != 1)
		return false;
	uint8_t bytes[2];
	if (kx_i2c_read(antenna_fd, bytes, sizeof bytes) != static_cast<ssize_t>(sizeof bytes))
		return false;
	*value = static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
	return true;
}

}  // namespace

uint16_t antenna_calibration_value()
{
	return static_cast<uint16_t>(0.00512 / (SHUNT_OHM * CURRENT_LSB_A) + 0.5);
}

int32_t antenna_current_from_raw(uint16_t raw)
{
	double amps = static_cast<int16_t>(raw) * CURRENT_LSB_A;
	return static_cast<int32_t>(amps * 1000.0);
}

int32_t antenna_power_from_raw(uint16_t raw)
{
	double watts = (CURRENT_LSB_A * 25.0) * raw;
	return static_cast<int32_t>(watts * 1000.0);
}

int antenna_monitor_init()
{
	std::string path = kx_path("/dev/i2c-1");
	antenna_fd = kx_i2c_open(path.c_str());
	if (antenna_fd < 0) {
		antenna_fd = -1;
		std::printf("Failed to open I2C bus\n");
		return 1;
	}
	if (kx_i2c_set_address(antenna_fd, ANTENNA_MONITOR_I2C_ADDRESS) < 0) {
		std::printf("Failed to set I2C address\n");
		monitor_close();
		return 1;
	}
	if (!write_register(REG_CONFIG, CONFIG_VALUE)) {
		std::printf("Failed to write configuration\n");
		monitor_close();
		return 1;
	}
	if (!write_register(REG_CALIBRATION, antenna_calibration_value())) {
		std::printf("Failed to write calibration\n");
		monitor_close();
		return 1;
	}
	// Give the monitor time for its first averaged conversion. The daemon's
	// tick signal may interrupt the sleep; the rest is slept then.
	struct timespec pause = {0, 50 * 1000 * 1000};
	while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
	}
	return 0;
}

int antenna_monitor_read(int32_t *current_ma, int32_t *power_mw)
{
	uint16_t current_raw = 0, power_raw = 0;
	if (antenna_fd < 0) {
		std::printf("Failed to read current\n");
		return 1;
	}
	if (!read_register(REG_CURRENT, &current_raw)) {
		std::printf("Failed to read current\n");
		monitor_close();
		return 1;
	}
	if (!read_register(REG_POWER, &power_raw)) {
		std::printf("Failed to read power\n");
		monitor_close();
		return 1;
	}
	*current_ma = antenna_current_from_raw(current_raw);
	*power_mw = antenna_power_from_raw(power_raw);
	return 0;
}

void antenna_refresh()
{
	antenna_monitor_read(&antenna_current_ma, &antenna_power_mw);
	char text[16];
	std::snprintf(text, sizeof text, "%d\n", std::abs(antenna_current_ma));
	write_value_file(kx_path("/var/volatile/rundata/antenna_current.dat").c_str(), text);
	std::snprintf(text, sizeof text, "%d\n", std::abs(antenna_power_mw));
	write_value_file(kx_path("/var/volatile/rundata/antenna_power.dat").c_str(), text);
}

void antenna_skew_check()
{
	int32_t delay = read_number_file(kx_path("/etc/antenna_delay").c_str());
	// Negated in 64 bits: the most negative delay stays itself instead of
	// overflowing; only the low 24 bits reach the chip anyway.
	int32_t target = static_cast<int32_t>(-static_cast<int64_t>(delay));
	if (target == stored_skew)
		return;
	stored_skew = target;
	ad9544_set_skew(target);
	std::printf("Set skew to %d\n", stored_skew);
}
