// nmeafeed's units for a C campaign (nmeafeed_side.h).
#include "nmeafeed_side.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "line_assembly.h"
#include "nmeafeed.h"
#include "ntp_shm.h"

static std::string root;
static line_assembly assembly{};
static shm_time segment{};

static void put(const std::string &name, const std::string &text)
{
	FILE *f = fopen((root + name).c_str(), "w");

	if (f) {
		fputs(text.c_str(), f);
		fclose(f);
	}
}

int nf_start(void)
{
	std::string tmpl = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";

	tmpl += "/kx-attack-XXXXXX";
	if (!mkdtemp(tmpl.data()))
		return -1;
	root = tmpl;
	setenv("KX_ROOT", root.c_str(), 1);
	std::filesystem::create_directories(root + "/var/volatile/rundata");
	std::filesystem::create_directories(root + "/sys/pps_filter");
	std::filesystem::create_directories(root + "/dev");
	/* the LinuxPPS source exists: chronyd has its pulse */
	put("/dev/pps-kx", "");
	line_assembly_reset(&assembly);
	nmeafeed_reset_state();
	shm_clear(&segment);
	ntp_shm = &segment;
	return 0;
}

void nf_stop(void)
{
	ntp_shm = nullptr;
	if (root.find("/kx-attack-") != std::string::npos)
		std::filesystem::remove_all(root);
}

void nf_module_state(int fix, int time_known, const char *gnss_state, const char *gnss_reason)
{
	put("/sys/pps_filter/gpsfix", std::to_string(fix) + "\n");
	put("/sys/pps_filter/timeknown", std::to_string(time_known) + "\n");
	put("/sys/pps_filter/gnss_state", std::string(gnss_state) + "\n");
	put("/sys/pps_filter/gnss_reason", std::string(gnss_reason) + "\n");
}

unsigned int nf_feed(const uint8_t *data, size_t len, int64_t *sample_sec)
{
	unsigned int samples = 0;

	for (size_t i = 0; i < len; i++) {
		size_t length = 0;
		int32_t count = segment.count;
		const char *line = line_assembly_push(&assembly, (char)data[i], &length);

		if (!line)
			continue;
		handle_line(line, length);
		line_assembly_reset(&assembly);
		if (segment.count != count) {
			samples++;
			*sample_sec = segment.clockTimeStampSec;
		}
	}
	return samples;
}
