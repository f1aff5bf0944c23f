// SPDX-License-Identifier: GPL-2.0
/*
 * Pulse interrupt and discipline loop: the capture cases, the worked
 * figures, counter wrap, pause and re-seed, window limits, overflow
 * interrupts, the GPS hand-off, the LinuxPPS event and the PPS LED.
 */
#include <string.h>

#include <linux/timer.h>

#include "kx_fixture.h"
#include "ktest.h"

#define N0 25000000U
#define STEP200 134200		/* (N0 - N) = 1 at k1 = 200 */

/* a fresh reference at `start`, loop running from the next pulse */
static void seeded(u32 start)
{
	fx_board();
	fx_pulse(start);
}

KTEST(first_capture_only_seeds_second_updates_and_writes_dac)
{
	fx_board();
	new_prv_integ_fp = 5;
	KT_EQ(fx_pulse(1000), IRQ_HANDLED);
	KT_FALSE(initial_calc);
	KT_EQ(prv_integ_fp, 5);
	KT_EQ(tpm4_counter_value_old, 1000);
	KT_EQ(filt_kount, 0);
	KT_EQ(kxh_wq_pending(dac_workq), 0);
	/* CH2F cleared */
	KT_EQ(kxh_io_peek(fx_tpm4, TPM4_STATUS), 0);

	fx_pulse(1000 + N0 - 1);
	KT_EQ(prv_integ_fp, 5 + STEP200);
	KT_EQ(filtered_integ, 5 + STEP200);
	KT_EQ(integ_fp, 5 + STEP200);
	KT_EQ(filt_kount, 1);
	KT_EQ(tpm4_counter_value_old, 1000 + N0 - 1);
	KT_EQ(kxh_wq_pending(dac_workq), 1);
	KT_EQ(kxh_wq_run(dac_workq), 1);
	KT_EQ(fx_dac_writes(), 1);
	KT_EQ(fx_dac_code(0), 0x8001);
}

KTEST(worked_figures_at_k1_200)
{
	seeded(7);
	fx_pulses(N0 + 1, 1);
	KT_EQ(integ_fp, -STEP200);
	fx_pulses(N0 - 1, 2);
	KT_EQ(integ_fp, STEP200);
	/* 0.0019997 in units of 2^26, shown truncated */
	KT_EQ(integ_num, 0);
	KT_EQ(integ_dec, 19);
	KT_EQ(filt_kount, 3);
}

KTEST(window_limits_are_n0_plus_minus_99)
{
	static const struct { u32 n; int accepted; } rows[] = {
		{ 24999901, 1 }, { 25000099, 1 }, { 24999900, 0 }, { 25000100, 0 },
		{ 25000000, 1 }, { 50000000, 0 }, { 0, 0 }, { 12500000, 0 },
	};

	seeded(123456);
	KT_ROWS(r, rows) {
		s32 kount = filt_kount;
		s64 integ = integ_fp;
		u32 old = tpm4_counter_value_old;

		fx_pulse(old + r->n);
		KT_EQ(filt_kount - kount, r->accepted);
		KT_EQ(integ_fp - integ, r->accepted * (s64)((s32)N0 - (s32)r->n) * STEP200);
		/* accepted or not, the capture becomes the reference */
		KT_EQ(tpm4_counter_value_old, old + r->n);
	}
}

KTEST(wrapped_count_is_the_modular_difference)
{
	/* a second across the 32-bit wrap with exactly N0 cycles: no error */
	seeded(0xFFFFFFF0u);
	fx_pulse(0xFFFFFFF0u + N0);
	KT_EQ(tpm4_counter_value_new, N0 - 0x10);
	KT_EQ(filt_kount, 1);
	KT_EQ(integ_fp, 0);
	/* one cycle fast across the wrap is one cycle fast */
	fx_pulse(0xFFFFFFFFu);		/* out of the window: new reference */
	fx_pulse(0xFFFFFFFFu + N0 + 1);
	KT_EQ(filt_kount, 2);
	KT_EQ(integ_fp, -STEP200);
	/* capture exactly at 0 after the wrap */
	fx_pulse(0 - N0);
	fx_pulse(0);
	KT_EQ(filt_kount, 3);
	KT_EQ(integ_fp, -STEP200);
}

