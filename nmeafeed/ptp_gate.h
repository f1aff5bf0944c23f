// The PTP half of ntpgate: each port's ptp4l announces what kx_ptp_settings()
// decides, and again after every restart of that ptp4l.
#pragma once

#include <string>

#include "kx_ptp.h"

// One grandmaster port, as its ptp4l configuration describes it.
struct PtpPort {
	std::string name;   // "eth0"
	std::string uds;    // ptp4l's management socket (uds_address)
	int domain = 0;     // domainNumber: pmc's messages carry it
};

// Reads uds_address and domainNumber from a ptp4l configuration's [global]
// section (ptp4l's defaults where they are not given).
PtpPort ptp_port_from_config(const std::string &name, const std::string &text);

enum class PtpPush {
	unreachable, // no ptp4l answers on the port's socket
	kept,        // it already announces the settings
	pushed,      // it did not (changed state, or a restarted ptp4l): set now
	failed,      // it answers but did not take the settings
};

// Asks the port's ptp4l (GET GRANDMASTER_SETTINGS_NP) and sets the settings
// when they differ. Reading back each time is what finds a ptp4l that has
// restarted with its configuration's defaults.
PtpPush ptp_push(const PtpPort &port, const KxPtpSettings &want);
