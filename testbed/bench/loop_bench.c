// SPDX-License-Identifier: GPL-2.0
/*
 * The discipline loop against the VCXO model, in virtual time: the whole
 * module is loaded on the host layer, the oscillator model (testbed/osc/kx_osc)
 * clocks TPM4 and listens to the DAC, and every GPS second becomes one
 * capture interrupt. 10^5 pulses take seconds, and the run is exactly
 * repeatable from its seed.
 *
 * Each second: the oscillator advances TPM4's counter by the cycles it made
 * (a counter overflow interrupt first when the counter wrapped), channel 2
 * captures the counter and the interrupt runs, then the queued work runs
 * (the DAC write lands before the next pulse) and every DAC8571 update on
 * adapter 1 at 0x4C retunes the oscillator. One CSV row per pulse, format in
 * bench/README.md.
 *
 *   kx_loop_bench [--pulses N] [--offset PPM] [--seed S] [--walk E15]
 *                 [--temp-amp E15] [--temp-period S] [--k1 K] [--free-run]
 *                 [--loop-mode M] [--holdover S] [--csv FILE]
 *
 * --free-run: the same oscillator with its DAC held at mid-scale (the
 * module's DAC messages go nowhere), the reference for the Allan deviation.
 * --loop-mode: the module parameter loop_mode (0 integrating, the default;
 * 1 phase and frequency). --holdover S: after the pulses the fix is lost
 * for S seconds (the holdover bookkeeping runs every second, no pulse
 * comes) and the oscillator's time error over them is printed.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kx_board.h"
/* the model in its kernel form, on the host layer's <linux/types.h> */
#define __KERNEL__
#include "kx_osc.h"
#undef __KERNEL__

/*
 * Defaults, a VCXO in an equipment room (see bench/README.md): a random walk
 * of frequency of 2e-12 per second (uniform step), and the room's daily
 * temperature cycle moving the frequency by +-1e-7.
 */
#define DEF_PULSES	100000L
#define DEF_WALK	2000LL
#define DEF_TEMP_AMP	100000000LL
#define DEF_TEMP_PERIOD	86400L

#define DAC8571_MSG_LEN 3

struct bench_opts {
	long pulses;
	s64 offset;		/* 1e-15 */
	u64 seed;
	s64 walk, temp_amp;
	long temp_period;
	int set_k1;		/* else the module's default gain */
	long long k1;
	int free_run;
	int loop_mode;
	long holdover;		/* seconds without fix after the pulses */
	const char *csv;
};

struct bench_stats {
	unsigned long dac_updates;	/* messages that retuned the oscillator */
	unsigned long dac_other;	/* messages to the DAC that were not an update */
	unsigned long overflows;
};

static void usage(void)
{
	fprintf(stderr,
		"usage: kx_loop_bench [--pulses N] [--offset PPM] [--seed S] [--walk E15]\n"
		"                     [--temp-amp E15] [--temp-period S] [--k1 K] [--free-run]\n"
		"                     [--loop-mode M] [--holdover S] [--csv FILE]\n");
	exit(2);
}

static long long num_arg(const char *opt, const char *text)
{
	char *end;
	long long v = strtoll(text, &end, 0);

	if (end == text || *end) {
		fprintf(stderr, "%s: not a number: %s\n", opt, text);
		usage();
	}
	return v;
}

/* ppm as a decimal text (e.g. "-3" or "0.25") to 1e-15, rounded */
static s64 ppm_arg(const char *text)
{
	char *end;
	double v = strtod(text, &end);

	if (end == text || *end || v < -50.0 || v > 50.0) {
		fprintf(stderr, "--offset: not an offset in ppm within +-50: %s\n", text);
		usage();
	}
	v *= (double)KX_OSC_PPM;
	return (s64)(v < 0 ? v - 0.5 : v + 0.5);
}

static void parse_args(int argc, char **argv, struct bench_opts *o)
{
	int i;

	*o = (struct bench_opts){
		.pulses = DEF_PULSES, .offset = KX_OSC_PPM, .seed = 1,
		.walk = DEF_WALK, .temp_amp = DEF_TEMP_AMP, .temp_period = DEF_TEMP_PERIOD,
	};
	for (i = 1; i < argc; i++) {
		const char *a = argv[i], *v = i + 1 < argc ? argv[i + 1] : NULL;

		if (!strcmp(a, "--free-run")) {
			o->free_run = 1;
			continue;
		}
		if (!v)
			usage();
		i++;
		if (!strcmp(a, "--pulses"))
			o->pulses = num_arg(a, v);
		else if (!strcmp(a, "--offset"))
			o->offset = ppm_arg(v);
		else if (!strcmp(a, "--seed"))
			o->seed = (u64)num_arg(a, v);
		else if (!strcmp(a, "--walk"))
			o->walk = num_arg(a, v);
		else if (!strcmp(a, "--temp-amp"))
			o->temp_amp = num_arg(a, v);
		else if (!strcmp(a, "--temp-period"))
			o->temp_period = num_arg(a, v);
		else if (!strcmp(a, "--k1")) {
			o->k1 = num_arg(a, v);
			o->set_k1 = 1;
		}
		else if (!strcmp(a, "--loop-mode"))
			o->loop_mode = (int)num_arg(a, v);
		else if (!strcmp(a, "--holdover"))
			o->holdover = num_arg(a, v);
		else if (!strcmp(a, "--csv"))
			o->csv = v;
		else
			usage();
	}
	if (o->pulses < 1 || o->holdover < 0 || o->walk < 0 || o->temp_amp < 0 || o->temp_period < 0)
		usage();
}

