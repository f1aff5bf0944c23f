// The PTP half of ntpgate: each port's ptp4l announces what kx_ptp_settings()
// decides, and again after every restart of that ptp4l.
#pragma once

#include "kx_ptp.h"

enum class PtpPush {
	unreachable, // no ptp4l answers on the port's socket
	kept,        // it already announces the settings
	pushed,      // it did not (changed state, or a restarted ptp4l): set now
	failed,      // it answers but did not take the settings
};

// Asks the port's ptp4l (GET GRANDMASTER_SETTINGS_NP) and sets the settings
// when they differ. Reading back each time is what finds a ptp4l that has
// restarted with its configuration's defaults.
PtpPush ptp_push(const KxPtpPort &port, const KxPtpSettings &want);
