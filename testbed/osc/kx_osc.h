/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Model of the board's 25 MHz VCXO as TPM4 sees it: how many cycles it
 * makes in each GPS second, given its own offset, the tuning DAC's code,
 * a random walk and a slow temperature drift.
 *
 * Integer arithmetic only, so the same file runs inside a kernel module
 * (the timing hardware model under qemu, kx-timinghw.ko) and in user
 * space (the simulated board).
 *
 * Frequencies are fractional errors y = (f - 25 MHz) / 25 MHz in units of
 * 10^-15 (fs/s): 1 ppm is 1,000,000,000.
 *
 * Tuning slope. The DAC8571 drives the VCXO's control voltage over its
 * whole range; a typical 25 MHz VCXO pulls about +-10 ppm over that range,
 * so one of the 65,536 codes moves the frequency by 20 ppm / 65,536 =
 * 3.05e-10 (KX_OSC_SLOPE). With the loop's default gain (k1 = 200, about
 * 2.05 codes per count of error) that gives an open-loop gain of 0.0156 per
 * pulse: a first-order loop with a time constant of about 64 s, as a GPS
 * discipline loop for a VCXO should have. A higher code raises the
 * frequency, as the loop assumes.
 */
#ifndef KX_OSC_H
#define KX_OSC_H

#ifdef __KERNEL__
#include <linux/types.h>
#else
#include <stdint.h>
typedef int64_t s64;
typedef uint64_t u64;
typedef uint32_t u32;
typedef uint16_t u16;
#endif

#define KX_OSC_NOMINAL	25000000	/* cycles per second */
#define KX_OSC_PPM	1000000000LL	/* 1 ppm in 1e-15 */
#define KX_OSC_SLOPE	305176LL	/* 1e-15 per DAC code (20 ppm / 65536) */
#define KX_OSC_MIDSCALE	0x7FFF		/* the code for no correction */

struct kx_osc {
	/* settings */
	s64 offset;		/* free-running error at mid-scale */
	s64 slope;		/* per DAC code */
	s64 walk_step;		/* random-walk step per second (uniform +-) */
	s64 temp_amp;		/* temperature drift, peak (triangle wave) */
	u32 temp_period;	/* seconds per temperature cycle, 0 = none */
	u16 dac_code;		/* the DAC8571's output code */

	/* state */
	s64 walk;		/* accumulated random walk */
	s64 residue;		/* cycles not yet whole, in 1e-15 x 25e6 */
	u64 rng;		/* xorshift64 state, never 0 */
	u64 seconds;		/* seconds modelled so far */
	u32 counter;		/* TPM4's free-running 32-bit counter */
};

void kx_osc_init(struct kx_osc *o, s64 offset, u64 seed);
void kx_osc_set_dac(struct kx_osc *o, u16 code);
s64 kx_osc_error(const struct kx_osc *o);
u32 kx_osc_second(struct kx_osc *o);

#endif
