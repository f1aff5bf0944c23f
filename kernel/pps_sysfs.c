// SPDX-License-Identifier: GPL-2.0
/*
 * kx_pps: control attributes under /sys/pps_filter.
 * (Added with the attributes.)
 */
#include "kx_pps.h"
