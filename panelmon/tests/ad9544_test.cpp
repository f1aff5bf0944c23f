// The AD9544 driver against the recording I2C fake: the configuration
// sequence byte for byte, identity check, skew, status reads and the status
// word.
#include "ad9544.h"
#include "fake_i2c.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

bytes hex(const std::string &text)
{
	bytes out;
	std::istringstream in(text);
	std::string word;
	while (in >> word)
		out.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
	return out;
}

// The set-up's write transfers, one per line, from the shared test data
// (also used by the black-box tests).
std::vector<bytes> expected_setup_writes()
{
	std::vector<bytes> w;
	std::ifstream in(PANELMON_TEST_DATA "/ad9544_setup_writes.txt");
	EXPECT_TRUE(in.good());
	std::string line;
	while (std::getline(in, line))
		if (!line.empty() && line[0] != '#')
			w.push_back(hex(line));
	return w;
}

class Ad9544 : public ::testing::Test {
protected:
	void SetUp() override
	{
		fake_i2c::reset();
		ad9544_state = {};
		chip_temperature = 25;
		ad9544_fd = -1;
		fake_i2c::ad9544_regs[0x0004] = 0x20;
		fake_i2c::ad9544_regs[0x0005] = 0x01;
	}

	void connect()
	{
		ad9544_fd = fake_i2c::BUS0_FD;
	}
};

TEST_F(Ad9544, SetupSendsTheWholeConfigurationInOrder)
{
	int r = 0;
	std::string out = capture_stdout([&] { r = ad9544_setup(); });
	EXPECT_EQ(r, 0);
	EXPECT_EQ(out, "");
	EXPECT_EQ(fake_i2c::selected_address[fake_i2c::BUS0_FD], 0x48);
	EXPECT_EQ(fake_i2c::writes(fake_i2c::BUS0_FD), expected_setup_writes());
	// Reads: 2 bytes of product id, 2 of the second id.
	int reads = 0;
	for (const auto &t : fake_i2c::log)
		if (!t.is_write) {
			EXPECT_EQ(t.bytes.size(), 2u);
			reads++;
		}
	EXPECT_EQ(reads, 2);
}

TEST_F(Ad9544, WrongProductIdStopsBeforeAnyConfiguration)
{
	fake_i2c::ad9544_regs[0x0004] = 0x21;
	int r = 0;
	std::string out = capture_stdout([&] { r = ad9544_setup(); });
	EXPECT_EQ(r, -1);
	EXPECT_EQ(out, "pps: AD9544 Part ID does not match  0x0121\nError returned id check!\n");
	std::vector<bytes> expect = {hex("00 04")};
	EXPECT_EQ(fake_i2c::writes(fake_i2c::BUS0_FD), expect);
}

TEST_F(Ad9544, CheckIdReportsBothIdsAndResets)
{
	connect();
	fake_i2c::ad9544_regs[0x000C] = 0x56;
	fake_i2c::ad9544_regs[0x000D] = 0x04;
	uint16_t product = 0, second = 0;
	EXPECT_EQ(ad9544_check_id(&product, &second), 0);
	EXPECT_EQ(product, 0x0120);
	EXPECT_EQ(second, 0x0456);
	EXPECT_EQ(fake_i2c::writes(fake_i2c::BUS0_FD).back(), hex("00 00 81"));
}

TEST_F(Ad9544, MissingBusAndRefusedAddress)
{
	fake_i2c::bus0_missing = true;
	std::string out = capture_stdout([&] { EXPECT_EQ(ad9544_setup(), -1); });
	EXPECT_EQ(out, "Failed opening i2c-0\n");
	fake_i2c::bus0_missing = false;
	fake_i2c::set_address_fails = true;
	out = capture_stdout([&] { EXPECT_EQ(ad9544_setup(), -1); });
	EXPECT_EQ(out, "ioctl I2C_SLAVE failed\n");
	EXPECT_TRUE(fake_i2c::writes(fake_i2c::BUS0_FD).empty());
	// The status reads then fail and report; nothing reaches the bus
	// without a selected address.
	out = capture_stdout([&] { EXPECT_LT(ad9544_read_temperature(), 0); });
	EXPECT_EQ(out, "pps: AD9544 unable to send data to device: errno -1\n");
	out = capture_stdout([&] { EXPECT_LT(ad9544_set_skew(-100), 0); });
	EXPECT_EQ(out, "pps: AD9544 unable to send data to device: errno -1\n"
		       "pps: AD9544 unable to send data to device: errno -1\n");
	EXPECT_TRUE(fake_i2c::writes(fake_i2c::BUS0_FD).empty());
	EXPECT_EQ(chip_temperature, 25);
}

