// nmeafeed: reads the GPS receiver's NMEA lines from /dev/kx_pps, publishes
// satellites, position and altitude in /var/volatile/rundata and feeds the
// NTP daemon through the shared-memory reference clock. Runs until killed.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "gps_reset.h"
#include "kx_path.h"
#include "line_assembly.h"
#include "nmeafeed.h"
#include "ntp_shm.h"

namespace {

int nmea_fd = -1;
line_assembly assembly;

// The kernel module may not be loaded yet: try every second until it is.
void open_nmea_source(const std::string &path)
{
	for (;;) {
		printf("Starting nmeafeed: opening port %s.\n", path.c_str());
		nmea_fd = open(path.c_str(), O_RDONLY);
		if (nmea_fd < 0)
			printf("failed to open nmea source %s", path.c_str());
		sleep(1);
		if (nmea_fd >= 0)
			return;
	}
}

} // namespace

int main()
{
	kx_unbuffered_output();
	nmea_fd = -1;
	line_assembly_reset(&assembly);
	nmeafeed_reset_state();

	request_gps_reset();
	ntp_shm_setup();
	open_nmea_source(kx_path("/dev/kx_pps"));

	// One byte per read: the device hands out lines in arbitrary pieces.
	for (;;) {
		char byte;
		if (read(nmea_fd, &byte, 1) < 1) {
			printf("failed to read from nmea source");
			continue;
		}
		const char *line = line_assembly_push(&assembly, byte);
		if (line != nullptr) {
			handle_line(line);
			line_assembly_reset(&assembly);
		}
	}
}
