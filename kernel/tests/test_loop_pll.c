// SPDX-License-Identifier: GPL-2.0
/*
 * The phase-and-frequency loop (loop_mode=1) under 10^6 random events:
 * captures near and far from the nominal count, lost pulses, counter
 * wraps, overflow interrupts, pauses, resumes, seed writes, the fix lost
 * and back, DAC work runs. After every event the loop's state stays in its
 * bounds (no overflow, also under the sanitizers), a frozen loop (paused,
 * or in holdover) leaves every output alone, and every DAC write is the
 * code of the correction then published. How the loop locks and holds
 * against the oscillator is tests/test_loop_bench.py's.
 */
#include <stdio.h>

#include "kx_fixture.h"
#include "ktest.h"

#define EVENTS 1000000

static u64 rng = 0xD1B54A32D192ED03ULL;

static u64 next(void)
{
	return ktest_rand(&rng);
}

static s64 below(s64 n)
{
	return ktest_below(&rng, n);
}

static u32 random_count(u32 old)
{
	s64 r = below(1000);

	if (r < 900)
		return old + 25000000 + (u32)(below(240) - 120);
	if (r < 940)
		return old + 50000000 + (u32)(below(240) - 120);	/* a lost pulse */
	if (r < 970)
		return old + (u32)next();
	return 0xFFFFFFFFu - (u32)below(25000000);
}

struct outputs {
	s64 filtered, integ, prv;
	s32 kount;
};

static struct outputs outputs(void)
{
	return (struct outputs){ filtered_integ, integ_fp, prv_integ_fp, filt_kount };
}

static int same_outputs(struct outputs a, struct outputs b)
{
	return a.filtered == b.filtered && a.integ == b.integ && a.prv == b.prv &&
	       a.kount == b.kount;
}

static int in_bounds(void)
{
	return filtered_integ >= -KX_INTEG_LIMIT && filtered_integ <= KX_INTEG_LIMIT &&
	       integ_fp >= -KX_INTEG_LIMIT && integ_fp <= KX_INTEG_LIMIT &&
	       pps_pll.phase >= -(1LL << 24) && pps_pll.phase <= 1LL << 24 &&
	       pps_pll.shift >= 4 && pps_pll.shift <= 7;
}

KTEST(phase_loop_keeps_its_bounds_and_freezes_when_it_must)
{
	unsigned long i, holds = 0, dac_runs = 0, frozen_pulses = 0;
	u32 old = 0;

	loop_mode = PPS_LOOP_PLL;
	fx_board();
	fx_probed();
	gps_time_set = 1;
	printf("seed %#llx, %d events\n", (unsigned long long)rng, EVENTS);
	for (i = 0; i < EVENTS; i++) {
		s64 what = below(1000);
		struct outputs before = outputs();
		int frozen = filter_pause || (pps_pll.hold && !initial_calc);

		if (what < 950) {
			old = random_count(old);
			fx_pulse(old);
			if (frozen && !same_outputs(before, outputs())) {
				ktest_fail(__FILE__, __LINE__, "event %lu: a pulse moved a frozen loop", i);
				return;
			}
			frozen_pulses += frozen;
		} else if (what < 955) {
			fx_overflow();
		} else if (what < 965) {
			filter_pause = below(2);
			if (!filter_pause)
				initial_calc = true;
		} else if (what < 970) {
			new_prv_integ_fp = (s64)next() >> below(40);
			initial_calc = true;
		} else if (what < 985) {
			int was = pps_pll.hold;

			pps_holdover_update(below(4) ? 1 : 0);
			holds += !was && pps_pll.hold;
			if (was && !pps_pll.hold && (pps_pll.phase || pps_pll.shift != 4)) {
				ktest_fail(__FILE__, __LINE__, "event %lu: the phase did not restart", i);
				return;
			}
		} else {
			if (kxh_wq_run(dac_workq)) {
				dac_runs++;
				if (fx_dac_code(fx_dac_writes() - 1) != pps_dac_code(filtered_integ)) {
					ktest_fail(__FILE__, __LINE__, "event %lu: DAC code %#x for %lld", i,
						   fx_dac_code(fx_dac_writes() - 1), filtered_integ);
					return;
				}
			}
			kxh_i2c_clear();
			kxh_wq_run_all();
		}
		if (!in_bounds()) {
			ktest_fail(__FILE__, __LINE__, "event %lu: integ %lld phase %lld shift %u", i,
				   filtered_integ, pps_pll.phase, pps_pll.shift);
			return;
		}
	}
	printf("%d accepted since the last read, %lu holds, %lu frozen pulses, %lu DAC runs\n",
	       filt_kount, holds, frozen_pulses, dac_runs);
	KT_TRUE(holds > 1000);
	KT_TRUE(frozen_pulses > 10000);
	KT_TRUE(dac_runs > 1000);
}

/*
 * The phase is the sum of the counts against nominal: a lost pulse's count
 * spans two seconds and both go into the phase; an extra edge splits a
 * second in two counts that fit neither and are left out, as a count far
 * off is.
 */
KTEST(a_lost_pulse_keeps_the_phase_whole)
{
	u32 c = 1000;
	s64 before;
	int i;

	loop_mode = PPS_LOOP_PLL;
	fx_board();
	fx_pulse(c);				/* re-seed */
	for (i = 0; i < 16; i++)		/* the frequency measurement */
		fx_pulse(c += 25000003);
	KT_TRUE(!pps_pll.fresh);
	KT_EQ(pps_pll.phase, 0);
	fx_pulse(c += 25000002);
	fx_pulse(c += 2 * 25000000 - 5);	/* a pulse lost: two seconds */
	KT_EQ(pps_pll.phase, 2 - 5);
	before = pps_pll.phase;
	fx_pulse(c += 12000000);		/* an extra edge */
	fx_pulse(c += 13000001);
	fx_pulse(c += 25000000 + 500);		/* far off */
	KT_EQ(pps_pll.phase, before);
	fx_pulse(c += 25000001);
	KT_EQ(pps_pll.phase, before + 1);
}

/*
 * The time constant doubles after 4 time constants in tolerance, from
 * 16 s to 128 s, and a frequency step that carries the phase away brings
 * it back to 16 s at once; so does the fix's return after a holdover.
 */
KTEST(time_constant_lengthens_in_lock_and_shortens_on_a_disturbance)
{
	u32 c = 1000;
	int i;

	loop_mode = PPS_LOOP_PLL;
	fx_board();
	gps_time_set = 1;
	fx_pulse(c);
	for (i = 0; i < 16 + 4 * (16 + 32 + 64) - 1; i++)
		fx_pulse(c += 25000000);
	KT_EQ(pps_pll.shift, 6);
	fx_pulse(c += 25000000);
	KT_EQ(pps_pll.shift, 7);
	for (i = 0; i < 4 * 128 && pps_pll.shift == 7; i++)
		fx_pulse(c += 25000003);		/* a step of 1.2e-7 */
	KT_EQ(pps_pll.shift, 4);
	KT_TRUE(i > 15 && i < 30);			/* the phase passed 64 cycles */
	pps_pll.shift = 7;
	pps_holdover_update(0);
	KT_TRUE(pps_pll.hold);
	pps_holdover_update(1);
	KT_TRUE(!pps_pll.hold);
	KT_EQ(pps_pll.shift, 4);
	KT_EQ(pps_pll.phase, 0);
}
