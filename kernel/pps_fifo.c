// SPDX-License-Identifier: GPL-2.0
/*
 * kx_pps: NMEA line queue and the character device /dev/kx_pps.
 * (Added with the NMEA device.)
 */
#include "kx_pps.h"
