// SPDX-License-Identifier: GPL-2.0
/*
 * 25 MHz VCXO model: see kx_osc.h. Shared by the timing hardware model under qemu (kernel)
 * and the simulated board (user space); integer arithmetic only.
 */
#include "kx_osc.h"

/* 1e-15 of 25,000,000 cycles: a whole cycle is this many units */
#define KX_OSC_UNITS_PER_CYCLE 40000000LL

void kx_osc_init(struct kx_osc *o, s64 offset, u64 seed)
{
	*o = (struct kx_osc){
		.offset = offset,
		.slope = KX_OSC_SLOPE,
		.dac_code = KX_OSC_MIDSCALE,
		.rng = seed ? seed : 0x9E3779B97F4A7C15ULL,
	};
}

void kx_osc_set_dac(struct kx_osc *o, u16 code)
{
	o->dac_code = code;
}

/* triangle wave of period temp_period and peak temp_amp, starting at 0 */
static s64 kx_osc_temperature(const struct kx_osc *o)
{
	u64 p = o->temp_period, t;
	s64 quarter;

	if (!p || !o->temp_amp)
		return 0;
	t = o->seconds % p;
	quarter = (s64)(p / 4) ? (s64)(p / 4) : 1;
	if (t < p / 4)
		return o->temp_amp * (s64)t / quarter;
	if (t < 3 * p / 4)
		return o->temp_amp - o->temp_amp * (s64)(t - p / 4) / quarter;
	return -o->temp_amp + o->temp_amp * (s64)(t - 3 * p / 4) / quarter;
}

/* the fractional frequency error in force now, 1e-15 */
s64 kx_osc_error(const struct kx_osc *o)
{
	return o->offset + o->slope * ((s64)o->dac_code - KX_OSC_MIDSCALE) +
	       o->walk + kx_osc_temperature(o);
}

static u64 kx_osc_random(struct kx_osc *o)
{
	u64 x = o->rng;

	x ^= x << 13;
	x ^= x >> 7;
	x ^= x << 17;
	o->rng = x;
	return x;
}

/*
 * One second of the oscillator: advances TPM4's counter by the cycles made
 * in it and returns them. Fractions of a cycle carry over to the next
 * second, so the mean count is exact over any span.
 */
u32 kx_osc_second(struct kx_osc *o)
{
	s64 whole;
	u32 cycles;

	o->residue += kx_osc_error(o);
	/* floor division: the residue stays in [0, one cycle) */
	whole = o->residue / KX_OSC_UNITS_PER_CYCLE;
	if (o->residue - whole * KX_OSC_UNITS_PER_CYCLE < 0)
		whole--;
	o->residue -= whole * KX_OSC_UNITS_PER_CYCLE;
	cycles = (u32)(KX_OSC_NOMINAL + whole);
	o->counter += cycles;

	if (o->walk_step) {
		u64 r = kx_osc_random(o) % (2 * (u64)o->walk_step + 1);

		o->walk += (s64)r - o->walk_step;
	}
	o->seconds++;
	return cycles;
}
