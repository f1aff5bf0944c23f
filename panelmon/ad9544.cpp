#include "ad9544.h"

#include "kx_i2c.h"
#include "kx_path.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

ad9544_status ad9544_state;
int32_t chip_temperature = 25;
int ad9544_fd = -1;

namespace {

// The largest transfer is the system clock block: 2 address bytes + 10 data.
constexpr size_t MAX_FRAME = 16;

// A transfer that moved nothing at all is a failure, not a short success.
int short_result(ssize_t n)
{
	return n == 0 ? -EIO : static_cast<int>(n);
}

// One transfer of the configuration: register address and its data bytes.
struct config_row {
	uint16_t address;
	uint8_t count;
	uint8_t data[10];
};

// System clock: feedback divider 23, input setting 0x09, reference frequency
// 52 MHz in millihertz (40 bits) and a stability timer of 50 ms (24 bits).
constexpr config_row sysclk_rows[] = {
	{0x0200, 10, {0x17, 0x09, 0x00, 0x08, 0x71, 0x1B, 0x0C, 0x32, 0x00, 0x00}},
};

// System clock compensation.
constexpr config_row sysclk_comp_rows[] = {
	{0x0280, 1, {0x04}},
	{0x0282, 1, {0x44}},
	{0x0284, 1, {0x01}},
	{0x0285, 1, {0xF4}},  // 0x0285-0x0286: 500
	{0x0286, 1, {0x01}},
};

// Reference inputs: A and AA at 25 MHz (40 ns), B the same, BB the 1 PPS.
constexpr config_row refs_rows[] = {
	{0x0300, 1, {0x00}},
	{0x0304, 1, {0x90}},
	{0x0400, 1, {0x7C}},  // reference A
	{0x0405, 1, {0x90}},  // period bytes 1..4; byte 0 (0x0404) stays 0
	{0x0406, 1, {0x2F}},
	{0x0407, 1, {0x50}},
	{0x0408, 1, {0x09}},
	{0x040C, 1, {0xA0}},  // 0x040C-0x040E: 100 000
	{0x040D, 1, {0x86}},
	{0x040E, 1, {0x01}},
	{0x040F, 1, {0x03}},
	{0x0410, 1, {0x0A}},
	{0x0420, 1, {0x7C}},  // reference AA
	{0x0424, 8, {0x00, 0x90, 0x2F, 0x50, 0x09, 0x00, 0x00, 0x00}},
	{0x0440, 1, {0x7C}},  // reference B
	{0x0445, 1, {0x90}},
	{0x0446, 1, {0x2F}},
	{0x0447, 1, {0x50}},
	{0x0448, 1, {0x09}},
	// reference BB period: 10^18 attoseconds, the 1 PPS input
	{0x0464, 8, {0x00, 0x00, 0x64, 0xA7, 0xB3, 0xB6, 0xE0, 0x0D}},
	{0x0860, 4, {0xB0, 0x36, 0x00, 0x13}},  // 14 000, then 19
	{0x2001, 1, {0x05}},
};

constexpr uint16_t DPLL_UNCHECKED_ROW = 0x1481;

// DPLL 0 and its translation profiles.
constexpr config_row dpll_rows[] = {
	{0x1000, 6, {0xD7, 0x8F, 0x08, 0xE2, 0xE8, 0x20}},
	{0x1081, 1, {0x08}},
	{0x1200, 8, {0x01, 0x03, 0x02, 0x09, 0x50, 0xC3, 0x00, 0x00}},
	{0x1208, 8, {0x31, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00}},
	{0x1210, 6, {0x01, 0x00, 0x00, 0x02, 0x00, 0x00}},
	{0x1400, 6, {0xA5, 0x3D, 0x28, 0xF3, 0xAC, 0x22}},
	{DPLL_UNCHECKED_ROW, 1, {0x0A}},
	{0x1600, 8, {0x01, 0x03, 0x00, 0x09, 0x50, 0xC3, 0x00, 0x00}},
	{0x1608, 8, {0x31, 0x00, 0x00, 0x00, 0x53, 0x06, 0x00, 0x00}},
};

// Output distribution: dividers and drivers.
constexpr config_row distribution_rows[] = {
	{0x10C6, 4, {0x80, 0x96, 0x98, 0x00}},  // 10 000 000
	{0x10D0, 1, {0x01}},
	{0x10D7, 1, {0x10}},
	{0x10D8, 1, {0x10}},
	{0x10D9, 1, {0x10}},
	{0x10DB, 1, {0x05}},
	{0x1100, 4, {0x80, 0x4F, 0x50, 0x49}},  // 1 230 000 000
	{0x1112, 4, {0x7B, 0x00, 0x00, 0x00}},  // 123
	{0x1124, 4, {0x3D, 0x00, 0x00, 0x00}},  // 61
	{0x112C, 1, {0x27}},
	{0x14C2, 4, {0x80, 0x96, 0x98, 0x00}},  // 10 000 000
	{0x14CF, 1, {0x01}},
	{0x14D7, 1, {0x11}},
	{0x14D8, 1, {0x11}},
	{0x14DB, 1, {0x05}},
	{0x1500, 4, {0xA2, 0x00, 0x00, 0x00}},  // 162
	{0x1512, 4, {0x00, 0x3D, 0x8F, 0x60}},  // 1 620 000 000
	{0x2102, 3, {0x08, 0x08, 0x08}},
	{0x2202, 2, {0x10, 0x10}},
};

// Sends the rows in order. A negative result ends the step (except for the
// one row the chip is known to refuse at times); a short write has already
// been reported and the step goes on.
template <size_t N>
int write_rows(const config_row (&rows)[N])
{
	for (const config_row &row : rows) {
		int r = ad9544_write_block(row.address, row.data, row.count);
		if (r < 0 && row.address != DPLL_UNCHECKED_ROW)
			return r;
	}
	return 0;
}

int send_address(uint16_t address)
{
	uint8_t frame[2] = {static_cast<uint8_t>(address >> 8),
			    static_cast<uint8_t>(address & 0xFF)};
	ssize_t n = kx_i2c_write(ad9544_fd, frame, sizeof frame);
	if (n != static_cast<ssize_t>(sizeof frame)) {
		std::printf("pps: AD9544 unable to send register address to device: errno %d\n",
			    static_cast<int>(n));
		return short_result(n);
	}
	return 0;
}

}  // namespace

