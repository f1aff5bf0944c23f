// The GPS receiver's reset line: GPIO line 3 of /dev/gpiochip0, held by
// nmeafeed (consumer "gps_reset") for the life of the process.
#pragma once

#include <cstdint>

// Requests the line as an output driven active. 0 when held, -1 otherwise
// (after printing "Failed requesting line gps_reset").
int request_gps_reset();

// Drives the held line to level (0 inactive, 1 active). Does nothing when
// the line is not held.
void set_gps_reset(uint8_t level);