// One configuration write refused (-1) or cut short (2): what the set-up
// reports, whether it fails, and whether it stops at that write.
TEST_F(Ad9544, RefusedOrShortConfigurationWrites)
{
	const char *const failed = "pps: AD9544 unable to send data to device: errno -1\n";
	struct {
		const char *frame;
		ssize_t result;
		int setup;
		std::string out;
		bool stops_there;
	} cases[] = {
	    {"01 02 85", -1, -1, std::string(failed) + "Error returned io ctrl M0!\n", true},
	    {"02 82 44", 2, 0, "pps: AD9544 unable to send data to device: errno 2\n", false},
	    {"14 81 0A", -1, 0, failed, false},  // a refused DPLL row 0x1481 never ends its step
	    {"20 00 02", -1, 0, std::string(failed) + "Error returned cal all!\n", true},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.frame);
		SetUp();
		bytes refused = hex(c.frame);
		fake_i2c::override_result = [refused, r = c.result](const fake_i2c::transfer &t,
		                                                    size_t) -> ssize_t {
			return t.is_write && t.bytes == refused ? r : -2;
		};
		std::string out = capture_stdout([&] { EXPECT_EQ(ad9544_setup(), c.setup); });
		EXPECT_EQ(out, c.out);
		if (c.stops_there)
			EXPECT_EQ(fake_i2c::writes(fake_i2c::BUS0_FD).back(), refused);
		else
			EXPECT_EQ(fake_i2c::writes(fake_i2c::BUS0_FD), expected_setup_writes());
	}
}

TEST_F(Ad9544, FailedStepIsReportedAndLaterStepsStillRun)
{
	// Refuse the second row of the reference step: the step stops there, the
	// DPLL and distribution steps still run.
	fake_i2c::override_result = [](const fake_i2c::transfer &t, size_t) -> ssize_t {
		return t.is_write && t.bytes == bytes{0x03, 0x04, 0x90} ? -1 : -2;
	};
	std::string out = capture_stdout([&] { EXPECT_EQ(ad9544_setup(), 0); });
	EXPECT_EQ(out, "pps: AD9544 unable to send data to device: errno -1\n"
		       "Error returned refs in init!\n");
	auto w = fake_i2c::writes(fake_i2c::BUS0_FD);
	auto it = std::find(w.begin(), w.end(), hex("03 04 90"));
	ASSERT_NE(it, w.end());
	EXPECT_EQ(*(it + 1), hex("10 00 D7 8F 08 E2 E8 20"));
	EXPECT_EQ(w.back(), hex("20 00 00"));
}

TEST_F(Ad9544, SkewSendsLow24BitsThenIoUpdate)
{
	connect();
	struct {
		int32_t value;
		const char *frame;
	} cases[] = {
		{-1, "08 6E FF FF FF"},
		{-12515, "08 6E 1D CF FF"},
		{-100, "08 6E 9C FF FF"},
		{0, "08 6E 00 00 00"},
		{0x123456, "08 6E 56 34 12"},
	};
	for (const auto &c : cases) {
		fake_i2c::log.clear();
		EXPECT_EQ(ad9544_set_skew(c.value), 0);
		std::vector<bytes> expect = {hex(c.frame), hex("00 0F 01")};
		EXPECT_EQ(fake_i2c::writes(fake_i2c::BUS0_FD), expect) << c.value;
	}
}

