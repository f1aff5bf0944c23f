#include "ptp_gate.h"

#include <gtest/gtest.h>

// Without a ptp4l on the socket nothing is pushed and nothing is claimed.
TEST(PtpGate, NoPtp4lIsUnreachable)
{
	KxPtpPort p{"eth0", "/nonexistent/ptp4l-eth0", 0};
	EXPECT_EQ(ptp_push(p, kx_ptp_settings(KxService::synchronised, 37)), PtpPush::unreachable);
}
