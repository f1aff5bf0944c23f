#include "kx_path.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

struct RootGuard {
	explicit RootGuard(const char *value)
	{
		if (value)
			setenv("KX_ROOT", value, 1);
		else
			unsetenv("KX_ROOT");
	}
	~RootGuard() { unsetenv("KX_ROOT"); }
};

TEST(KxPath, UnsetOrEmptyRootKeepsTheFixedPath)
{
	{
		RootGuard g(nullptr);
		EXPECT_EQ(kx_path("/dev/kx_pps"), "/dev/kx_pps");
	}
	{
		RootGuard g("");
		EXPECT_EQ(kx_path("/var/volatile/rundata/numsats.dat"),
			  "/var/volatile/rundata/numsats.dat");
	}
}

TEST(KxPath, RootPrefixesWithExactlyOneSlash)
{
	RootGuard g("/tmp/sim//");
	EXPECT_EQ(kx_path("/dev/gpiochip0"), "/tmp/sim/dev/gpiochip0");
	RootGuard h("/tmp/sim");
	EXPECT_EQ(kx_path("/etc/time_mode"), "/tmp/sim/etc/time_mode");
}

} // namespace