/*
 * The DAC8571 as the oscillator sees it: a 3-byte write whose control byte
 * loads the data and updates the output sets the tuning code. Anything else
 * addressed to it is counted, so a change in what the module sends shows.
 */
static void dac_listen(struct kx_osc *osc, int connected, struct bench_stats *st)
{
	unsigned int i;

	for (i = 0; i < kxh_i2c_count(); i++) {
		const struct kxh_i2c_rec *r = kxh_i2c_get(i);

		if (r->bus != DAC_I2C_ADAPTER || r->addr != DAC_I2C_ADDR)
			continue;
		if (r->len != DAC8571_MSG_LEN || r->flags ||
		    r->data[0] != DAC_CTRL_WRITE_UPDATE) {
			st->dac_other++;
			continue;
		}
		st->dac_updates++;
		if (connected)
			kx_osc_set_dac(osc, (u16)(r->data[1] << 8 | r->data[2]));
	}
	kxh_i2c_clear();
}

/* one GPS second; returns the cycles TPM4 counted in it */
static u32 bench_second(struct kx_osc *osc, struct bench_stats *st)
{
	u32 before = osc->counter;
	u32 cycles = kx_osc_second(osc);

	if (osc->counter < before) {
		/* the counter wrapped during the second: TOF interrupt first */
		kxh_tpm4_overflow(kb.tpm4);
		kxh_irq_fire((unsigned int)pps_irq);
		st->overflows++;
	}
	kxh_time_advance_ns(1000000000LL);
	kb_pulse(osc->counter);
	kxh_wq_run_all();
	return cycles;
}

/*
 * The fix lost for `seconds` after the pulses: the receive worker's holdover
 * bookkeeping runs once a second (a GPS time had been set), the pulses stop
 * and the oscillator runs on whatever the DAC holds. Returns the time error
 * it gathers, in 1e-15 s.
 */
static s64 bench_holdover(struct kx_osc *osc, long seconds, int connected,
			  struct bench_stats *st)
{
	s64 drift = 0;
	long s;

	WRITE_ONCE(gps_time_set, 1);
	for (s = 0; s < seconds; s++) {
		u32 before = osc->counter;

		pps_holdover_update(0);
		kxh_wq_run_all();
		dac_listen(osc, connected, st);
		drift += kx_osc_error(osc);
		kx_osc_second(osc);
		if (osc->counter < before) {
			kxh_tpm4_overflow(kb.tpm4);
			kxh_irq_fire((unsigned int)pps_irq);
			st->overflows++;
		}
		kxh_time_advance_ns(1000000000LL);
	}
	return drift;
}

/* the gain through its attribute, as on the board; it must read back */
static void set_k1(long long k1)
{
	char text[32], shown[64];
	ssize_t ret;

	snprintf(text, sizeof(text), "%lld", k1);
	ret = kxh_sysfs_write("pps_filter/k1", text);
	if (ret >= 0)
		ret = kxh_sysfs_read("pps_filter/k1", shown, sizeof(shown));
	if (ret < 0 || strtoll(shown, NULL, 10) != k1) {
		fprintf(stderr, "k1 %lld not taken (%zd)\n", k1, ret);
		exit(1);
	}
}

int main(int argc, char **argv)
{
	struct bench_opts opt;
	struct bench_stats st = { 0 };
	struct kx_osc osc;
	FILE *out = stdout;
	long p;

	parse_args(argc, argv, &opt);
	if (opt.csv && !(out = fopen(opt.csv, "w"))) {
		perror(opt.csv);
		return 1;
	}

	kx_osc_init(&osc, opt.offset, opt.seed);
	osc.walk_step = opt.walk;
	osc.temp_amp = opt.temp_amp;
	osc.temp_period = (u32)opt.temp_period;

	loop_mode = opt.loop_mode;
	kb_load(0);
	/* the load's mid-scale write reaches the oscillator like any other */
	dac_listen(&osc, !opt.free_run, &st);
	if (opt.set_k1)
		set_k1(opt.k1);

	fprintf(out, "pulse,count,dac_code,integ_fp,osc_error_e15\n");
	for (p = 1; p <= opt.pulses; p++) {
		s64 err = kx_osc_error(&osc);	/* in force during this second */
		u32 n = bench_second(&osc, &st);

		dac_listen(&osc, !opt.free_run, &st);
		fprintf(out, "%ld,%u,%u,%lld,%lld\n", p, n, osc.dac_code,
			(long long)integ_fp, (long long)err);
	}
	if (opt.holdover) {
		u16 code = osc.dac_code;
		s64 drift = bench_holdover(&osc, opt.holdover, !opt.free_run, &st);

		fprintf(stderr, "holdover of %ld s after %ld pulses: time error %.1f ns "
			"(DAC 0x%04X, then 0x%04X)\n", opt.holdover, opt.pulses,
			(double)drift * 1e-6, code, osc.dac_code);
	}
	kxh_module_exit();

	if (out != stdout && fclose(out)) {
		perror(opt.csv);
		return 1;
	}
	fprintf(stderr,
		"%ld pulses (%s, loop_mode %d), offset %lld e-15, seed %llu: %lu DAC updates%s, "
		"%lu other DAC messages, %lu counter overflows, final code 0x%04X\n",
		opt.pulses, opt.free_run ? "free-running" : "disciplined", opt.loop_mode,
		(long long)opt.offset, (unsigned long long)opt.seed, st.dac_updates,
		opt.free_run ? " (not applied)" : "", st.dac_other, st.overflows,
		osc.dac_code);
	return st.dac_other ? 1 : 0;
}
