// SPDX-License-Identifier: GPL-2.0
/*
 * kx_pps: GPS time of day from the receiver's GGA and ZDA sentences.
 * (The sentence handling is added with the serial GPS link.)
 */
#include "kx_pps.h"

struct gps_time gGPSTime = {
	.lock = __SPIN_LOCK_UNLOCKED(gGPSTime.lock),
};
s32 gGPSFix;
