// What the appliance's PTP grandmasters announce, from the one service state.
//
// ptp4l runs each port's grandmaster with free_running 1: the kx-pps module,
// not ptp4l, keeps the PHY clocks on TAI. ptp4l therefore knows nothing of
// GPS; what it announces (clock quality and time properties) is set from
// outside with pmc's SET GRANDMASTER_SETTINGS_NP, and this is the one place
// that decides those values from kx_service_state(), the state the NTP
// service follows too.
#pragma once

#include <string>

#include "kx_state.h"

// The fields of linuxptp's GRANDMASTER_SETTINGS_NP management message.
struct KxPtpSettings {
	int clock_class = 248;
	int clock_accuracy = 0xfe;
	int offset_scaled_log_variance = 0xffff;
	int current_utc_offset = 37;
	bool leap61 = false;
	bool leap59 = false;
	bool current_utc_offset_valid = false;
	bool ptp_timescale = true;
	bool time_traceable = false;
	bool frequency_traceable = false;
	int time_source = 0x20; // GNSS

	bool operator==(const KxPtpSettings &) const = default;
};

// The settings for a service state; tai_offset is the module's tai_offset
// attribute (-1 when unreadable: the offset is then announced as not valid).
KxPtpSettings kx_ptp_settings(KxService service, int tai_offset);

// pmc's command that sets them: "SET GRANDMASTER_SETTINGS_NP clockClass 6 ...".
std::string kx_ptp_set_command(const KxPtpSettings &s);

// Reads the fields of a GRANDMASTER_SETTINGS_NP response from pmc's output.
// False when the output holds no complete response.
bool kx_ptp_parse_settings(const std::string &pmc_output, KxPtpSettings *out);
