// What the kx_pps module shows: the discipline loop and the GPS state in
// its attributes under /sys/pps_filter, the loop's last captured count in
// its parameter last_count (/sys/module/kx_pps/parameters), and the pulses it has reported to
// LinuxPPS (the source named "kx-pps" under /sys/class/pps), and its GNSS
// integrity guard's decision, reason and counters.
#pragma once

#include "prom_text.h"

void collect_kernel_metrics(prom_text &out);