KTEST(paused_captures_leave_all_loop_state_alone)
{
	s64 integ;
	u32 old;

	seeded(1000);
	fx_pulses(N0 - 2, 1);
	integ = integ_fp;
	old = tpm4_counter_value_old;
	filter_pause = true;
	fx_pulse(old + N0 + 50);
	fx_pulse(old + 2 * N0);
	KT_EQ(integ_fp, integ);
	KT_EQ(prv_integ_fp, integ);
	KT_EQ(filtered_integ, integ);
	KT_EQ(filt_kount, 1);
	KT_EQ(tpm4_counter_value_old, old);
	KT_EQ(kxh_io_peek(fx_tpm4, TPM4_STATUS), 0);
	kxh_wq_run(dac_workq);
	KT_EQ(fx_dac_writes(), 1);

	/* resuming requests a re-seed: first capture seeds, second updates */
	filter_pause = false;
	initial_calc = true;
	fx_pulse(old + 3 * N0 + 7);
	KT_EQ(prv_integ_fp, 0);		/* the seed, 0 unless written */
	KT_EQ(tpm4_counter_value_old, old + 3 * N0 + 7);
	KT_EQ(filt_kount, 1);
	fx_pulses(N0 + 1, 1);
	KT_EQ(integ_fp, -STEP200);
	KT_EQ(filt_kount, 2);
}

KTEST(overflow_alone_clears_tof_and_does_nothing_else)
{
	seeded(5);
	fx_probed();
	time_known = true;
	gGPSTime.pending = 1;
	fx_pulses(N0, 1);
	gGPSTime.pending = 1;
	kxh_wq_run_all();

	KT_EQ(fx_overflow(), IRQ_HANDLED);
	KT_EQ(kxh_io_peek(fx_tpm4, TPM4_STATUS), 0);
	/* still pending: the hand-off waits for the pulse */
	KT_EQ(gGPSTime.pending, 1);
	KT_EQ(kxh_pps_events(g_pps->pps_src), 1);
	KT_EQ(kxh_gpio_changes(g_pps->led_gpio), 2);
	KT_EQ(kxh_wq_pending(system_wq), 0);
	KT_EQ(filt_kount, 1);
	KT_EQ(tpm4_counter_value_old, 5 + N0);
}

KTEST(capture_with_overflow_pending_leaves_tof_for_the_next_interrupt)
{
	seeded(0xFF000000u);
	kxh_tpm4_overflow(fx_tpm4);
	fx_pulse(0xFF000000u + N0);
	KT_EQ(filt_kount, 1);
	KT_EQ(kxh_io_peek(fx_tpm4, TPM4_STATUS), TPM4_STATUS_TOF);
	kxh_irq_call(timer_irq, 42, NULL);
	KT_EQ(kxh_io_peek(fx_tpm4, TPM4_STATUS), 0);
	KT_EQ(filt_kount, 1);
}

