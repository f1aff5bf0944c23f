// AD9544 clock synthesiser on I2C bus 0, device 0x48.
//
// The daemon writes the chip's whole configuration once at start, applies
// the antenna-delay skew when it changes, and reads the reference and DPLL
// status and the die temperature once a second.
//
// Registers have 16-bit addresses, sent most significant byte first; data
// bytes written after the address go to consecutive registers. Multi-byte
// register values are little-endian. Settings take effect on an IO update.
//
// Every operation returns 0 on success, a negative value on failure, or the
// positive byte count of a transfer that moved fewer bytes than asked.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int AD9544_I2C_ADDRESS = 0x48;
inline constexpr uint16_t AD9544_PRODUCT_ID = 0x0120;

// Status as last read from the chip and the pins (all start at 0).
struct ad9544_status {
	uint8_t ref_aa_status;  // whole byte of 0x3006
	uint8_t ref_aa_valid;   // bit 4 of 0x3006 at its last successful read
	uint8_t ref_bb_status;  // whole byte of 0x3008
	uint8_t ref_bb_valid;   // bit 4 of 0x3008 at its last successful read
	uint8_t dpll_3100;      // bit 0 of each DPLL status register
	uint8_t dpll_3101;
	uint8_t dpll_3200;
	uint8_t dpll_3201;
	uint8_t m0_level;       // levels of the M0..M2 status pins, as read
	uint8_t m1_level;
	uint8_t m2_level;
};

extern ad9544_status ad9544_state;
extern int32_t chip_temperature;  // whole degrees Celsius, starts at 25
extern int ad9544_fd;             // bus descriptor; negative until set up, or unusable

int ad9544_write_reg(uint16_t address, uint8_t value);
int ad9544_write_block(uint16_t address, const uint8_t *bytes, size_t count);
int ad9544_read_reg(uint16_t address, uint8_t *value);
int ad9544_read_block(uint16_t address, uint8_t *bytes, size_t count);
int ad9544_io_update();

int ad9544_check_id(uint16_t *product_id, uint16_t *second_id);
int ad9544_calibrate();
int ad9544_set_skew(int32_t value);

int ad9544_read_ref_status();
int ad9544_read_dpll_status();
int ad9544_read_temperature();

// Stores the levels of the M0, M1 and M2 pins for the status word.
void ad9544_set_m_pins(int m0, int m1, int m2);
uint32_t ad9544_status_word();

// Whole degrees Celsius (cut toward zero) from the raw 16-bit temperature
// register: two's complement, 1/128 degree.
int32_t ad9544_temperature_from_raw(uint16_t raw);

int ad9544_setup();
