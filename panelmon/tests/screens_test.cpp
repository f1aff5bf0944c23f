// Value files, time-mode parsing, the SNR average and the screen texts,
// against a private KX_ROOT tree.
#include "screens.h"
#include "test_support.h"
#include "value_file.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <ctime>
#include <string>

namespace {

class Screens : public ::testing::Test {
protected:
	TempRoot root;
	char line1[ROW_SIZE] = "unchanged1";
	char line2[ROW_SIZE] = "unchanged2";

	void SetUp() override
	{
		time_known_flag = 0;
		holdover_value = 0;
		std::strcpy(fix_text, "");
		gnss_suspect = false;
		gnss_alarm[0] = '\0';
	}
	void rundata(const char *name, const std::string &text)
	{
		root.put((std::string("/var/volatile/rundata/") + name).c_str(), text);
	}
	std::string abs_path(const char *fixed) { return root.path() + fixed; }
};

// ---- value files --------------------------------------------------------

TEST_F(Screens, ReadValueFileTakesOneLineOfAtMost19Characters)
{
	char text[32];
	root.put("/etc/a", "12345678901234567890123");
	EXPECT_EQ(read_value_file(abs_path("/etc/a").c_str(), text, sizeof text), 0);
	EXPECT_STREQ(text, "1234567890123456789");
	root.put("/etc/a", "first\nsecond\n");
	EXPECT_EQ(read_value_file(abs_path("/etc/a").c_str(), text, sizeof text), 0);
	EXPECT_STREQ(text, "first\n");
	root.put("/etc/a", "");
	std::strcpy(text, "junk");
	EXPECT_EQ(read_value_file(abs_path("/etc/a").c_str(), text, sizeof text), 0);
	EXPECT_STREQ(text, "");
	std::strcpy(text, "junk");
	EXPECT_EQ(read_value_file(abs_path("/etc/missing").c_str(), text, sizeof text), -1);
	EXPECT_STREQ(text, "");
	// A smaller buffer is never overrun.
	char small[5];
	root.put("/etc/a", "abcdefgh");
	EXPECT_EQ(read_value_file(abs_path("/etc/a").c_str(), small, sizeof small), 0);
	EXPECT_STREQ(small, "abcd");
}

TEST_F(Screens, WriteValueFileReplacesTheFileAndSkipsUnwritablePaths)
{
	root.put("/var/volatile/rundata/x.dat", "a much longer old content");
	write_value_file(abs_path("/var/volatile/rundata/x.dat").c_str(), "7\n");
	EXPECT_EQ(root.get("/var/volatile/rundata/x.dat"), "7\n");
	write_value_file(abs_path("/no/such/dir/x.dat").c_str(), "7\n");  // silently nothing
	EXPECT_EQ(root.get("/no/such/dir/x.dat"), "<missing>");
}

TEST_F(Screens, NumbersAndTimeModesFromTexts)
{
	for (auto [text, n] : {std::pair<const char *, int32_t>{" 2", 2}, {"2\n", 2}, {"-1", -1},
	                       {"+15x", 15}, {"\t 3600 sec", 3600}, {"", 0}, {"abc", 0}, {"- 5", 0},
	                       {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN}})
		EXPECT_EQ(parse_number(text), n) << text;
	EXPECT_EQ(read_number_file(abs_path("/etc/missing").c_str()), 0);

	for (auto [text, mode] : {std::pair<const char *, int>{" 2", TIME_MODE_MANUAL},
	                          {"2\n", TIME_MODE_MANUAL}, {"1", TIME_MODE_PEER},
	                          {"-1", TIME_MODE_GPS}, {"7", TIME_MODE_GPS}, {"0", TIME_MODE_GPS},
	                          {"", TIME_MODE_GPS}})
		EXPECT_EQ(time_mode_from_text(text), mode) << text;
	EXPECT_EQ(read_time_mode(), TIME_MODE_GPS);  // missing file
	root.put("/etc/time_mode", " 2");
	EXPECT_EQ(read_time_mode(), TIME_MODE_MANUAL);
	root.put("/etc/time_mode", "1\n");
	EXPECT_EQ(read_time_mode(), TIME_MODE_PEER);
}

// ---- SNR average --------------------------------------------------------

// The average of the four strongest of the first four entries of each list
// (19 characters are read), truncated toward zero; missing values count 0.
TEST_F(Screens, SnrAverage)
{
	const char *lists[] = {"gsnrlist.dat", "lsnrlist.dat", "asnrlist.dat", "bsnrlist.dat"};
	const char *const max = "2147483647";
	struct {
		std::array<const char *, 4> texts;  // in the order of `lists`; nullptr: no file
		int32_t average;
	} cases[] = {
	    {{}, 0},
	    {{" 45  40  38  30  20  10   0   0   0   0   0   0 ", nullptr, " 50  20  10   5   0   0 "},
	     (50 + 45 + 40 + 38) / 4},
	    {{nullptr, "10 9"}, 4},
	    {{nullptr, ""}, 0},
	    {{nullptr, nullptr, nullptr, "  1   2   3   4  99  99  99"}, (4 + 3 + 2 + 1) / 4},
	    {{"-5 -6 -7 -9"}, -6},  // -27 / 4
	    {{max, max, max, max}, INT32_MAX},
	};
	for (const auto &c : cases) {
		for (size_t i = 0; i < 4; i++) {
			if (c.texts[i] != nullptr)
				rundata(lists[i], c.texts[i]);
			else
				root.remove((std::string("/var/volatile/rundata/") + lists[i]).c_str());
		}
		EXPECT_EQ(snr_average(), c.average) << (c.texts[0] ? c.texts[0] : "-");
	}
}

// ---- rows ---------------------------------------------------------------

TEST_F(Screens, RowsAreCutAt20Characters)
{
	char row[ROW_SIZE];
	format_row(row, "%s", "12345678901234567890EXTRA");
	EXPECT_STREQ(row, "12345678901234567890");
	format_row(row, "%-20s", "ab");
	EXPECT_STREQ(row, "ab                  ");
}

TEST_F(Screens, TimeTexts)
{
	char row[ROW_SIZE];
	time_text(row, false);
	EXPECT_STREQ(row, "    00:00:00 UTC    ");
	std::time_t before = std::time(nullptr);
	time_text(row, true);
	std::time_t after = std::time(nullptr);
	bool matches = false;
	for (std::time_t t = before; t <= after; t++) {
		std::tm tm;
		localtime_r(&t, &tm);
		char want[ROW_SIZE];
		std::snprintf(want, sizeof want, "    %02d:%02d:%02d UTC    ", tm.tm_hour, tm.tm_min,
			      tm.tm_sec);
		matches = matches || std::string(row) == want;
	}
	EXPECT_TRUE(matches) << row;
}

TEST_F(Screens, GpsModeWithFix)
{
	std::strcpy(fix_text, "3D");
	root.put("/sys/pps_filter/gps_time_set", "1\n");
	rundata("gsnrlist.dat", " 45  40  38  30 ");
	render_page0(line1, line2);
	EXPECT_EQ(std::string(line1).substr(12), " UTC    ");
	EXPECT_STRNE(line1, "    00:00:00 UTC    ");
	EXPECT_STREQ(line2, "GPS: 3D  SNR Ave=38 ");
	std::strcpy(fix_text, "2D");
	root.remove("/var/volatile/rundata/gsnrlist.dat");
	render_page0(line1, line2);
	EXPECT_STREQ(line2, "GPS: 2D  SNR Ave= 0 ");
}

TEST_F(Screens, GpsModeBeforeTimeIsSetShowsZeroTime)
{
	root.put("/sys/pps_filter/gps_time_set", "0\n");
	std::strcpy(fix_text, "N/A");
	render_page0(line1, line2);
	EXPECT_STREQ(line1, "    00:00:00 UTC    ");
	EXPECT_STREQ(line2, "GPS:N/A  SNR Ave= 0 ");
	root.remove("/sys/pps_filter/gps_time_set");
	render_page0(line1, line2);
	EXPECT_STREQ(line1, "    00:00:00 UTC    ");
}

TEST_F(Screens, GpsModeHoldover)
{
	std::strcpy(fix_text, "N/A");
	holdover_value = 3600;
	time_known_flag = 1;
	render_page0(line1, line2);
	EXPECT_STREQ(line2, "Holdover: 3600 sec  ");
	time_known_flag = 0;
	render_page0(line1, line2);
	EXPECT_STREQ(line2, "Holdover: Expired   ");
	holdover_value = 123456789;
	time_known_flag = 1;
	render_page0(line1, line2);
	EXPECT_STREQ(line2, "Holdover: 123456789 ");
}

// While the guard holds the receiver suspect the second row is the alarm,
// whatever the fix and the holdover say; trusted again, the screen is as
// before. The row stays 20 characters for the longest reasons.
TEST_F(Screens, GpsModeSuspectReceiverShowsTheAlarm)
{
	std::strcpy(fix_text, "3D");
	gnss_suspect = true;
	std::strcpy(gnss_alarm, "time");
	render_page0(line1, line2);
	EXPECT_STREQ(line2, "GPS SUSPECT TIME    ");
	std::strcpy(gnss_alarm, "position");
	holdover_value = 40;
	time_known_flag = 1;
	render_page0(line1, line2);
	EXPECT_STREQ(line2, "GPS SUSPECT POSITION");
	time_known_flag = 0;
	std::strcpy(gnss_alarm, "somethinglonger");
	render_page0(line1, line2);
	EXPECT_STREQ(line2, "GPS SUSPECT SOMETHIN");
	gnss_alarm[0] = '\0';
	render_page0(line1, line2);
	EXPECT_STREQ(line2, "GPS SUSPECT         ");
	gnss_suspect = false;
	holdover_value = 0;
	render_page0(line1, line2);
	EXPECT_STREQ(line2, "GPS: 3D  SNR Ave= 0 ");
	root.put("/etc/time_mode", "1");
	gnss_suspect = true;
	render_page0(line1, line2);
	EXPECT_STREQ(line2, "Peer Unsynced:     0") << "peer mode: the receiver is not the source";
}

TEST_F(Screens, PeerMode)
{
	root.put("/etc/time_mode", "1");
	render_page0(line1, line2);
	EXPECT_STRNE(line1, "    00:00:00 UTC    ");
	EXPECT_STREQ(line2, "Peer Unsynced:     0");
	rundata("time_since_peer_synced", "42");
	render_page0(line1, line2);
	EXPECT_STREQ(line2, "Peer Unsynced:    42");
	rundata("peer_holdover_expired", "1\n");
	render_page0(line1, line2);
	EXPECT_STREQ(line2, "Peer Holdovr Expired");
	rundata("chrony_peer_status", "1");
	render_page0(line1, line2);
	EXPECT_STREQ(line2, "Peer NTP: Synced    ");
}

TEST_F(Screens, ManualMode)
{
	root.put("/etc/time_mode", "2\n");
	render_page0(line1, line2);
	EXPECT_STREQ(line1, "    00:00:00 UTC    ");
	EXPECT_STREQ(line2, "  Manual Time Mode  ");
	rundata("manual_time_set", "0");
	render_page0(line1, line2);
	EXPECT_STREQ(line1, "    00:00:00 UTC    ");
	rundata("manual_time_set", "1\n");
	render_page0(line1, line2);
	EXPECT_STRNE(line1, "    00:00:00 UTC    ");
	EXPECT_EQ(std::string(line1).substr(12), " UTC    ");
}

TEST_F(Screens, InformationPages)
{
	rundata("addr0.dat", "10.0.0.1");
	rundata("addr1.dat", "192.168.100.200");
	render_info_page(1, line1, line2);
	EXPECT_STREQ(line1, "IP0:        10.0.0.1");
	EXPECT_STREQ(line2, "IP1: 192.168.100.200");
	rundata("mask0.dat", "255.255.255.0");
	render_info_page(2, line1, line2);
	EXPECT_STREQ(line1, "MK0:   255.255.255.0");
	EXPECT_STREQ(line2, "MK1:                ");
	rundata("gw1.dat", "10.0.0.254\n");  // the line end is sent like any character
	render_info_page(3, line1, line2);
	EXPECT_STREQ(line1, "GW0:                ");
	EXPECT_STREQ(line2, "GW1:     10.0.0.254\n");
	rundata("mac0.dat", "00:11:22:33:44:55");
	rundata("mac1.dat", "00:11:22:33:44:55:66");  // longer: widens, then cut
	render_info_page(4, line1, line2);
	EXPECT_STREQ(line1, "M0:00:11:22:33:44:55");
	EXPECT_STREQ(line2, "M1:00:11:22:33:44:55");
	std::strcpy(fix_text, "2D");
	rundata("numsats.dat", "7");
	rundata("gsnrlist.dat", "10 9");
	render_info_page(5, line1, line2);
	EXPECT_STREQ(line1, "GPS Lock: 2D Sats= 7");
	EXPECT_STREQ(line2, "SNR Average= 4      ");
	root.remove("/var/volatile/rundata/numsats.dat");
	render_info_page(5, line1, line2);
	EXPECT_STREQ(line1, "GPS Lock: 2D Sats=  ");
}

}  // namespace
