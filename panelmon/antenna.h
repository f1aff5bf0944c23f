// GPS antenna supply monitor (INA226 register set) on I2C bus 1, device
// 0x40, and the antenna-delay skew applied to the AD9544.
#pragma once

#include <cstdint>

inline constexpr int ANTENNA_MONITOR_I2C_ADDRESS = 0x40;

extern int antenna_fd;               // open /dev/i2c-1, negative when unavailable
extern int32_t antenna_current_ma;   // last current read, mA
extern int32_t antenna_power_mw;     // last power read, mW
extern int32_t stored_skew;          // skew last sent to the clock chip

// The calibration register value for a 0.1 ohm shunt and 3.81 uA per count.
uint16_t antenna_calibration_value();

// Current in mA from the raw current register (signed counts of 3.81 uA).
int32_t antenna_current_from_raw(uint16_t raw);
// Power in mW from the raw power register (counts of 25 current counts).
int32_t antenna_power_from_raw(uint16_t raw);

// Configures the monitor. 0 on success, 1 on failure (monitor unavailable).
int antenna_monitor_init();

// Reads current and power. 0 with both outputs set, 1 on failure with the
// outputs untouched; after a failure the monitor stays unavailable.
int antenna_monitor_read(int32_t *current_ma, int32_t *power_mw);

// Once a second: read the monitor, publish antenna_current.dat and
// antenna_power.dat.
void antenna_refresh();

// Once a second: apply the negated /etc/antenna_delay as the clock chip's
// skew when it differs from the skew last sent.
void antenna_skew_check();
