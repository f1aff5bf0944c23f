// The antenna monitor and the skew check against the recording I2C fake.
#include "ad9544.h"
#include "antenna.h"
#include "fake_i2c.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

class Antenna : public ::testing::Test {
protected:
	void SetUp() override
	{
		fake_i2c::reset();
		antenna_fd = -1;
		antenna_current_ma = 0;
		antenna_power_mw = 0;
		stored_skew = 12515;
		ad9544_fd = fake_i2c::BUS0_FD;
	}
};

TEST_F(Antenna, Conversions)
{
	// Current: signed; 262 counts are 0.998 mA, truncated toward zero, both signs.
	for (auto [raw, ma] : {std::pair<uint16_t, int32_t>{0x03E8, 3}, {0xFC18, -3}, {0x7FFF, 124},
	                       {0x8000, -124}, {0, 0}, {262, 0}, {static_cast<uint16_t>(-262), 0}})
		EXPECT_EQ(antenna_current_from_raw(raw), ma) << raw;
	// Power: unsigned, never negative.
	for (auto [raw, mw] : {std::pair<uint16_t, int32_t>{0x03E8, 95}, {0xFFFF, 6242},
	                       {0x8000, 3121}, {0, 0}})
		EXPECT_EQ(antenna_power_from_raw(raw), mw) << raw;
}

// Configuration 0x4527; calibration 13438 (0x347E), computed in double precision.
TEST_F(Antenna, InitWritesConfigurationAndCalibration)
{
	std::string out = capture_stdout([] { EXPECT_EQ(antenna_monitor_init(), 0); });
	EXPECT_EQ(out, "");
	EXPECT_EQ(antenna_fd, fake_i2c::BUS1_FD);
	EXPECT_EQ(fake_i2c::selected_address[fake_i2c::BUS1_FD], 0x40);
	std::vector<bytes> expect = {{0x00, 0x45, 0x27}, {0x05, 0x34, 0x7E}};
	EXPECT_EQ(fake_i2c::writes(fake_i2c::BUS1_FD), expect);
}

TEST_F(Antenna, InitFailures)
{
	struct {
		const char *out;
		void (*arrange)();
		bool closed;  // the bus was opened, so it is closed again
	} cases[] = {
	    {"Failed to open I2C bus\n", [] { fake_i2c::bus1_missing = true; }, false},
	    {"Failed to set I2C address\n", [] { fake_i2c::set_address_fails = true; }, true},
	    {"Failed to write configuration\n",
	     [] {
		     fake_i2c::override_result = [](const fake_i2c::transfer &t, size_t) -> ssize_t {
			     return t.is_write && t.bytes[0] == 0x00 ? 2 : -2;
		     };
	     },
	     true},
	    {"Failed to write calibration\n",
	     [] {
		     fake_i2c::override_result = [](const fake_i2c::transfer &t, size_t) -> ssize_t {
			     return t.is_write && t.bytes[0] == 0x05 ? -1 : -2;
		     };
	     },
	     true},
	};
	for (const auto &c : cases) {
		fake_i2c::reset();
		antenna_fd = -1;
		c.arrange();
		std::string out = capture_stdout([] { EXPECT_EQ(antenna_monitor_init(), 1); });
		EXPECT_EQ(out, c.out);
		EXPECT_LT(antenna_fd, 0) << c.out;
		EXPECT_EQ(fake_i2c::closed, c.closed ? std::vector<int>{fake_i2c::BUS1_FD} : std::vector<int>{})
		    << c.out;
	}
}

TEST_F(Antenna, ReadSelectsCurrentThenPower)
{
	ASSERT_EQ(antenna_monitor_init(), 0);
	fake_i2c::log.clear();
	fake_i2c::monitor_regs[0x04] = 0xFC18;
	fake_i2c::monitor_regs[0x03] = 0x03E8;
	int32_t ma = 99, mw = 99;
	EXPECT_EQ(antenna_monitor_read(&ma, &mw), 0);
	EXPECT_EQ(ma, -3);
	EXPECT_EQ(mw, 95);
	ASSERT_EQ(fake_i2c::log.size(), 4u);
	EXPECT_EQ(fake_i2c::log[0].bytes, bytes{0x04});
	EXPECT_FALSE(fake_i2c::log[1].is_write);
	EXPECT_EQ(fake_i2c::log[1].bytes.size(), 2u);
	EXPECT_EQ(fake_i2c::log[2].bytes, bytes{0x03});
	EXPECT_FALSE(fake_i2c::log[3].is_write);
}

TEST_F(Antenna, FailedReadMakesTheMonitorUnavailableForGood)
{
	ASSERT_EQ(antenna_monitor_init(), 0);
	fake_i2c::log.clear();
	fake_i2c::override_result = [](const fake_i2c::transfer &t, size_t) -> ssize_t {
		return t.is_write ? -2 : 1;  // short read
	};
	int32_t ma = 7, mw = 8;
	std::string out = capture_stdout([&] { EXPECT_EQ(antenna_monitor_read(&ma, &mw), 1); });
	EXPECT_EQ(out, "Failed to read current\n");
	EXPECT_EQ(ma, 7);
	EXPECT_EQ(mw, 8);
	EXPECT_EQ(fake_i2c::closed, std::vector<int>{fake_i2c::BUS1_FD});
	fake_i2c::override_result = nullptr;
	size_t before = fake_i2c::log.size();
	out = capture_stdout([&] { EXPECT_EQ(antenna_monitor_read(&ma, &mw), 1); });
	EXPECT_EQ(out, "Failed to read current\n");
	EXPECT_EQ(fake_i2c::log.size(), before);  // no transfer attempted
}

