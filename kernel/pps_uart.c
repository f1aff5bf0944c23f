// SPDX-License-Identifier: GPL-2.0
/*
 * kx_pps: serial GPS link (serdev client of the receiver's UART).
 * (The driver is added with the serial GPS link.)
 */
#include "kx_pps.h"

s32 gGPSMode;
bool gSetGPSMode;
