// nmeafeed: reads the GPS receiver's NMEA lines from /dev/kx_pps, publishes
// satellites, position and altitude in /var/volatile/rundata and feeds the
// NTP daemon through the shared-memory reference clock. Runs until killed.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "gps_reset.h"
#include "kx_file.h"
#include "kx_path.h"
#include "line_assembly.h"
#include "nmeafeed.h"
#include "ntp_shm.h"

namespace {

// The device hands out at most 256 bytes per read.
constexpr size_t kReadSize = 256;

line_assembly assembly;

// The kernel module may not be loaded yet: try every second until it is.
unique_fd open_nmea_source(const std::string &path)
{
	for (;;) {
		printf("Starting nmeafeed: opening port %s.\n", path.c_str());
		unique_fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
		if (!fd.valid())
			printf("failed to open nmea source %s", path.c_str());
		sleep(1);
		if (fd.valid())
			return fd;
	}
}

} // namespace

int main()
{
	kx_unbuffered_output();
	line_assembly_reset(&assembly);
	nmeafeed_reset_state();

	request_gps_reset();
	ntp_shm_setup();
	const std::string path = kx_path("/dev/kx_pps");
	unique_fd source = open_nmea_source(path);

	// The device hands out lines in arbitrary pieces; each piece is taken
	// byte by byte.
	for (;;) {
		char chunk[kReadSize];
		ssize_t n = read(source.get(), chunk, sizeof chunk);
		if (n < 1) {
			printf("failed to read from nmea source");
			if (n < 0 && errno == EINTR)
				continue;
			// End of data or a lasting error: reading again at once would
			// only fail again. Start over as at start-up, without the
			// piece of a line the old stream left.
			source.reset();
			source = open_nmea_source(path);
			line_assembly_reset(&assembly);
			continue;
		}
		for (ssize_t i = 0; i < n; i++) {
			size_t length = 0;
			const char *line = line_assembly_push(&assembly, chunk[i], &length);
			if (line != nullptr) {
				handle_line(line, length);
				line_assembly_reset(&assembly);
			}
		}
	}
}
