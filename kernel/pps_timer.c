// SPDX-License-Identifier: GPL-2.0
/*
 * kx_pps: pulse capture and oscillator discipline loop.
 *
 * TPM4 counts the board's 25 MHz VCXO as a free-running 32-bit counter and
 * captures it on channel 2 at every GPS pulse. The interrupt handler turns
 * the cycles counted in the second just ended into an integrator update
 * whose output steers the VCXO through the DAC (written from a work queue).
 * The same interrupt hands the GPS time of the pulse to the system-clock
 * setter, reports the pulse to LinuxPPS and flashes the PPS LED.
 */
#include <linux/delay.h>
#include <linux/kernel.h>
#include <linux/gpio/consumer.h>
#include <linux/io.h>
#include <linux/moduleparam.h>
#include <linux/pps_kernel.h>
#include <linux/rcupdate.h>
#include <linux/timekeeping.h>

#include "kx_pps.h"

#define PPS_LED_ON_MS 500

/* loop state, shared with the attributes and the DAC work (whole words) */
s32 k1_hundred_thou_value = 200;
s32 k2_hundred_thou_value = 10000;
bool filter_pause;
bool initial_calc = true;
s64 new_prv_integ_fp;
s64 prv_integ_fp;
s64 integ_fp;
s64 filtered_integ;
s32 integ_num;
s32 integ_dec;
s32 filt_kount;
u32 tpm4_counter_value_old;
u32 tpm4_counter_value_new;

/*
 * The count N of the last capture the loop took, accepted or not, for the
 * site's monitoring (/sys/module/kx_pps/parameters/last_count): the
 * attributes under /sys/pps_filter show only what the loop made of it.
 */
u32 tpm4_last_count;
module_param_named(last_count, tpm4_last_count, uint, 0444);
MODULE_PARM_DESC(last_count, "oscillator cycles counted between the last two pulses (read-only)");

s32 gps_time_set;
struct timespec64 irq_ts;
struct timespec64 irq_gps_ts;

DECLARE_WORK(gps_ppsled_work, gps_ppsled_workfn);

void gps_ppsled_workfn(struct work_struct *work)
{
	struct gpio_desc *led;
	struct pps_priv *pps;
	bool cansleep;

	rcu_read_lock();
	pps = rcu_dereference(g_pps);
	led = pps ? pps->led_gpio : NULL;
	cansleep = pps && pps->led_cansleep;
	rcu_read_unlock();
	if (!pps)
		return;
	/*
	 * The LED is driven outside the read-side section, where a line behind
	 * a bus may sleep: remove unpublishes the record, then cancels this
	 * work and waits for it before the LED is released.
	 */
	if (cansleep)
		gpiod_set_value_cansleep(led, 1);
	msleep(PPS_LED_ON_MS);
	/* the device may have gone while we slept */
	if (rcu_access_pointer(g_pps) == pps)
		gpiod_set_value_cansleep(led, 0);
}

/*
 * From the pulse interrupt and the ppsled store. Remove waits for a grace
 * period after unpublishing the record and only then cancels the LED work,
 * so the work queued here never outlives the device. A LED that can sleep
 * is switched on by the work too: never here, in the hard interrupt or in
 * the read-side section.
 */
void pps_led_flash(void)
{
	struct pps_priv *pps;

	rcu_read_lock();
	pps = rcu_dereference(g_pps);
	if (pps) {
		if (!pps->led_cansleep)
			gpiod_set_value(pps->led_gpio, 1);
		queue_work(system_wq, &gps_ppsled_work);
	}
	rcu_read_unlock();
}

/*
 * Integer part and first four decimals of integ / 2^26, both truncated
 * toward zero and carrying the sign of integ. Splitting off the remainder
 * first keeps the product in range for any s64; the result equals
 * (integ * 10000) / 2^26 - 10000 * integ_num wherever that does not overflow.
 */
void pps_set_integ_parts(s64 integ)
{
	s64 rem = integ % KX_FP_ONE;

	WRITE_ONCE(integ_num, (s32)(integ / KX_FP_ONE));
	WRITE_ONCE(integ_dec, (s32)((rem * 10000) / KX_FP_ONE));
}

/*
 * One integrator step: prv + (N0 - N) * K1 with K1 = k1 * 671. The gain
 * product is formed in 64 bits, so any stored k1 is exact (|K1| < 2^41 and
 * |N0 - N| <= 99 inside the window keep the step below 2^48). The sum is
 * held within the DAC's range, +-2^31: an integrator wound up beyond what
 * the DAC can express would only delay the recovery of a saturated loop.
 * A seed written from user space may lie anywhere; bounding it to +-2^62
 * first cannot change the clamped result and keeps the addition exact.
 */
static inline s64 pps_integrate(s64 prv, s32 err, s32 k1)
{
	s64 step = (s64)err * ((s64)k1 * KX_GAIN_SCALE);
	s64 integ = clamp_t(s64, prv, -(1LL << 62), 1LL << 62) + step;

	return clamp_t(s64, integ, -KX_INTEG_LIMIT, KX_INTEG_LIMIT);
}

