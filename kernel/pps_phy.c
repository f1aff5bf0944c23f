// SPDX-License-Identifier: GPL-2.0
/*
 * kx_pps: PHY clock alignment and system-time setting.
 * (The alignment threads and the clock setter are added with the PHY work;
 * gps_time_workfn does nothing until then.)
 */
#include "kx_pps.h"

s32 tai_offset_value = 37;
s32 gDelta_eth0;
s32 gDelta_eth1;

DECLARE_WORK(gps_time_work, gps_time_workfn);

void gps_time_workfn(struct work_struct *work)
{
}
