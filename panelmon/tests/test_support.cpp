#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

TempRoot::TempRoot()
{
	char tmpl[] = "/tmp/panelmon-test-XXXXXX";
	const char *dir = mkdtemp(tmpl);
	root_ = dir ? dir : "/tmp/panelmon-test-failed";
	std::filesystem::create_directories(root_ + "/etc");
	std::filesystem::create_directories(root_ + "/sys/pps_filter");
	std::filesystem::create_directories(root_ + "/var/volatile/rundata");
	setenv("KX_ROOT", root_.c_str(), 1);
}

TempRoot::~TempRoot()
{
	unsetenv("KX_ROOT");
	std::error_code ec;
	std::filesystem::remove_all(root_, ec);
}

void TempRoot::put(const char *fixed, const std::string &text) const
{
	std::ofstream(root_ + fixed, std::ios::binary | std::ios::trunc) << text;
}

void TempRoot::remove(const char *fixed) const
{
	std::error_code ec;
	std::filesystem::remove(root_ + fixed, ec);
}

std::string TempRoot::get(const char *fixed) const
{
	std::ifstream in(root_ + fixed, std::ios::binary);
	if (!in)
		return "<missing>";
	std::ostringstream s;
	s << in.rdbuf();
	return s.str();
}

std::string capture_stdout(const std::function<void()> &f)
{
	std::fflush(stdout);
	::testing::internal::CaptureStdout();
	f();
	std::fflush(stdout);
	return ::testing::internal::GetCapturedStdout();
}
