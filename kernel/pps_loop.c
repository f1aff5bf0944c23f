// SPDX-License-Identifier: GPL-2.0
/*
 * kx_pps: the phase-and-frequency discipline loop, chosen at load with
 * loop_mode=1. The default, loop_mode=0, is the integrating loop of
 * pps_timer.c, which moves the DAC by k1 x the count error of each second.
 *
 * This loop steers the oscillator's phase. TPM4's counts summed against the
 * nominal 25,000,000 cycles give the VCXO's phase against the GPS pulse in
 * whole cycles (40 ns); the counter's resolution does not accumulate in the
 * sum. A proportional-integral controller on that phase makes a type-2
 * loop: a frequency offset leaves no phase error and a frequency ramp (the
 * room's temperature) no frequency error. With a time constant T = 2^shift
 * seconds and damping 1.5, each accepted pulse does
 *
 *     I -= G ph / T^2           x = I - 3 G ph_T / T
 *
 * with ph the phase in cycles (positive: the VCXO is ahead), ph_T the phase
 * averaged over T (the counter's one-cycle flicker kept out of the DAC) and
 * G the correction that moves the VCXO by one cycle per second (the DAC's
 * span of 2^32 pulls it by 20 ppm, 500 cycles per second). T is a power of
 * two, so the gains are shifts: no division in the interrupt.
 *
 * After a re-seed the loop measures the frequency over 16 s and sets I to
 * cancel it (pps_pll_acquire), then starts at T = 16 s for a quick
 * acquisition. After 4T consecutive seconds with the phase within PLL_TOL
 * cycles T doubles, up to 128 s: near there the VCXO's drift and the
 * pulse's noise (the counter's 40 ns) cross, and a longer T lets the
 * turn of a temperature ramp pull the frequency off by 1e-9 for minutes
 * (the damping, above critical, is there for those turns too).
 * A phase beyond PLL_DISTURB cycles (a frequency step, a lost lock) brings
 * T back to 16 s.
 *
 * Holdover: when the fix is lost (the holdover bookkeeping reports it) the
 * loop freezes and the DAC takes the loop's averaged frequency (the code
 * the VCXO ran on, averaged, see pps_pll_hold_value) instead of the last
 * pulse's code. When the fix returns the phase restarts from zero at
 * T = 16 s; I is kept.
 *
 * The loop's output goes through the same correction variables, DAC work
 * and figures (freqcorr, freqcorrdelta) as the integrating loop's.
 */
#include <linux/kernel.h>
#include <linux/moduleparam.h>
#include <linux/spinlock.h>

#include "kx_pps.h"

int loop_mode = PPS_LOOP_INTEGRATING;
module_param(loop_mode, int, 0444);
MODULE_PARM_DESC(loop_mode, "discipline loop: 0 integrating (default), 1 phase and frequency");

/* correction per cycle per second of VCXO frequency: 2^32 / 500 */
#define PLL_GAIN 8589935LL
/* seconds of frequency measurement after a re-seed: 2^PLL_ACQ_SHIFT */
#define PLL_ACQ_SHIFT 4
/* time constant 2^shift s: 16 s to acquire, up to 128 s locked */
#define PLL_SHIFT_MIN 4
#define PLL_SHIFT_MAX 7
/* seconds in tolerance, in units of T, before T doubles */
#define PLL_SETTLE 4
/* phase tolerance and disturbance limit, cycles */
#define PLL_TOL 8
#define PLL_DISTURB 64
/*
 * Fraction bits of the integrator and the averages. Values that may be
 * negative are scaled up by multiplying (a left shift of a negative value
 * is undefined) and down by an arithmetic right shift (a floor).
 */
#define PLL_FRAC 8
#define PLL_ONE (1LL << PLL_FRAC)
/* correction per DAC code (the code is the correction x 65535 / 2^32) */
#define PLL_X_PER_CODE 65537
/* the DAC's code for no correction */
#define PLL_CODE_ZERO 0x7FFF
/* the phase is held within +-2^24 cycles, so phase x G stays below 2^48 */
#define PLL_PHASE_LIMIT (1LL << 24)

static_assert(2 * PLL_SHIFT_MIN >= PLL_FRAC);

struct pps_pll pps_pll = { .shift = PLL_SHIFT_MIN, .fresh = true };
/* the pulse interrupt against the holdover report (receive worker, monitor) */
static DEFINE_SPINLOCK(pps_pll_lock);

