// ntpgate: the appliance's time services announce what the appliance itself
// says of its time, and nothing better.
//
// The kx-pps module decides whether the time is known, held over or lost;
// kx_service_state() (kx_state.h) is the one mapping from the module's
// attributes to what a client of any service sees, and ntpgate applies it
// to both services once a second:
//
// NTP. The decision nmeafeed writes into every NTP sample, leap 3 while the
// service state is unsynchronised, is ntp_sample_leap() (ntp_leap.h).
// chronyd drops leap-3 samples, but it would go on answering its clients at
// stratum 1 from what it already holds, for as long as its own error bound
// allows: hours. While the state is unsynchronised and chronyd still
// reports itself synchronised, ntpgate runs `chronyc reset sources`:
// chronyd drops its measurements and answers "not synchronised" (leap 3)
// until samples with leap 0 come back, when it takes the pulse again on its
// own. ntpgate reads the module itself rather than the samples: a silent
// receiver sends no sentences, so nmeafeed writes no samples, yet the
// module's holdover limit runs out all the same.
//
// PTP. Each port's ptp4l (configuration /etc/linuxptp/kx-timeserver/
// ptp4l-ethN.conf) runs its PHY clock free, as the module keeps it on TAI;
// what it announces is kx_ptp_settings() (kx_ptp.h) of the same state, set
// with pmc's SET GRANDMASTER_SETTINGS_NP. ptp4l forgets it when it
// restarts, so ntpgate reads it back every second and sets it again
// whenever it differs. A port without its configuration, or whose ptp4l is
// not running, is left alone; each port's messages are printed once per
// change, not every second.
//
// ntpgate decides nothing itself; it runs until killed.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "kx_chronyc.h"
#include "kx_path.h"
#include "kx_state.h"
#include "ptp_gate.h"

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

void gate_ntp(KxService service)
{
	if (service == KxService::unsynchronised && chronyd_synchronised()) {
		int rc = kx_chronyc({"reset", "sources"});
		printf("time not known: chronyd's measurements dropped (chronyc %s)\n",
		       rc == 0 ? "ok" : "failed");
	}
}

const char *service_name(KxService s)
{
	switch (s) {
	case KxService::sentences:
		return "sentences only";
	case KxService::synchronised:
		return "synchronised";
	case KxService::holdover:
		return "holdover";
	case KxService::unsynchronised:
		return "unsynchronised";
	}
	return "?";
}

struct PortGate {
	const char *name;
	PtpPush last = PtpPush::kept;
};

void gate_ptp(PortGate &g, KxService service, const KxPtpSettings &want)
{
	KxPtpPort port;
	if (!kx_ptp_port(g.name, &port))
		return;
	PtpPush r = ptp_push(port, want);
	if (r == PtpPush::pushed)
		printf("%s: clock class %d announced (%s)\n", g.name, want.clock_class,
		       service_name(service));
	else if (r == PtpPush::failed && g.last != PtpPush::failed)
		printf("%s: ptp4l did not take clock class %d\n", g.name, want.clock_class);
	else if (r == PtpPush::unreachable && g.last != PtpPush::unreachable)
		printf("%s: no ptp4l answers\n", g.name);
	g.last = r;
}

} // namespace

int main()
{
	kx_unbuffered_output();
	PortGate ports[] = {{kKxPtpPorts[0]}, {kKxPtpPorts[1]}};
	for (;;) {
		KxModuleState module = kx_read_module_state();
		KxService service = kx_service_state(module);
		// PTP first: chronyc may take seconds when chronyd is silent
		KxPtpSettings want = kx_ptp_settings(service, module.tai_offset);
		for (PortGate &g : ports)
			gate_ptp(g, service, want);
		gate_ntp(service);
		sleep(1);
	}
}