TEST_F(Antenna, FailedPowerRead)
{
	ASSERT_EQ(antenna_monitor_init(), 0);
	fake_i2c::override_result = [](const fake_i2c::transfer &t, size_t) -> ssize_t {
		return t.is_write && t.bytes == bytes{0x03} ? -1 : -2;
	};
	int32_t ma = 7, mw = 8;
	std::string out = capture_stdout([&] { EXPECT_EQ(antenna_monitor_read(&ma, &mw), 1); });
	EXPECT_EQ(out, "Failed to read power\n");
	EXPECT_EQ(ma, 7);
	EXPECT_LT(antenna_fd, 0);
}

TEST_F(Antenna, RefreshWritesAbsoluteValues)
{
	TempRoot root;
	ASSERT_EQ(antenna_monitor_init(), 0);
	fake_i2c::monitor_regs[0x04] = 0xFC18;
	fake_i2c::monitor_regs[0x03] = 0xFFFF;
	antenna_refresh();
	EXPECT_EQ(antenna_current_ma, -3);
	EXPECT_EQ(root.get("/var/volatile/rundata/antenna_current.dat"), "3\n");
	EXPECT_EQ(root.get("/var/volatile/rundata/antenna_power.dat"), "6242\n");
}

TEST_F(Antenna, AbsentMonitorStillWritesTheFiles)
{
	TempRoot root;
	fake_i2c::bus1_missing = true;
	std::string out = capture_stdout([] {
		antenna_monitor_init();
		antenna_refresh();
		antenna_refresh();
	});
	EXPECT_EQ(out, "Failed to open I2C bus\nFailed to read current\nFailed to read current\n");
	EXPECT_EQ(root.get("/var/volatile/rundata/antenna_current.dat"), "0\n");
	EXPECT_EQ(root.get("/var/volatile/rundata/antenna_power.dat"), "0\n");
}

TEST_F(Antenna, SkewFollowsTheNegatedDelayOncePerChange)
{
	TempRoot root;
	root.put("/etc/antenna_delay", "100");
	std::string out = capture_stdout([] { antenna_skew_check(); });
	EXPECT_EQ(out, "Set skew to -100\n");
	EXPECT_EQ(stored_skew, -100);
	std::vector<bytes> expect = {{0x08, 0x6E, 0x9C, 0xFF, 0xFF}, {0x00, 0x0F, 0x01}};
	EXPECT_EQ(fake_i2c::writes(fake_i2c::BUS0_FD), expect);

	fake_i2c::log.clear();
	out = capture_stdout([] { antenna_skew_check(); });
	EXPECT_EQ(out, "");
	EXPECT_TRUE(fake_i2c::log.empty());

	root.remove("/etc/antenna_delay");
	out = capture_stdout([] { antenna_skew_check(); });
	EXPECT_EQ(out, "Set skew to 0\n");
	expect = {{0x08, 0x6E, 0x00, 0x00, 0x00}, {0x00, 0x0F, 0x01}};
	EXPECT_EQ(fake_i2c::writes(fake_i2c::BUS0_FD), expect);
}

TEST_F(Antenna, DelayMatchingTheStartValueSendsNothing)
{
	TempRoot root;
	root.put("/etc/antenna_delay", "-12515\n");
	std::string out = capture_stdout([] { antenna_skew_check(); });
	EXPECT_EQ(out, "");
	EXPECT_TRUE(fake_i2c::log.empty());
	root.put("/etc/antenna_delay", "12515");
	out = capture_stdout([] { antenna_skew_check(); });
	EXPECT_EQ(out, "Set skew to -12515\n");
	EXPECT_EQ(fake_i2c::writes(fake_i2c::BUS0_FD)[0], (bytes{0x08, 0x6E, 0x1D, 0xCF, 0xFF}));
}

TEST_F(Antenna, SkewIsStoredEvenWhenTheChipRefuses)
{
	TempRoot root;
	ad9544_fd = -1;
	root.put("/etc/antenna_delay", "5");
	std::string out = capture_stdout([] { antenna_skew_check(); });
	EXPECT_NE(out.find("Set skew to -5\n"), std::string::npos);
	EXPECT_EQ(stored_skew, -5);
	out = capture_stdout([] { antenna_skew_check(); });
	EXPECT_EQ(out, "");
}

TEST_F(Antenna, ExtremeDelayDoesNotOverflow)
{
	TempRoot root;
	root.put("/etc/antenna_delay", "-2147483648");
	capture_stdout([] { antenna_skew_check(); });
	EXPECT_EQ(stored_skew, INT32_MIN);
	root.put("/etc/antenna_delay", "99999999999");
	capture_stdout([] { antenna_skew_check(); });
	EXPECT_EQ(stored_skew, -INT32_MAX);
}

}  // namespace