static bool pps_pll_on(void)
{
	return READ_ONCE(loop_mode) == PPS_LOOP_PLL;
}

/* phase restarts from zero at the shortest time constant */
static void pps_pll_restart(void)
{
	pps_pll.phase = 0;
	pps_pll.phase_avg = 0;
	pps_pll.phase_f = 0;
	pps_pll.shift = PLL_SHIFT_MIN;
	pps_pll.good = 0;
}

/* re-seed (load, resume, prv_integ_fp store): the frequency is measured anew */
void pps_pll_reset(void)
{
	unsigned long flags;

	if (!pps_pll_on())
		return;
	spin_lock_irqsave(&pps_pll_lock, flags);
	pps_pll_restart();
	pps_pll.fresh = true;
	spin_unlock_irqrestore(&pps_pll_lock, flags);
}

/*
 * Cycles above nominal in the seconds since the reference, or false when
 * the count fits neither one second nor two (a pulse lost in between); an
 * extra edge splits a second in two counts that are both refused.
 */
static bool pps_pll_count_error(u32 n, s32 *err, u32 *seconds)
{
	u32 s;

	for (s = 1; s <= 2; s++) {
		u32 lo = s * KX_N0 - KX_WINDOW;

		if (n - lo <= 2 * KX_WINDOW) {
			*err = (s32)(n - s * KX_N0);
			*seconds = s;
			return true;
		}
	}
	return false;
}

/* T doubles after PLL_SETTLE x T s in tolerance; a disturbance resets it */
static void pps_pll_time_constant(void)
{
	s64 mag = abs(pps_pll.phase);

	if (mag > PLL_DISTURB) {
		pps_pll.shift = PLL_SHIFT_MIN;
		pps_pll.good = 0;
		return;
	}
	if (mag > PLL_TOL) {
		pps_pll.good = 0;
		return;
	}
	if (++pps_pll.good >= (PLL_SETTLE << pps_pll.shift) &&
	    pps_pll.shift < PLL_SHIFT_MAX) {
		pps_pll.shift++;
		pps_pll.good = 0;
	}
}

/* the proportional part, 3 G ph / T, for a phase in cycles << PLL_FRAC */
static s64 pps_pll_prop(s64 phase)
{
	return (3 * phase * PLL_GAIN) >> (pps_pll.shift + PLL_FRAC);
}

static s64 pps_pll_output(void)
{
	s64 x = (pps_pll.integ >> PLL_FRAC) - pps_pll_prop(pps_pll.phase_f);

	return clamp_t(s64, x, -KX_INTEG_LIMIT, KX_INTEG_LIMIT);
}

/*
 * Exponential average of the phase over 2^shift s. The counter's whole
 * cycles make the phase flicker by one between seconds; taken straight
 * into the proportional part at T = 128 s that flicker alone would move
 * the DAC by a code (3e-10) back and forth every few seconds.
 */
static void pps_pll_smooth(s64 *avg, s64 v, u32 shift)
{
	*avg += (v * PLL_ONE - *avg) >> shift;
}

/* one accepted count: err cycles more than nominal since the reference */
static s64 pps_pll_step(s32 err)
{
	const s64 ilim = KX_INTEG_LIMIT * PLL_ONE;
	s64 integ;

	pps_pll.phase = clamp_t(s64, pps_pll.phase + err,
				-PLL_PHASE_LIMIT, PLL_PHASE_LIMIT);
	pps_pll_time_constant();
	integ = pps_pll.integ -
		((pps_pll.phase * PLL_GAIN) >> (2 * pps_pll.shift - PLL_FRAC));
	pps_pll.integ = clamp_t(s64, integ, -ilim, ilim);
	pps_pll_smooth(&pps_pll.phase_f, pps_pll.phase, pps_pll.shift);
	pps_pll_smooth(&pps_pll.phase_avg, pps_pll.phase, pps_pll.shift - 1);
	return pps_pll_output();
}

/*
 * After a re-seed the loop first measures: the VCXO runs 2^PLL_ACQ_SHIFT
 * seconds on the DAC's present correction, and the phase it gathers gives
 * its frequency error to 1/16 cycle per second (2.5e-9), where a single
 * count gives 4e-8 and a DAC write landing late would blur it. That
 * correction less the error x G starts the integrator; the phase restarts
 * from zero. While measuring, each accepted pulse puts out the present
 * correction unchanged: the DAC is rewritten with the code it holds, as
 * every accepted pulse writes it, and the VCXO does not move.
 */
