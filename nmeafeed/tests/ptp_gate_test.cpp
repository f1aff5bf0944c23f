#include "ptp_gate.h"

#include <gtest/gtest.h>

#include <cstdlib>

// The gate talks to each port's ptp4l on the socket and in the domain its
// configuration names; only [global] counts, comments and the interface's
// section do not, and an absent key is ptp4l's default. The socket is a
// fixed path, so it is taken under KX_ROOT.
TEST(PtpGate, PortFromConfiguration)
{
	unsetenv("KX_ROOT");
	PtpPort p = ptp_port_from_config("eth0", "[global]\n"
	                                         "# domainNumber 9\n"
	                                         "domainNumber\t\t24\n"
	                                         "uds_address /run/ptp4l-eth0\n"
	                                         "[eth0]\n"
	                                         "domainNumber 3\n");
	EXPECT_EQ(p.name, "eth0");
	EXPECT_EQ(p.domain, 24);
	EXPECT_EQ(p.uds, "/run/ptp4l-eth0");
	setenv("KX_ROOT", "/tmp/r", 1);
	p = ptp_port_from_config("eth1", "[eth1]\nuds_address /x\n");
	EXPECT_EQ(p.domain, 0);
	EXPECT_EQ(p.uds, "/tmp/r/var/run/ptp4l");
	unsetenv("KX_ROOT");
}

// Without a ptp4l on the socket nothing is pushed and nothing is claimed.
TEST(PtpGate, NoPtp4lIsUnreachable)
{
	PtpPort p{"eth0", "/nonexistent/ptp4l-eth0", 0};
	EXPECT_EQ(ptp_push(p, kx_ptp_settings(KxService::synchronised, 37)), PtpPush::unreachable);
}