int ad9544_write_block(uint16_t address, const uint8_t *bytes, size_t count)
{
	if (count > MAX_FRAME - 2)
		return -EINVAL;
	uint8_t frame[MAX_FRAME];
	frame[0] = static_cast<uint8_t>(address >> 8);
	frame[1] = static_cast<uint8_t>(address & 0xFF);
	if (count > 0)
		std::memcpy(frame + 2, bytes, count);
	ssize_t n = kx_i2c_write(ad9544_fd, frame, count + 2);
	if (n != static_cast<ssize_t>(count + 2)) {
		std::printf("pps: AD9544 unable to send data to device: errno %d\n",
			    static_cast<int>(n));
		return short_result(n);
	}
	return 0;
}

int ad9544_write_reg(uint16_t address, uint8_t value)
{
	return ad9544_write_block(address, &value, 1);
}

int ad9544_read_reg(uint16_t address, uint8_t *value)
{
	if (value == nullptr) {
		std::printf("pps: AD9544 NULL pointer err\n");
		return -EFAULT;
	}
	int r = send_address(address);
	if (r != 0)
		return r;
	ssize_t n = kx_i2c_read(ad9544_fd, value, 1);
	if (n != 1) {
		std::printf("pps: AD9544 unable to receive data byte: errno %d\n",
			    static_cast<int>(n));
		return short_result(n);
	}
	return 0;
}

