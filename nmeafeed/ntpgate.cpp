// ntpgate: chronyd gives up the appliance's time the moment the appliance
// stops vouching for it.
//
// The kx-pps module decides whether the time is known (time_known); the
// decision nmeafeed writes into every NTP sample, leap 3 while the pulse
// source exists and the module says the time is not known, is
// ntp_sample_leap() (ntp_leap.h), and ntpgate asks the same function.
// chronyd drops leap-3 samples, but it would go on answering its clients at
// stratum 1 from what it already holds, for as long as its own error bound
// allows: hours. While the module says the time is not known and chronyd
// still reports itself synchronised, ntpgate runs `chronyc reset sources`:
// chronyd drops its measurements and answers "not synchronised" (leap 3)
// until samples with leap 0 come back, when it takes the pulse again on its
// own. ntpgate reads the module itself rather than the samples: a silent
// receiver sends no sentences, so nmeafeed writes no samples, yet the
// module's holdover limit runs out all the same. ntpgate decides nothing
// itself; it checks once a second and runs until killed.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "kx_chronyc.h"
#include "kx_path.h"
#include "ntp_leap.h"

namespace {

// chronyd answers and calls itself synchronised: the last field of
// `chronyc -c tracking` is its leap status, "Not synchronised" when it is not.
// No answer (chronyd not running) counts as not synchronised.
bool chronyd_synchronised()
{
	std::string out;
	if (kx_chronyc({"tracking"}, &out) != 0)
		return false;
	std::string line = out.substr(0, out.find_first_of("\r\n"));
	size_t comma = line.rfind(',');
	if (comma == std::string::npos || comma + 1 == line.size())
		return false;
	return line.compare(comma + 1, std::string::npos, "Not synchronised") != 0;
}

} // namespace

int main()
{
	kx_unbuffered_output();
	for (;;) {
		if (ntp_sample_leap() == kLeapNotSynchronised && chronyd_synchronised()) {
			int rc = kx_chronyc({"reset", "sources"});
			printf("time not known: chronyd's measurements dropped (chronyc %s)\n",
			       rc == 0 ? "ok" : "failed");
		}
		sleep(1);
	}
}
