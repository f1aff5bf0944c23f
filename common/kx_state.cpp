#include "kx_state.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "kx_file.h"
#include "kx_path.h"

namespace {

// The first line of an attribute, without its line end; empty when the file
// cannot be read.
std::string attribute(const char *name)
{
	std::string path = kx_path("/sys/pps_filter/") + name;
	unique_fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
	if (!fd.valid())
		return {};
	char buf[64];
	ssize_t n = read(fd.get(), buf, sizeof buf - 1);
	if (n <= 0)
		return {};
	buf[n] = '\0';
	buf[strcspn(buf, "\r\n")] = '\0';
	return buf;
}

int number_attribute(const char *name)
{
	std::string text = attribute(name);
	if (text.empty())
		return -1;
	char *end = nullptr;
	long v = strtol(text.c_str(), &end, 10);
	return *end == '\0' && v >= 0 && v < 1000 ? static_cast<int>(v) : -1;
}

KxGnss gnss_word(const std::string &word)
{
	if (word == "off")
		return KxGnss::off;
	if (word == "qualifying")
		return KxGnss::qualifying;
	if (word == "trusted")
		return KxGnss::trusted;
	if (word == "suspect")
		return KxGnss::suspect;
	return KxGnss::absent;
}

} // namespace

KxModuleState kx_read_module_state()
{
	KxModuleState s;
	s.module = access(kx_path("/sys/pps_filter").c_str(), F_OK) == 0;
	s.pulse_source = access(kx_path("/dev/pps-kx").c_str(), F_OK) == 0;
	if (!s.module)
		return s;
	s.fix = number_attribute("gpsfix");
	s.time_known = number_attribute("timeknown");
	s.gnss = gnss_word(attribute("gnss_state"));
	s.gnss_reason = attribute("gnss_reason");
	s.tai_offset = number_attribute("tai_offset");
	return s;
}

KxService kx_service_state(const KxModuleState &s)
{
	// Without the pulse source the module never knows the time (it needs a
	// pulse after a GPS time), yet the sentences still give the time of day.
	if (!s.pulse_source)
		return KxService::sentences;
	// Nothing readable says the time is unknown: serve as the sentences do.
	if (s.time_known < 0)
		return KxService::sentences;
	if (s.time_known == 0)
		return KxService::unsynchronised;
	if (s.fix > 0 && s.gnss != KxGnss::suspect)
		return KxService::synchronised;
	return KxService::holdover;
}