static s64 pps_pll_acquire(s32 err)
{
	s64 x = READ_ONCE(filtered_integ);

	pps_pll.phase += err;
	if (++pps_pll.good < (1U << PLL_ACQ_SHIFT))
		return x;
	x -= (pps_pll.phase * PLL_GAIN) >> PLL_ACQ_SHIFT;
	x = clamp_t(s64, x, -KX_INTEG_LIMIT, KX_INTEG_LIMIT);
	pps_pll.integ = x * PLL_ONE;
	pps_pll.code_avg = ((s64)pps_dac_code(x) - PLL_CODE_ZERO) * PLL_ONE;
	pps_pll.fresh = false;
	pps_pll_restart();
	return x;
}

/*
 * A capture while the loop runs (not a re-seed), n cycles after the
 * reference; the caller has moved the reference. From the pulse interrupt.
 */
void pps_pll_capture(u32 n)
{
	unsigned long flags;
	u32 seconds;
	s32 err;
	s64 x;

	if (!pps_pll_count_error(n, &err, &seconds))
		return;
	spin_lock_irqsave(&pps_pll_lock, flags);
	if (pps_pll.hold || (pps_pll.fresh && seconds != 1)) {
		spin_unlock_irqrestore(&pps_pll_lock, flags);
		return;
	}
	x = pps_pll.fresh ? pps_pll_acquire(err) : pps_pll_step(err);
	/* what the VCXO will run on: the code, averaged like the phase */
	pps_pll_smooth(&pps_pll.code_avg, (s64)pps_dac_code(x) - PLL_CODE_ZERO,
		       pps_pll.shift - 1);
	pps_loop_output(x);
	spin_unlock_irqrestore(&pps_pll_lock, flags);
}

/*
 * The averaged frequency, from the holdover report. The loop keeps the VCXO
 * between two neighbouring codes, flipping between them so that the
 * frequency averages out right; holding either one for half an hour
 * would be up to a code (3e-10, 550 ns) off. So the hold takes the code
 * the VCXO ran on on average over the last T/2, plus the drift over that
 * lag (the integrator's slope, -G ph / T^2 per second, from the phase
 * averaged alike), rounded to the nearest code; the correction returned
 * is that code's middle, so the DAC's truncation lands on it.
 */
static s64 pps_pll_hold_value(void)
{
	s64 lag = -((pps_pll.phase_avg * PLL_GAIN) >> (pps_pll.shift + 1 + PLL_FRAC));
	s64 code = (pps_pll.code_avg * PLL_X_PER_CODE) >> PLL_FRAC;
	s64 x = code + lag;
	s64 half = (x >= 0 ? 1 : -1) * (PLL_X_PER_CODE / 2);
	/* nearest code: x / 65537 is the DAC's x * 65535 / 2^32 */
	s64 k = ((x + half) * 65535) / (1LL << 32);

	x = k * PLL_X_PER_CODE + (k > 0 ? 1 : k < 0 ? -1 : 0) * (PLL_X_PER_CODE / 2);

	return clamp_t(s64, x, -KX_INTEG_LIMIT, KX_INTEG_LIMIT);
}

/*
 * From the holdover bookkeeping, once a GPS time has been set: once per GPS
 * second, and every 5 s from the NMEA timeout monitor while the receiver is
 * silent (no fix then). Without a fix the loop freezes and the DAC holds
 * the averaged frequency (a loop that has not acquired yet leaves the DAC
 * alone); the first second with a fix again restarts the phase.
 */
void pps_pll_fix(bool fix)
{
	unsigned long flags;
	s64 x;

	if (!pps_pll_on())
		return;
	spin_lock_irqsave(&pps_pll_lock, flags);
	if (!fix && !pps_pll.hold) {
		pps_pll.hold = true;
		if (!pps_pll.fresh) {
			x = pps_pll_hold_value();
			WRITE_ONCE(filtered_integ, x);
			pps_set_integ_parts(x);
			pps_dac_queue();
		}
	} else if (fix && pps_pll.hold) {
		pps_pll.hold = false;
		pps_pll_restart();
	}
	spin_unlock_irqrestore(&pps_pll_lock, flags);
}