TEST_F(Ad9544, StatusWordExamples)
{
	ad9544_set_m_pins(0, 0, 0);
	EXPECT_EQ(ad9544_status_word(), 0x00000004u);

	ad9544_state.ref_aa_status = 0x12;
	ad9544_state.ref_aa_valid = 1;
	ad9544_state.ref_bb_status = 0x05;
	ad9544_state.dpll_3100 = ad9544_state.dpll_3101 = 1;
	ad9544_state.dpll_3200 = ad9544_state.dpll_3201 = 1;
	ad9544_set_m_pins(1, 1, 1);
	EXPECT_EQ(ad9544_status_word(), 0x021205F3u);
}

TEST_F(Ad9544, StatusWordBitPositions)
{
	ad9544_set_m_pins(0, 0, 1);
	EXPECT_EQ(ad9544_status_word(), 0u);
	ad9544_state.dpll_3101 = 1;
	EXPECT_EQ(ad9544_status_word(), 1u << 4);
	ad9544_state = {};
	ad9544_set_m_pins(0, 0, 1);
	ad9544_state.dpll_3200 = 1;
	EXPECT_EQ(ad9544_status_word(), 1u << 7);
	ad9544_state.dpll_3200 = 0;
	ad9544_state.ref_bb_valid = 1;
	EXPECT_EQ(ad9544_status_word(), 1u << 24);
	ad9544_state.ref_bb_valid = 0;
	ad9544_set_m_pins(0, 1, 1);
	EXPECT_EQ(ad9544_status_word(), 2u);
}

TEST_F(Ad9544, ReadsRefDpllAndTemperature)
{
	connect();
	auto &r = fake_i2c::ad9544_regs;
	r[0x3006] = 0x12;
	r[0x3008] = 0x05;
	r[0x3100] = 0xFF;
	r[0x3101] = 0x01;
	r[0x3200] = 0x02;  // bit 0 clear
	r[0x3201] = 0x03;
	r[0x3003] = 0x34;
	r[0x3004] = 0x12;
	EXPECT_EQ(ad9544_read_ref_status(), 0);
	EXPECT_EQ(ad9544_read_dpll_status(), 0);
	EXPECT_EQ(ad9544_read_temperature(), 0);
	EXPECT_EQ(ad9544_state.ref_aa_status, 0x12);
	EXPECT_EQ(ad9544_state.ref_aa_valid, 1);
	EXPECT_EQ(ad9544_state.ref_bb_status, 0x05);
	EXPECT_EQ(ad9544_state.ref_bb_valid, 0);
	EXPECT_EQ(ad9544_state.dpll_3100, 1);
	EXPECT_EQ(ad9544_state.dpll_3101, 1);
	EXPECT_EQ(ad9544_state.dpll_3200, 0);
	EXPECT_EQ(ad9544_state.dpll_3201, 1);
	EXPECT_EQ(chip_temperature, 36);
	std::vector<bytes> expect = {
		hex("00 0F 01"), hex("30 06"), hex("30 08"),
		hex("00 0F 01"), hex("31 00"), hex("31 01"), hex("32 00"), hex("32 01"),
		hex("00 0F 01"), hex("30 03"),
	};
	EXPECT_EQ(fake_i2c::writes(fake_i2c::BUS0_FD), expect);
}

TEST_F(Ad9544, TemperatureFormula)
{
	EXPECT_EQ(ad9544_temperature_from_raw(0x1234), 36);
	// The register is two's complement in 1/128 degree: every raw value
	// gives its signed count / 128, cut toward zero. Just below zero is 0,
	// not the 82 that unsigned arithmetic made of 0xFFFF.
	for (uint32_t raw = 0; raw <= 0xFFFF; raw++) {
		int32_t counts = raw < 0x8000 ? static_cast<int32_t>(raw)
		                              : static_cast<int32_t>(raw) - 0x10000;
		auto expect = static_cast<int32_t>(std::trunc(counts / 128.0));
		ASSERT_EQ(ad9544_temperature_from_raw(static_cast<uint16_t>(raw)), expect) << raw;
	}
	EXPECT_EQ(ad9544_temperature_from_raw(0xFFFF), 0);
	EXPECT_EQ(ad9544_temperature_from_raw(0xFF7F), -1);
	EXPECT_EQ(ad9544_temperature_from_raw(0x8000), -256);
	EXPECT_EQ(ad9544_temperature_from_raw(0x7FFF), 255);
}

