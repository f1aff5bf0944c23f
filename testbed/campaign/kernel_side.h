/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The kx_pps module loaded on the host layer with the board around it and
 * the receiver UART bound, in virtual time: what the campaign does to it
 * (pulses, received bytes, work runs) and what it reads back (the label
 * handed over with a pulse, time records, the published fix, clock steps,
 * the bytes of /dev/kx_pps). Plain types only, for the C++ side.
 */
#ifndef KERNEL_SIDE_H
#define KERNEL_SIDE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* module loaded, UART bound, /dev/kx_pps open; CLOCK_REALTIME = real_ns */
void ks_load(int64_t real_ns);
void ks_unload(void);

int64_t ks_mono_ns(void);
int64_t ks_real_ns(void);
void ks_set_real_ns(int64_t real_ns);
/* the virtual clock moves forward to mono_ns (timers fire on the way) */
void ks_advance_to(int64_t mono_ns);

/*
 * A pulse edge now. Returns 1 and the label when a GPS second was pending
 * for it (what the interrupt hands to the system-clock setter), else 0.
 */
int ks_pulse(int64_t *label);

/*
 * Bytes from the receiver through the serial bus's receive callback. The
 * receive work runs on the system queue in order, or (other_worker) on a
 * second worker of that queue at once, ahead of work queued before it.
 */
void ks_receive(const uint8_t *data, size_t len, int other_worker);

/* every queue runs until all are empty (the clock setter, the LED, the DAC,
 * the NMEA timeout monitor) */
void ks_run_work(void);

/* successful system-clock settings so far */
unsigned int ks_clock_steps(void);

/* a record taken from time channel idx as a PHY thread takes it: 1 when one waited */
int ks_take_record(int idx, int64_t *gps_sec, int32_t *fix);

/* gGPSFix */
int32_t ks_published_fix(void);

/* bytes waiting in /dev/kx_pps, read without blocking */
size_t ks_read_nmea(uint8_t *buf, size_t cap);

/*
 * One ZDA line through the module's parser alone (no second evaluated):
 * the label it gives the next pulse, or INT64_MIN when it is refused.
 */
int64_t ks_zda_label(const char *line, size_t len);

/* drop the host layer's records (log, bus transfers, UART writes) */
void ks_forget(void);

#ifdef __cplusplus
}
#endif

#endif