int ad9544_read_block(uint16_t address, uint8_t *bytes, size_t count)
{
	if (bytes == nullptr) {
		std::printf("pps: AD9544 NULL pointer err\n");
		return -EFAULT;
	}
	int r = send_address(address);
	if (r != 0)
		return r;
	ssize_t n = kx_i2c_read(ad9544_fd, bytes, count);
	if (n != static_cast<ssize_t>(count)) {
		std::printf("pps:  AD9544 unable to receive data from device: errno %d\n",
			    static_cast<int>(n));
		return short_result(n);
	}
	return 0;
}

int ad9544_io_update()
{
	return ad9544_write_reg(0x000F, 0x01);
}

int ad9544_check_id(uint16_t *product_id, uint16_t *second_id)
{
	uint8_t id[2] = {0, 0};
	int r = ad9544_read_block(0x0004, id, 2);
	if (r < 0)
		return r;
	uint16_t product = static_cast<uint16_t>(id[0] | (id[1] << 8));
	if (product_id != nullptr)
		*product_id = product;
	if (product != AD9544_PRODUCT_ID) {
		std::printf("pps: AD9544 Part ID does not match  0x%04x\n", product);
		return -ENODEV;
	}
	uint8_t second[2] = {0, 0};
	ad9544_read_block(0x000C, second, 2);
	if (second_id != nullptr)
		*second_id = static_cast<uint16_t>(second[0] | (second[1] << 8));
	return ad9544_write_reg(0x0000, 0x81);  // soft reset
}

int ad9544_calibrate()
{
	int r = ad9544_write_reg(0x2000, 0x00);
	if (r < 0)
		return r;
	if ((r = ad9544_io_update()) < 0)
		return r;
	if ((r = ad9544_write_reg(0x2000, 0x02)) < 0)  // calibrate all
		return r;
	if ((r = ad9544_io_update()) < 0)
		return r;
	if ((r = ad9544_write_reg(0x2000, 0x00)) < 0)
		return r;
	return 0;
}

int ad9544_set_skew(int32_t value)
{
	uint32_t bits = static_cast<uint32_t>(value);
	uint8_t skew[3] = {static_cast<uint8_t>(bits & 0xFF),
			   static_cast<uint8_t>((bits >> 8) & 0xFF),
			   static_cast<uint8_t>((bits >> 16) & 0xFF)};
	int r = ad9544_write_block(0x086E, skew, sizeof skew);
	int u = ad9544_io_update();
	return r < 0 ? r : u;
}

int ad9544_read_ref_status()
{
	int r = ad9544_io_update();
	if (r < 0)
		return r;
	uint8_t v = 0;
	ad9544_state.ref_aa_status = 0;
	if ((r = ad9544_read_reg(0x3006, &v)) != 0)
		return r;
	ad9544_state.ref_aa_status = v;
	ad9544_state.ref_aa_valid = (v >> 4) & 1;
	ad9544_state.ref_bb_status = 0;
	if ((r = ad9544_read_reg(0x3008, &v)) != 0)
		return r;
	ad9544_state.ref_bb_status = v;
	ad9544_state.ref_bb_valid = (v >> 4) & 1;
	return 0;
}

int ad9544_read_dpll_status()
{
	int r = ad9544_io_update();
	if (r < 0)
		return r;
	struct {
		uint16_t address;
		uint8_t *bit;
	} regs[] = {
		{0x3100, &ad9544_state.dpll_3100},
		{0x3101, &ad9544_state.dpll_3101},
		{0x3200, &ad9544_state.dpll_3200},
		{0x3201, &ad9544_state.dpll_3201},
	};
	for (auto &reg : regs) {
		uint8_t v = 0;
		if ((r = ad9544_read_reg(reg.address, &v)) != 0)
			return r;
		*reg.bit = v & 1;
	}
	return 0;
}

int32_t ad9544_temperature_from_raw(uint16_t raw)
{
	// The register counts 1/128 degree in two's complement: a die below
	// zero reads from 0xFFFF down. Whole degrees, cut toward zero.
	auto counts = static_cast<int32_t>(static_cast<int16_t>(raw));
	return counts / 128;
}

