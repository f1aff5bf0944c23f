// What each port's PTP grandmaster announces, asked of its ptp4l with pmc.
#pragma once

#include "prom_text.h"

// For each port with a grandmaster configuration whose ptp4l answers:
// kx_ptp_clock_class and kx_ptp_time_traceable, labelled with the port.
// A port whose ptp4l does not answer adds nothing (an alert on the absent
// series sees it).
void collect_ptp_metrics(prom_text &out);