/* an accepted pulse's loop output: the figures, the DAC, the next pulse's base */
void pps_loop_output(s64 integ)
{
	WRITE_ONCE(filtered_integ, integ);
	WRITE_ONCE(integ_fp, integ);
	WRITE_ONCE(filt_kount, filt_kount + 1);
	pps_set_integ_parts(integ);
	pps_dac_queue();
	prv_integ_fp = integ;
}

/*
 * A channel-2 capture while the loop runs; a pulse the integrity guard
 * withholds (use false) only moves the reference: the DAC holds.
 */
static inline void pps_loop_capture(u32 count, bool use)
{
	u32 n;
	s64 integ;

	tpm4_counter_value_new = count;
	/* cycles since the previous capture; modular across the 32-bit wrap */
	n = count - tpm4_counter_value_old;
	WRITE_ONCE(tpm4_last_count, n);

	if (initial_calc) {
		/* re-seed: this capture becomes the reference, nothing else */
		initial_calc = false;
		prv_integ_fp = READ_ONCE(new_prv_integ_fp);
		tpm4_counter_value_old = count;
		pps_pll_reset();
		return;
	}

	if (!use) {
		tpm4_counter_value_old = count;
		return;
	}

	if (READ_ONCE(loop_mode) == PPS_LOOP_PLL) {
		tpm4_counter_value_old = count;
		pps_pll_capture(n);
		return;
	}

	if (n - (KX_N0 - KX_WINDOW) > 2 * KX_WINDOW) {
		/* implausible (missed or extra edge): only move the reference */
		tpm4_counter_value_old = count;
		return;
	}

	integ = pps_integrate(prv_integ_fp, (s32)KX_N0 - (s32)n,
			      READ_ONCE(k1_hundred_thou_value));
	pps_loop_output(integ);
	tpm4_counter_value_old = count;
}

/*
 * Pass a freshly decoded GPS second on to the system-clock setter: the
 * label and this pulse's time are taken together, under the lock, for the
 * work to use. gGPSTime itself moves on to the next second at the next ZDA,
 * which may be handled before the work gets to run.
 */
static inline void pps_gps_handoff(void)
{
	unsigned long flags;
	s64 label;

	if (!READ_ONCE(gGPSTime.pending))
		return;
	spin_lock_irqsave(&gGPSTime.lock, flags);
	ktime_get_real_ts64(&irq_ts);
	irq_gps_ts = gGPSTime.ts;
	label = gGPSTime.ts.tv_sec;
	gGPSTime.pending = 0;
	spin_unlock_irqrestore(&gGPSTime.lock, flags);
	queue_work(system_wq, &gps_time_work);
	WRITE_ONCE(gps_time_set, 1);
	pps_guard_labelled(label);
}

/* a pulse the guard withholds takes no label either */
static inline void pps_gps_withhold(void)
{
	unsigned long flags;

	if (!READ_ONCE(gGPSTime.pending))
		return;
	spin_lock_irqsave(&gGPSTime.lock, flags);
	gGPSTime.pending = 0;
	spin_unlock_irqrestore(&gGPSTime.lock, flags);
}

/*
 * TPM4 interrupt: channel-2 capture (the GPS pulse) or counter overflow.
 * Hard-interrupt context: no sleeping, no bus transfer, no floating point,
 * no division other than by powers of two.
 */
irqreturn_t timer_irq(int irq, void *dev_id)
{
	struct pps_event_time ts;
	struct pps_priv *pps;
	bool pass = true;
	u32 status, count = 0;

	/* the pulse's system time, before anything else costs time */
	pps_get_ts(&ts);

	status = readl(reg_base_lptpm4 + TPM4_STATUS);
	if (!(status & TPM4_STATUS_CH2F)) {
		/*
		 * Overflow alone (every 2^32 counts, about 171.8 s): not a
		 * pulse, so no hand-off, no LinuxPPS event and no LED.
		 */
		if (status & TPM4_STATUS_TOF)
			writel(TPM4_STATUS_TOF, reg_base_lptpm4 + TPM4_STATUS);
		return IRQ_HANDLED;
	}

	/*
	 * The guard judges the pulse against the oscillator before anyone
	 * sees it; it needs the code the VCXO ran on in the second just ended:
	 * the one the DAC holds, which the loop's output only becomes once its
	 * write has gone through.
	 */
	if (READ_ONCE(gnss_guard) || !READ_ONCE(filter_pause))
		count = readl(reg_base_lptpm4 + TPM4_C2V);
	if (READ_ONCE(gnss_guard))
		pass = pps_guard_pulse(count, READ_ONCE(dac_code_held));

	if (pass)
		pps_gps_handoff();
	else
		pps_gps_withhold();

	if (pass) {
		rcu_read_lock();
		pps = rcu_dereference(g_pps);
		if (pps && pps->pps_src)
			pps_event(pps->pps_src, &ts, PPS_CAPTUREASSERT, NULL);
		rcu_read_unlock();
	}

	if (READ_ONCE(time_known))
		pps_led_flash();

	if (!READ_ONCE(filter_pause))
		pps_loop_capture(count, pass);

	writel(TPM4_STATUS_CH2F, reg_base_lptpm4 + TPM4_STATUS);
	return IRQ_HANDLED;
}
