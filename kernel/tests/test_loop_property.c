// SPDX-License-Identifier: GPL-2.0
/*
 * Property: over 10^6 random events (captures near and far from the
 * nominal count, across the counter wrap, overflow interrupts, gain
 * changes over the whole s32 range, pauses, resumes and seed writes), the
 * module's loop state equals that of a straightforward model of the loop
 * written here with 128-bit arithmetic.
 */
#include <stdio.h>
#include <string.h>

#include "kx_fixture.h"
#include "ktest.h"

#define EVENTS 1000000

static u64 rng = 0x9E3779B97F4A7C15ULL;

static u64 next(void)
{
	return ktest_rand(&rng);
}

static s64 below(s64 n)
{
	return ktest_below(&rng, n);
}

/* the model */
struct model {
	s32 k1;
	int paused, seeding;
	s64 seed, prv, integ, filtered;
	s32 num, dec, kount;
	u32 old, cur;
	unsigned int dac_requests;
};

static s64 clamp128(__int128 v)
{
	const __int128 lim = (__int128)1 << 31;

	return (s64)(v > lim ? lim : v < -lim ? -lim : v);
}

static void model_capture(struct model *m, u32 count)
{
	/* cycles in the second: the counter's distance, modulo 2^32 */
	u64 n = ((u64)count + (1ULL << 32) - m->old) % (1ULL << 32);

	if (m->paused)
		return;
	m->cur = count;
	if (m->seeding) {
		m->seeding = 0;
		m->prv = m->seed;
		m->old = count;
		return;
	}
	if (n >= 25000000 - 99 && n <= 25000000 + 99) {
		__int128 e_fp = ((__int128)25000000 << 26) - ((__int128)n << 26);
		__int128 k1 = (__int128)m->k1 * 671;
		__int128 add = e_fp * k1;
		__int128 v;

		/* division by 2^26 truncating toward zero */
		add = add / ((__int128)1 << 26);
		v = (__int128)m->prv + add;
		m->integ = clamp128(v);
		m->filtered = m->integ;
		m->kount++;
		m->num = (s32)(m->integ / (1LL << 26));
		m->dec = (s32)((__int128)m->integ * 10000 / (1LL << 26)) - 10000 * m->num;
		m->dac_requests++;
		m->prv = m->integ;
	}
	m->old = count;
}

static int same(const struct model *m)
{
	return k1_hundred_thou_value == m->k1 && filter_pause == m->paused &&
	       initial_calc == m->seeding && new_prv_integ_fp == m->seed &&
	       prv_integ_fp == m->prv && integ_fp == m->integ &&
	       filtered_integ == m->filtered && integ_num == m->num &&
	       integ_dec == m->dec && filt_kount == m->kount &&
	       tpm4_counter_value_old == m->old && tpm4_counter_value_new == m->cur;
}

static s32 random_gain(void)
{
	switch (below(4)) {
	case 0:
		return (s32)next();			/* anything an attribute can store */
	case 1:
		return (s32)below(4000001) - 2000000;	/* up to the exact-product limit */
	default:
		return (s32)below(1001);		/* realistic */
	}
}

static s64 random_seed(void)
{
	switch (below(3)) {
	case 0:
		return (s64)next();
	default:
		return below(1LL << 33) - (1LL << 32);
	}
}

static u32 random_count(u32 old)
{
	s64 r = below(1000);

	if (r < 900)
		return old + 25000000 + (u32)(below(240) - 120);	/* near the window */
	if (r < 950)
		return old + (u32)next();				/* anything */
	if (r < 990)
		return 0xFFFFFFFFu - (u32)below(25000000);		/* just before a wrap */
	return old + 25000000 * 2;					/* a missed pulse */
}

KTEST(loop_matches_the_reference_model)
{
	struct model m = { .k1 = 200, .seeding = 1 };
	unsigned long i, dac_runs = 0;

	fx_board();
	fx_probed();
	printf("seed %#llx, %d events\n", (unsigned long long)rng, EVENTS);
	for (i = 0; i < EVENTS; i++) {
		s64 what = below(1000);

		if (what < 940) {
			u32 c = random_count(m.old);

			fx_pulse(c);
			model_capture(&m, c);
		} else if (what < 950) {
			fx_overflow();
		} else if (what < 970) {
			k1_hundred_thou_value = m.k1 = random_gain();
		} else if (what < 980) {
			/* pause store: 1 pauses, 0 resumes with a re-seed */
			m.paused = (int)below(2);
			filter_pause = m.paused;
			if (!m.paused) {
				m.seeding = 1;
				initial_calc = true;
			}
		} else if (what < 990) {
			/* seed store: re-seed from it at the next capture */
			m.seed = random_seed();
			new_prv_integ_fp = m.seed;
			m.seeding = 1;
			initial_calc = true;
		} else {
			/* the DAC work runs: it writes the model's code */
			if (kxh_wq_run(dac_workq)) {
				s64 x = m.filtered;
				u16 code = x > (1LL << 31) ? 0xFFFF : x < -(1LL << 31) ? 0 :
					   (u16)(0x7FFF + (s64)((__int128)x * 65535 / ((__int128)1 << 32)));

				dac_runs++;
				if (fx_dac_code(fx_dac_writes() - 1) != code) {
					ktest_fail(__FILE__, __LINE__, "event %lu: DAC code %#x, model %#x",
						   i, fx_dac_code(fx_dac_writes() - 1), code);
					return;
				}
			}
			kxh_i2c_clear();
			kxh_wq_run_all();
		}
		if (!same(&m)) {
			ktest_fail(__FILE__, __LINE__,
				   "event %lu: module integ %lld prv %lld num %d dec %d kount %d old %u;"
				   " model integ %lld prv %lld num %d dec %d kount %d old %u",
				   i, integ_fp, prv_integ_fp, integ_num, integ_dec, filt_kount,
				   tpm4_counter_value_old, m.integ, m.prv, m.num, m.dec, m.kount, m.old);
			return;
		}
		if (kxh_io_peek(fx_tpm4, TPM4_STATUS)) {
			ktest_fail(__FILE__, __LINE__, "event %lu: STATUS left %#x", i,
				   kxh_io_peek(fx_tpm4, TPM4_STATUS));
			return;
		}
	}
	printf("accepted %d pulses, %lu DAC runs checked, %u LinuxPPS events\n",
	       m.kount, dac_runs, kxh_pps_events(g_pps->pps_src));
	KT_TRUE(m.kount > EVENTS / 4);
	KT_TRUE(dac_runs > 1000);
}
