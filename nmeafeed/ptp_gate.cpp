#include "ptp_gate.h"

#include <cstdlib>
#include <sstream>
#include <vector>

#include "kx_path.h"
#include "kx_run.h"

PtpPort ptp_port_from_config(const std::string &name, const std::string &text)
{
	PtpPort port{name, "/var/run/ptp4l", 0};
	std::istringstream lines(text);
	std::string line;
	bool global = false;
	while (std::getline(lines, line)) {
		std::istringstream words(line);
		std::string key, value;
		if (!(words >> key) || key[0] == '#')
			continue;
		if (key[0] == '[') {
			global = key == "[global]";
			continue;
		}
		if (!global || !(words >> value))
			continue;
		if (key == "uds_address")
			port.uds = value;
		else if (key == "domainNumber")
			port.domain = atoi(value.c_str());
	}
	port.uds = kx_path(port.uds.c_str());
	return port;
}

namespace {

// pmc on ptp4l's socket, with the port's domain; its reply socket is pmc's
// own (/var/run/pmc.PID). Returns pmc's output (no response in it when
// nothing answered).
std::string pmc(const PtpPort &port, const std::string &command)
{
	std::vector<std::string> argv = {"pmc", "-u", "-b", "0", "-d", std::to_string(port.domain),
	                                 "-s", port.uds, command};
	std::string out;
	// the output decides, not the status: pmc's status says little
	kx_run(argv, &out, 3000);
	return out;
}

} // namespace

PtpPush ptp_push(const PtpPort &port, const KxPtpSettings &want)
{
	KxPtpSettings now;
	if (!kx_ptp_parse_settings(pmc(port, "GET GRANDMASTER_SETTINGS_NP"), &now))
		return PtpPush::unreachable;
	if (now == want)
		return PtpPush::kept;
	// ptp4l answers a SET with the settings it now holds
	if (!kx_ptp_parse_settings(pmc(port, kx_ptp_set_command(want)), &now) || !(now == want))
		return PtpPush::failed;
	return PtpPush::pushed;
}
