// chronyd's tracking report, taken from `chronyc -n -c tracking` over
// chronyd's command socket (/run/chrony/chronyd.sock).
#pragma once

#include "prom_text.h"

#include <string>
#include <string_view>

// Adds the tracking series from one CSV line of `chronyc -c tracking`
// (fourteen fields); a line of another shape adds nothing.
void add_chrony_tracking(prom_text &out, std::string_view csv_line);

// Runs chronyc (kx_chronyc) and adds its tracking report. Without
// chronyd, or when chronyc does not answer within a few seconds, nothing is
// added.
void collect_chrony_metrics(prom_text &out);
