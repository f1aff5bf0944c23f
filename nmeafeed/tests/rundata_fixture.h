// A private KX_ROOT tree with var/volatile/rundata for tests of the status
// files, and the daemon's state reset around each test.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "nmeafeed.h"
#include "ntp_shm.h"
#include "test_sentences.h"

class RundataTest : public testing::Test {
protected:
	void SetUp() override
	{
		char dir[] = "/tmp/nmeafeed-test-XXXXXX";
		ASSERT_NE(mkdtemp(dir), nullptr);
		root_ = dir;
		ASSERT_EQ(system(("mkdir -p " + root_ + "/var/volatile/rundata").c_str()), 0);
		setenv("KX_ROOT", root_.c_str(), 1);
		module_fix("1\n");
		nmeafeed_reset_state();
		ntp_shm = nullptr;
	}
	// The module's fix as /sys/pps_filter/gpsfix shows it (null: no such
	// file). nmeafeed writes an NTP sample only while it is above 0, so
	// every test starts with the module's fix 1.
	void module_fix(const char *text) const
	{
		std::string dir = root_ + "/sys/pps_filter";
		[[maybe_unused]] int r = system(("mkdir -p " + dir + " && rm -f " + dir + "/gpsfix").c_str());
		if (text != nullptr)
			std::ofstream(dir + "/gpsfix") << text;
	}
	void TearDown() override
	{
		unsetenv("KX_ROOT");
		ntp_shm = nullptr;
		[[maybe_unused]] int r = system(("rm -rf " + root_).c_str());
	}
	std::string path(const std::string &name) const
	{
		return root_ + "/var/volatile/rundata/" + name;
	}
	bool exists(const std::string &name) const
	{
		struct stat st;
		return stat(path(name).c_str(), &st) == 0;
	}
	std::string read(const std::string &name) const
	{
		std::ifstream f(path(name), std::ios::binary);
		std::stringstream ss;
		ss << f.rdbuf();
		return ss.str();
	}
	void remove_all() const
	{
		[[maybe_unused]] int r = system(("rm -f " + root_ + "/var/volatile/rundata/*").c_str());
	}
	// Feeds lines as the read loop hands them over (each ending in LF), as
	// the receiver sends them: with their checksum, added where the test
	// wrote only the sentence's body.
	static void feed(std::initializer_list<std::string> lines)
	{
		for (const std::string &l : lines) {
			std::string line = (l.find('*') == std::string::npos ? with_checksum(l) : l) + "\n";
			handle_line(line.data(), line.size());
		}
	}

	std::string root_;
};

// "%3d " per value, as the satellite files hold them.
inline std::string sat_text(std::initializer_list<int> values)
{
	std::string out;
	char buf[16];
	int n = 0;
	for (int v : values) {
		snprintf(buf, sizeof buf, "%3d ", v);
		out += buf;
		n++;
	}
	for (; n < 12; n++)
		out += "  0 ";
	return out;
}