TEST_F(Ad9544, WithoutBusEveryReadFailsAndKeepsThePreviousValues)
{
	ad9544_state.ref_aa_valid = 1;
	ad9544_state.dpll_3100 = 1;
	std::string out = capture_stdout([&] {
		EXPECT_LT(ad9544_read_ref_status(), 0);
		EXPECT_LT(ad9544_read_dpll_status(), 0);
		EXPECT_LT(ad9544_read_temperature(), 0);
	});
	EXPECT_EQ(out, "pps: AD9544 unable to send data to device: errno -1\n"
		       "pps: AD9544 unable to send data to device: errno -1\n"
		       "pps: AD9544 unable to send data to device: errno -1\n");
	EXPECT_EQ(chip_temperature, 25);
	EXPECT_EQ(ad9544_state.ref_aa_valid, 1);
	EXPECT_EQ(ad9544_state.dpll_3100, 1);
}

TEST_F(Ad9544, FailedStatusReadsEndTheirStep)
{
	connect();
	auto &r = fake_i2c::ad9544_regs;
	r[0x3006] = 0x10;
	r[0x3101] = 1;
	ad9544_state.ref_bb_status = 0x77;
	ad9544_state.dpll_3200 = 1;
	// Refuse the reads of 0x3008 and 0x3101 (the read after their address).
	fake_i2c::override_result = [](const fake_i2c::transfer &t, size_t i) -> ssize_t {
		if (t.is_write || i == 0)
			return -2;
		const auto &prev = fake_i2c::log[i - 1].bytes;
		if (prev == hex("30 08") || prev == hex("31 01"))
			return -1;
		return -2;
	};
	std::string out = capture_stdout([&] {
		EXPECT_EQ(ad9544_read_ref_status(), -1);
		EXPECT_EQ(ad9544_read_dpll_status(), -1);
	});
	EXPECT_EQ(out, "pps: AD9544 unable to receive data byte: errno -1\n"
		       "pps: AD9544 unable to receive data byte: errno -1\n");
	EXPECT_EQ(ad9544_state.ref_aa_status, 0x10);
	EXPECT_EQ(ad9544_state.ref_aa_valid, 1);
	EXPECT_EQ(ad9544_state.ref_bb_status, 0);  // cleared before its read
	EXPECT_EQ(ad9544_state.dpll_3100, 0);
	EXPECT_EQ(ad9544_state.dpll_3200, 1);  // not reached: keeps its value
}

TEST_F(Ad9544, ReadErrorMessages)
{
	connect();
	uint8_t buf[2];
	std::string out = capture_stdout([&] {
		EXPECT_EQ(ad9544_read_reg(0x3006, nullptr), -14);
		EXPECT_EQ(ad9544_read_block(0x3006, nullptr, 2), -14);
	});
	EXPECT_EQ(out, "pps: AD9544 NULL pointer err\npps: AD9544 NULL pointer err\n");
	fake_i2c::override_result = [](const fake_i2c::transfer &t, size_t) -> ssize_t {
		return t.is_write ? 1 : -2;
	};
	out = capture_stdout([&] { EXPECT_EQ(ad9544_read_reg(0x3006, buf), 1); });
	EXPECT_EQ(out, "pps: AD9544 unable to send register address to device: errno 1\n");
	fake_i2c::override_result = [](const fake_i2c::transfer &t, size_t) -> ssize_t {
		return t.is_write ? -2 : 1;
	};
	out = capture_stdout([&] { EXPECT_EQ(ad9544_read_block(0x3003, buf, 2), 1); });
	EXPECT_EQ(out, "pps:  AD9544 unable to receive data from device: errno 1\n");
	// A transfer that moves nothing is a failure, never a success.
	fake_i2c::override_result = [](const fake_i2c::transfer &t, size_t) -> ssize_t {
		return t.is_write ? 0 : -2;
	};
	out = capture_stdout([&] { EXPECT_LT(ad9544_write_reg(0x2000, 0), 0); });
	EXPECT_EQ(out, "pps: AD9544 unable to send data to device: errno 0\n");
}

}  // namespace
