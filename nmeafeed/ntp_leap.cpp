// The module's judgement of its time, carried in every NTP sample: the
// module keeps time_known (fix present, or lost for less than the holdover
// limit); a site's NTP clients must stop following the appliance once the
// appliance itself no longer trusts its time.
#include "ntp_leap.h"

#include <fcntl.h>
#include <unistd.h>

#include "kx_file.h"
#include "kx_path.h"

int32_t ntp_sample_leap()
{
	// Without the pulse source the module never knows the time (it needs a
	// pulse after a GPS time), yet the sentences still give the time of day:
	// the service from them must not stop for that.
	if (access(kx_path("/dev/pps-kx").c_str(), F_OK) != 0)
		return kLeapNone;
	unique_fd fd(open(kx_path("/sys/pps_filter/timeknown").c_str(), O_RDONLY | O_CLOEXEC));
	if (!fd.valid())
		return kLeapNone;
	char c = 0;
	if (read(fd.get(), &c, 1) != 1)
		return kLeapNone;
	return c == '0' ? kLeapNotSynchronised : kLeapNone;
}