KTEST(integ_parts_truncate_toward_zero)
{
	static const struct { s64 v; s32 num, dec; } rows[] = {
		{ -(1LL << 25), 0, -5000 }, { 1LL << 26, 1, 0 }, { 3LL << 26, 3, 0 },
		{ -(3LL << 26) - (1LL << 25), -3, -5000 }, { 134200, 0, 19 },
		{ -134200, 0, -19 }, { -1, 0, 0 }, { KX_INTEG_LIMIT, 32, 0 },
		{ -KX_INTEG_LIMIT + 1, -31, -9999 },
	};

	/* through the loop: a seed and a capture of exactly N0 */
	fx_board();
	KT_ROWS(r, rows) {
		new_prv_integ_fp = r->v;
		initial_calc = true;
		fx_pulse(tpm4_counter_value_old + 1);
		fx_pulses(N0, 1);
		KT_EQ(filtered_integ, r->v);
		KT_EQ(integ_num, r->num);
		KT_EQ(integ_dec, r->dec);
	}
	/* the attribute path may hand over any s64 */
	pps_set_integ_parts(S64_MIN + 12345);
	KT_EQ(integ_dec, -9998);
	pps_set_integ_parts(S64_MAX);
	KT_EQ(integ_dec, 9999);
}

KTEST(zero_gain_rewrites_the_dac_with_an_unchanged_integrator)
{
	seeded(1);
	k1_hundred_thou_value = 0;
	fx_pulses(N0 + 50, 1);
	kxh_wq_run(dac_workq);
	fx_pulses(N0 - 50, 1);
	kxh_wq_run(dac_workq);
	KT_EQ(filt_kount, 2);
	KT_EQ(integ_fp, 0);
	KT_EQ(fx_dac_writes(), 2);
	KT_EQ(fx_dac_code(0), 0x7FFF);
	KT_EQ(fx_dac_code(1), 0x7FFF);
}

KTEST(dac_work_queued_twice_writes_the_latest_value_once)
{
	seeded(1);
	fx_pulses(N0 - 1, 1);
	fx_pulses(N0 - 99, 1);
	KT_EQ(kxh_wq_pending(dac_workq), 1);
	kxh_wq_run(dac_workq);
	KT_EQ(fx_dac_writes(), 1);
	/* 100 * 134200 = 13,420,000: 0x7FFF + 204 */
	KT_EQ(fx_dac_code(0), 0x7FFF + 204);
}

KTEST(no_dac_workqueue_no_dac_write)
{
	seeded(1);
	destroy_workqueue(dac_workq);
	dac_workq = NULL;
	fx_pulses(N0 - 1, 3);
	KT_EQ(filt_kount, 3);
	KT_EQ(kxh_wq_run_all(), 0);
	KT_EQ(fx_dac_writes(), 0);
}

KTEST(integrator_is_held_within_the_dac_range_and_recovers_at_once)
{
	seeded(1);
	k1_hundred_thou_value = 2000000;	/* K1 = 1,342,000,000 */
	fx_pulses(N0 - 99, 3);
	KT_EQ(integ_fp, KX_INTEG_LIMIT);
	KT_EQ(prv_integ_fp, KX_INTEG_LIMIT);
	fx_pulses(N0 + 1, 1);
	KT_EQ(integ_fp, KX_INTEG_LIMIT - 1342000000LL);
	fx_pulses(N0 + 99, 5);
	KT_EQ(integ_fp, -KX_INTEG_LIMIT);
	KT_EQ(integ_num, -32);
	KT_EQ(integ_dec, 0);
	fx_pulses(N0 - 1, 1);
	KT_EQ(integ_fp, -KX_INTEG_LIMIT + 1342000000LL);
}

KTEST(any_stored_gain_is_computed_exactly)
{
	static const s32 gains[] = { S32_MAX, S32_MIN, 3200423, -3200423, 2068961 };

	seeded(1);
	KT_ROWS(k, gains) {
		s64 step = (s64)*k * 671;

		k1_hundred_thou_value = *k;
		new_prv_integ_fp = 0;
		initial_calc = true;
		fx_pulse(tpm4_counter_value_old + 5);
		/* a one-count error: the step is K1 itself, exactly */
		fx_pulses(N0 - 1, 1);
		KT_EQ(integ_fp, step > KX_INTEG_LIMIT ? KX_INTEG_LIMIT :
				step < -KX_INTEG_LIMIT ? -KX_INTEG_LIMIT : step);
	}
	k1_hundred_thou_value = 1000;	/* step 671,000 */
	new_prv_integ_fp = 0;
	initial_calc = true;
	fx_pulse(tpm4_counter_value_old + 5);
	fx_pulses(N0 - 99, 1);
	KT_EQ(integ_fp, 99 * 671000LL);
}

