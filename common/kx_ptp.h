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

// The ports that may serve PTP, each with its ptp4l configuration
// /etc/linuxptp/kx-timeserver/ptp4l-PORT.conf.
constexpr const char *kKxPtpPorts[] = {"eth0", "eth1"};

// One grandmaster port, as its ptp4l configuration describes it.
struct KxPtpPort {
	std::string name;   // "eth0"
	std::string uds;    // ptp4l's management socket (uds_address), under $KX_ROOT
	int domain = 0;     // domainNumber: pmc's messages carry it
};

// Reads uds_address and domainNumber from a ptp4l configuration's [global]
// section (ptp4l's defaults where they are not given).
KxPtpPort kx_ptp_port_from_config(const std::string &name, const std::string &text);

// The port as its configuration file describes it; false when the port has
// no configuration (it does not serve PTP).
bool kx_ptp_port(const char *name, KxPtpPort *out);

// Runs pmc on the port's ptp4l socket (through kx_run, a few seconds at
// most) and returns its output, which holds no response when no ptp4l
// answered.
std::string kx_pmc(const KxPtpPort &port, const std::string &command);

// What the port's ptp4l announces now; false when no ptp4l answers.
bool kx_ptp_get(const KxPtpPort &port, KxPtpSettings *out);
