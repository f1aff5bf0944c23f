#include "ptp_metrics.h"

#include "kx_ptp.h"

void collect_ptp_metrics(prom_text &out)
{
	for (const char *name : kKxPtpPorts) {
		KxPtpPort port;
		KxPtpSettings s;
		if (!kx_ptp_port(name, &port) || !kx_ptp_get(port, &s))
			continue;
		prom_add(out, "kx_ptp_clock_class", "gauge",
		         "clockClass the port's PTP grandmaster announces: 6 locked to GPS, "
		         "7 holdover, 248 not traceable",
		         s.clock_class, {{"port", name}});
		prom_add(out, "kx_ptp_time_traceable", "gauge",
		         "1 while the port's PTP grandmaster announces its time traceable",
		         s.time_traceable ? 1 : 0, {{"port", name}});
	}
}
