#include "kx_ptp.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "kx_file.h"
#include "kx_path.h"
#include "kx_run.h"

KxPtpSettings kx_ptp_settings(KxService service, int tai_offset)
{
	KxPtpSettings s;
	if (tai_offset >= 0)
		s.current_utc_offset = tai_offset;
	switch (service) {
	case KxService::synchronised:
	case KxService::holdover:
		// Class 6: locked to a primary reference (GPS). Class 7: was
		// locked and holds over within the site's holdover limit, so the
		// time is still traceable. Both announce the receiver-locked
		// accuracy (0x21: within 100 ns) and its variance, as a telecom
		// grandmaster does while its holdover is within its budget.
		s.clock_class = service == KxService::synchronised ? 6 : 7;
		s.clock_accuracy = 0x21;
		s.offset_scaled_log_variance = 0x4e5d;
		s.current_utc_offset_valid = tai_offset >= 0;
		s.time_traceable = true;
		s.frequency_traceable = true;
		break;
	case KxService::sentences:
	case KxService::unsynchronised:
		// Class 248 (default, not traceable): the time was never known or
		// the holdover limit has run out, when the NTP service answers
		// "not synchronised" too; or the module has no pulse source, when
		// it aligns no PHY clock at all and the clocks run free. The
		// G.8275.1 classes for holdover beyond its budget (140, 150,
		// 160) would tell telecom clients the time is still usable, which
		// the appliance no longer says to anyone.
		break;
	}
	return s;
}

std::string kx_ptp_set_command(const KxPtpSettings &s)
{
	char buf[320];
	snprintf(buf, sizeof buf,
	         "SET GRANDMASTER_SETTINGS_NP clockClass %d clockAccuracy 0x%02x"
	         " offsetScaledLogVariance 0x%04x currentUtcOffset %d leap61 %d leap59 %d"
	         " currentUtcOffsetValid %d ptpTimescale %d timeTraceable %d"
	         " frequencyTraceable %d timeSource 0x%02x",
	         s.clock_class, s.clock_accuracy, s.offset_scaled_log_variance,
	         s.current_utc_offset, s.leap61, s.leap59, s.current_utc_offset_valid,
	         s.ptp_timescale, s.time_traceable, s.frequency_traceable, s.time_source);
	return buf;
}

namespace {

// A number as pmc prints it: decimal, or hexadecimal after "0x".
bool number(const std::string &text, int *out)
{
	if (text.empty())
		return false;
	char *end = nullptr;
	long v = strtol(text.c_str(), &end, 0);
	if (*end != '\0' || v < -32768 || v > 65535)
		return false;
	*out = static_cast<int>(v);
	return true;
}

} // namespace

bool kx_ptp_parse_settings(const std::string &pmc_output, KxPtpSettings *out)
{
	struct Field {
		const char *name;
		int *value;
		bool *flag;
	};
	KxPtpSettings s;
	const Field fields[] = {
		{"clockClass", &s.clock_class, nullptr},
		{"clockAccuracy", &s.clock_accuracy, nullptr},
		{"offsetScaledLogVariance", &s.offset_scaled_log_variance, nullptr},
		{"currentUtcOffset", &s.current_utc_offset, nullptr},
		{"leap61", nullptr, &s.leap61},
		{"leap59", nullptr, &s.leap59},
		{"currentUtcOffsetValid", nullptr, &s.current_utc_offset_valid},
		{"ptpTimescale", nullptr, &s.ptp_timescale},
		{"timeTraceable", nullptr, &s.time_traceable},
		{"frequencyTraceable", nullptr, &s.frequency_traceable},
		{"timeSource", &s.time_source, nullptr},
	};
	constexpr size_t kFields = sizeof fields / sizeof fields[0];
	unsigned seen = 0;
	bool in_response = false;
	std::istringstream lines(pmc_output);
	std::string line;
	while (std::getline(lines, line)) {
		// the response's heading line, then one "name value" line per field
		if (line.find("RESPONSE MANAGEMENT GRANDMASTER_SETTINGS_NP") != std::string::npos) {
			in_response = true;
			seen = 0;
			continue;
		}
		if (!in_response)
			continue;
		std::istringstream words(line);
		std::string name, value;
		if (!(words >> name >> value))
			continue;
		for (size_t i = 0; i < kFields; i++) {
			if (name != fields[i].name)
				continue;
			int v = 0;
			if (!number(value, &v))
				return false;
			if (fields[i].value)
				*fields[i].value = v;
			else
				*fields[i].flag = v != 0;
			seen |= 1u << i;
		}
	}
	if (seen != (1u << kFields) - 1)
		return false;
	*out = s;
	return true;
}

KxPtpPort kx_ptp_port_from_config(const std::string &name, const std::string &text)
{
	KxPtpPort port{name, "/var/run/ptp4l", 0};
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

bool kx_ptp_port(const char *name, KxPtpPort *out)
{
	std::string path = kx_path("/etc/linuxptp/kx-timeserver/ptp4l-") + name + ".conf";
	unique_fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
	if (!fd.valid())
		return false;
	std::string text;
	char buf[4096];
	ssize_t n;
	while ((n = read(fd.get(), buf, sizeof buf)) > 0)
		text.append(buf, static_cast<size_t>(n));
	*out = kx_ptp_port_from_config(name, text);
	return true;
}

std::string kx_pmc(const KxPtpPort &port, const std::string &command)
{
	// pmc's reply socket is its own (/var/run/pmc.PID)
	std::vector<std::string> argv = {"pmc", "-u", "-b", "0", "-d", std::to_string(port.domain),
	                                 "-s", port.uds, command};
	std::string out;
	// the output decides, not the status: pmc's status says little
	kx_run(argv, &out, 3000);
	return out;
}

bool kx_ptp_get(const KxPtpPort &port, KxPtpSettings *out)
{
	return kx_ptp_parse_settings(kx_pmc(port, "GET GRANDMASTER_SETTINGS_NP"), out);
}
