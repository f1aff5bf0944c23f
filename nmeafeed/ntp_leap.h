// Whether the appliance vouches for the time of its NTP samples.
#pragma once

#include <cstdint>

#include "kx_state.h"

// Leap indicator values of an NTP sample.
constexpr int32_t kLeapNone = 0;
constexpr int32_t kLeapNotSynchronised = 3;

// The leap indicator for the next sample. 3 (not synchronised) while the
// kx-pps module has its pulse source (/dev/pps-kx) and says the time is not
// known (/sys/pps_filter/timeknown reads 0: no GPS time since it was loaded,
// or the fix lost for longer than the holdover limit); chronyd drops such
// samples, and ntpgate makes it drop what it holds. 0 otherwise, also when
// the module or its pulse source is missing: the receiver's sentences alone
// then give the time, as they always did.
int32_t ntp_sample_leap();
// The same for a state already read (one reading serves the whole second).
int32_t ntp_sample_leap(const KxModuleState &state);