int ad9544_read_temperature()
{
	int r = ad9544_io_update();
	if (r < 0)
		return r;
	uint8_t raw[2] = {0, 0};
	if ((r = ad9544_read_block(0x3003, raw, 2)) != 0)
		return r;
	chip_temperature = ad9544_temperature_from_raw(
		static_cast<uint16_t>(raw[0] | (raw[1] << 8)));
	return 0;
}

void ad9544_set_m_pins(int m0, int m1, int m2)
{
	ad9544_state.m0_level = m0 ? 1 : 0;
	ad9544_state.m1_level = m1 ? 1 : 0;
	ad9544_state.m2_level = m2 ? 1 : 0;
}

uint32_t ad9544_status_word()
{
	const ad9544_status &s = ad9544_state;
	uint32_t word = 0;
	word |= static_cast<uint32_t>(s.m0_level & 1) << 0;
	word |= static_cast<uint32_t>(s.m1_level & 1) << 1;
	word |= static_cast<uint32_t>((s.m2_level & 1) ^ 1) << 2;
	word |= static_cast<uint32_t>(s.dpll_3101 & 1) << 4;
	word |= static_cast<uint32_t>(s.dpll_3100 & 1) << 5;
	word |= static_cast<uint32_t>(s.dpll_3201 & 1) << 6;
	word |= static_cast<uint32_t>(s.dpll_3200 & 1) << 7;
	word |= static_cast<uint32_t>(s.ref_bb_status) << 8;
	word |= static_cast<uint32_t>(s.ref_aa_status) << 16;
	word |= static_cast<uint32_t>(s.ref_bb_valid & 1) << 24;
	word |= static_cast<uint32_t>(s.ref_aa_valid & 1) << 25;
	return word;
}

int ad9544_setup()
{
	std::string path = kx_path("/dev/i2c-0");
	ad9544_fd = kx_i2c_open(path.c_str());
	if (ad9544_fd < 0) {
		std::printf("Failed opening i2c-0\n");
		return -1;
	}
	if (kx_i2c_set_address(ad9544_fd, AD9544_I2C_ADDRESS) < 0) {
		std::printf("ioctl I2C_SLAVE failed\n");
		// Without a selected address the descriptor's transfers would go
		// to address 0, the general call that every chip on the bus
		// listens to. Give it up, so that the once-a-second reads and the
		// skew fail and report instead.
		kx_i2c_close(ad9544_fd);
		ad9544_fd = -1;
		return -1;
	}
	uint16_t product = 0, second = 0;
	if (ad9544_check_id(&product, &second) < 0) {
		std::printf("Error returned id check!\n");
		return -1;
	}
	// Status pins M0..M2 as outputs: bit 7 output, bits 6-0 function code.
	if (ad9544_write_reg(0x0102, 0x85) < 0) {
		std::printf("Error returned io ctrl M0!\n");
		return -1;
	}
	if (ad9544_write_reg(0x0103, 0x86) < 0)
		std::printf("Error returned io ctrl M1!\n");
	if (ad9544_write_reg(0x0104, 0x84) < 0)
		std::printf("Error returned io ctrl M2!\n");
	if (write_rows(sysclk_rows) < 0)
		std::printf("Error returned sysclk init!\n");
	if (write_rows(sysclk_comp_rows) < 0)
		std::printf("Error returned sysclk comp init!\n");
	if (write_rows(refs_rows) < 0)
		std::printf("Error returned refs in init!\n");
	if (write_rows(dpll_rows) < 0)
		std::printf("Error returned dpll0 init!\n");
	if (write_rows(distribution_rows) < 0)
		std::printf("Error returned dpll0 init!\n");
	if (ad9544_io_update() < 0)
		std::printf("Error returned IO_UPDATE!\n");
	if (ad9544_calibrate() < 0)
		std::printf("Error returned cal all!\n");
	return 0;
}
