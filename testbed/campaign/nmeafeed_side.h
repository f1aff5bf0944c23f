/* SPDX-License-Identifier: GPL-2.0 */
/*
 * nmeafeed's own units (line assembly, dispatch, the ZDA work writing the
 * NTP segment's record) for a C campaign: the bytes of /dev/kx_pps go in,
 * the samples nmeafeed writes come out. The module's state is mirrored
 * where nmeafeed reads it, under a private $KX_ROOT.
 */
#ifndef NMEAFEED_SIDE_H
#define NMEAFEED_SIDE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* a fresh $KX_ROOT with the attribute files and /dev/pps-kx; 0 or -1 */
int nf_start(void);
/* the run data removed */
void nf_stop(void);
/* the module's gpsfix, timeknown, gnss_state and gnss_reason for nmeafeed */
void nf_module_state(int fix, int time_known, const char *gnss_state, const char *gnss_reason);
/* bytes of /dev/kx_pps through nmeafeed; the samples written, the last one's second */
unsigned int nf_feed(const uint8_t *data, size_t len, int64_t *sample_sec);

#ifdef __cplusplus
}
#endif

#endif