KTEST(seed_beyond_the_range_is_taken_without_overflow)
{
	fx_board();
	new_prv_integ_fp = S64_MAX;
	fx_pulse(10);
	KT_EQ(prv_integ_fp, S64_MAX);
	fx_pulses(N0 - 99, 1);
	KT_EQ(integ_fp, KX_INTEG_LIMIT);
	new_prv_integ_fp = S64_MIN;
	initial_calc = true;
	fx_pulse(tpm4_counter_value_old + 3);
	fx_pulses(N0 + 99, 1);
	KT_EQ(integ_fp, -KX_INTEG_LIMIT);
}

KTEST(gps_time_is_handed_off_at_the_pulse)
{
	unsigned int taken;

	seeded(1);
	kxh_time_set_real(1767225600, 250);
	gGPSTime.ts.tv_sec = 1767225601;
	gGPSTime.pending = 1;
	fx_pulses(N0, 1);
	KT_EQ(gGPSTime.pending, 0);
	KT_EQ(gGPSTime.lock.taken_irqsave, 1);
	KT_EQ(gps_time_set, 1);
	KT_EQ(irq_ts.tv_sec, 1767225600);
	KT_EQ(irq_ts.tv_nsec, 250);
	KT_TRUE(work_pending(&gps_time_work));
	KT_EQ(kxh_wq_pending(system_wq), 1);
	kxh_wq_run_all();	/* the clock setter takes the lock once more */
	taken = gGPSTime.lock.taken_irqsave;
	/* no fresh second: nothing handed over */
	kxh_time_advance_ns(1000000000);
	fx_pulses(N0, 1);
	KT_EQ(irq_ts.tv_sec, 1767225600);
	KT_EQ(gGPSTime.lock.taken_irqsave, taken);
	KT_FALSE(work_pending(&gps_time_work));
}

KTEST(linuxpps_assert_event_carries_the_interrupt_time)
{
	seeded(1);
	fx_probed();
	kxh_time_set_real(1767225700, 123456789);
	fx_pulses(N0, 1);
	kxh_time_advance_ns(1000000000);
	fx_pulses(N0, 1);
	KT_EQ(kxh_pps_events(g_pps->pps_src), 2);
	KT_EQ(kxh_pps_event(g_pps->pps_src, 0)->event, PPS_CAPTUREASSERT);
	KT_TRUE(kxh_pps_event(g_pps->pps_src, 0)->data == NULL);
	KT_EQ(kxh_pps_event(g_pps->pps_src, 0)->ts.tv_sec, 1767225700);
	KT_EQ(kxh_pps_event(g_pps->pps_src, 0)->ts.tv_nsec, 123456789);
	KT_EQ(kxh_pps_event(g_pps->pps_src, 1)->ts.tv_sec, 1767225701);
	/* paused: still a pulse, still reported */
	filter_pause = true;
	fx_pulse(5);
	KT_EQ(kxh_pps_events(g_pps->pps_src), 3);
}

KTEST(without_a_probed_device_no_event_and_no_led)
{
	seeded(1);
	time_known = true;
	fx_pulses(N0, 2);
	KT_EQ(filt_kount, 2);
	KT_EQ(kxh_wq_pending(system_wq), 0);
	/* probed, but the LinuxPPS source failed to register: LED only */
	fx_probed();
	g_pps->pps_src = NULL;
	fx_pulses(N0, 1);
	KT_EQ(kxh_gpio_value(g_pps->led_gpio), 1);
	/* the LED work of a device gone before it ran does nothing */
	g_pps = NULL;
	kxh_wq_run_all();
	KT_EQ(kxh_time_slept_ns(), 0);
}

