// The kx-pps module's judgement of its time, read once for every service.
//
// The module alone decides whether the appliance knows the time (fix, loop,
// holdover limit, GNSS integrity); the daemons that serve or show the time
// (nmeafeed's NTP samples, ntpgate, panelmon, kxmetrics, the PTP settings)
// read that decision here and never derive it again from the raw figures.
#pragma once

#include <string>

// What the module's GNSS integrity guard says of the receiver
// (/sys/pps_filter/gnss_state).
enum class KxGnss {
	absent,     // no such attribute (a module without the guard)
	off,        // the guard is switched off: the receiver is taken at its word
	qualifying, // not yet trusted for a whole qualifying period
	trusted,    // the receiver agrees with the appliance's own time scale
	suspect,    // the receiver disagrees: held over on the oscillator
};

// One reading of the module's attributes.
struct KxModuleState {
	bool module = false;       // /sys/pps_filter exists
	bool pulse_source = false; // the LinuxPPS source /dev/pps-kx exists
	int fix = -1;              // gpsfix: 0 none, 1 GPS, 2 differential; -1 unreadable
	int time_known = -1;       // timeknown: 1, 0; -1 unreadable
	KxGnss gnss = KxGnss::absent;
	std::string gnss_reason;   // gnss_reason: "none", "time", "phase", ...; empty when absent
	int tai_offset = -1;       // tai_offset: TAI minus UTC in seconds; -1 unreadable
};

KxModuleState kx_read_module_state();

// The state a client of any of the appliance's time services sees.
enum class KxService {
	sentences,      // no pulse source: the receiver's sentences alone give the time
	synchronised,   // locked to a trusted receiver
	holdover,       // fix lost or receiver suspect, within the holdover limit
	unsynchronised, // never known, or the holdover limit has run out
};

// The one mapping from the module's state to what the services announce.
KxService kx_service_state(const KxModuleState &state);
