// What the daemons publish in /var/volatile/rundata: nmeafeed's satellite
// files (satellites used, the per-system satellite and SNR lists) and
// panelmon's antenna monitor and AD9544 clock-chip files.
#pragma once

#include "prom_text.h"

// Both daemons rewrite their files every second; a file older than this
// has lost its writer and its values are left out.
inline constexpr double STATUS_FILE_MAX_AGE = 15.0;

void collect_rundata_metrics(prom_text &out);