static struct pps_priv *leaving;

static void remove_device(struct timer_list *t)
{
	leaving = g_pps;
	g_pps = NULL;
}

KTEST(led_work_survives_the_device_going_while_it_sleeps)
{
	static struct timer_list remover;

	seeded(1);
	fx_probed();
	time_known = true;
	fx_pulses(N0, 1);
	/* the device goes 100 ms into the LED's 500 ms */
	timer_setup(&remover, remove_device, 0);
	mod_timer(&remover, jiffies + 25);
	kxh_wq_run(system_wq);
	KT_TRUE(leaving != NULL);
	KT_EQ(kxh_gpio_value(leaving->led_gpio), 1);
	KT_EQ(kxh_time_slept_ns(), 504000000);
}

KTEST(led_flashes_500ms_while_the_time_is_known)
{
	const struct gpio_desc *led;
	s64 t0;

	seeded(1);
	fx_probed();
	led = g_pps->led_gpio;
	fx_pulses(N0, 1);
	KT_EQ(kxh_gpio_changes(led), 0);
	time_known = true;
	t0 = kxh_time_mono_ns();
	fx_pulses(N0, 1);
	KT_EQ(kxh_gpio_value(led), 1);
	KT_EQ(kxh_gpio_change(led, 0)->in_irq, 1);
	KT_TRUE(work_pending(&gps_ppsled_work));
	/* a second flash request while the off-work waits adds nothing */
	pps_led_flash();
	KT_EQ(kxh_wq_pending(system_wq), 1);
	KT_EQ(kxh_wq_run(system_wq), 1);
	KT_EQ(kxh_gpio_value(led), 0);
	KT_EQ(kxh_gpio_changes(led), 3);
	/* low again no earlier than 500 ms after the pulse */
	KT_TRUE(kxh_gpio_change(led, 2)->mono_ns - t0 >= 500000000);
	KT_TRUE(kxh_gpio_change(led, 2)->mono_ns - t0 < 520000000);
	KT_EQ(kxh_gpio_change(led, 2)->in_irq, 0);
}

/*
 * The count of every capture, accepted or not and in either loop, is what
 * the read-only parameter last_count shows, as in
 * /sys/module/kx_pps/parameters, beside loop_mode.
 */
static void last_count_follows_the_captures(void)
{
	static const u32 counts[] = { N0 + 3, N0 + 100, 2 * N0, N0 - 99, 0 };
	char text[32], want[32];
	const char *name;
	int i;

	seeded(5000);
	KT_ROWS(n, counts) {
		fx_pulse(tpm4_counter_value_old + *n);
		KT_EQ(tpm4_last_count, *n);
		snprintf(want, sizeof(want), "%u\n", *n);
		KT_EQ(kxh_param_show("last_count", text, sizeof(text)), (long)strlen(want));
		KT_STREQ(text, want);
	}
	KT_EQ(kxh_param_mode("last_count"), 0444);
	KT_EQ(kxh_param_mode("loop_mode"), 0444);
	KT_EQ(kxh_param_mode("none"), -ENOENT);
	KT_EQ(kxh_param_show("loop_mode", text, sizeof(text)), 2);
	KT_EQ(text[0], '0' + loop_mode);
	/* beside the two read-only ones only the site's settings, writable */
	for (i = 0; (name = kxh_param_name(i)); i++)
		if (strcmp(name, "last_count") && strcmp(name, "loop_mode"))
			KT_EQ(kxh_param_mode(name), 0644);
	KT_TRUE(i > 2);
}

KTEST(last_count_parameter_shows_every_capture_in_either_loop)
{
	static const int modes[] = { PPS_LOOP_INTEGRATING, PPS_LOOP_PLL };

	KT_ROWS(mode, modes) {
		loop_mode = *mode;
		KT_TRUE(ktest_passes(last_count_follows_the_captures));
	}
}
