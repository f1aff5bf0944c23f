// SPDX-License-Identifier: GPL-2.0
/*
 * kx_pps: GNSS integrity guard. The receiver's word is checked against the
 * appliance's own time scale, kept by the disciplined VCXO.
 *
 * After load (or an operator's accept) the receiver is *qualifying*: its
 * time is taken as it comes (a jump waits for the next ZDA, then is
 * followed) while the guard learns the oscillator's free-running frequency
 * and the home position. Once the receiver has given gnss_qualify seconds
 * in a row (900 s by default: a receiver that cold-started without its
 * almanac corrects its leap seconds within 12.5 minutes, the time the
 * almanac takes to arrive) without a jump or a pulse step, it is *trusted*
 * and from then on the appliance's scale rules: the label of every pulse
 * is the last one plus the seconds the oscillator counted, and the pulse
 * must come where the oscillator says it comes. A receiver that disagrees
 * is *suspect*: the pulse is withheld from LinuxPPS, the clock setter, the
 * PHYs and the loop (the DAC holds, the holdover seconds count, the limit
 * applies), until the receiver agrees again for gnss_agree seconds in a
 * row or the operator accepts its time (gnss_accept).
 *
 * The checks, each with its reason and counter:
 *  time      a label other than the own next second, and the next ZDA
 *            disagreeing too (one damaged sentence alone only loses its
 *            label; two in a row raise the alarm of the first);
 *  leap      a second 60 that is not 23:59:60 of a month's last day, or a
 *            one-second jump at a month's turn; a second 60 where it belongs
 *            is taken (the own scale repeats a second);
 *  calendar  a date refused by the date rule, the next ZDA no better;
 *  phase     a pulse off its expected place by more than gnss_phase ns
 *            (or 8 times the pulse's measured noise, if larger; the next
 *            pulse confirms it: a glitch that returns is not a step), or
 *            after missing pulses by more than the oscillator's holdover
 *            budget;
 *  drag      the pulse running away from the oscillator faster than
 *            gnss_drag ns/s (or what its noise explains), averaged over
 *            64 s;
 *  position  three fixes in a row farther than gnss_radius m from home.
 * A fix lost (jamming, an antenna cut) is no alarm: the holdover it always
 * was, and the oscillator's count of seconds carries the time across.
 *
 * The holdover limit running out while suspect: time_known drops to 0 as
 * in any holdover and stays there until the receiver agrees again or the
 * operator accepts. That is the safe choice: the appliance's own time is
 * no longer vouched for, and the receiver's has not been shown right.
 *
 * The pulse's expected place. The loop moves the VCXO through the DAC, one
 * code moving it by 20 ppm / 65536 (500 / 65536 cycles a second, the slope
 * the phase-and-frequency loop assumes as well); what the VCXO does at
 * mid-scale changes only slowly (temperature, ageing). So the guard keeps
 * u, the free-running frequency at mid-scale (cycles a second, << 16),
 * taken whole from the first pulse, then averaged over 2, 4, ... up to
 * 256 s, and expects n = k N0 + k (u + 500 code) cycles over k seconds.
 * (A start from 0 that only fades leaves about 5% of the VCXO's offset in
 * u after 30 pulses, a cycle a second at 1 ppm: a short qualifying period
 * would end in a false drag alarm while the loop still pulls the DAC.)
 * The innovation e = n - expected is the pulse's phase move against the
 * oscillator. With a clean receiver e is the counter's
 * quantisation (one cycle, 40 ns) and the receiver's jitter (20 ns).
 *
 * Locking: pps_guard_lock (interrupts saved) orders the pulse interrupt
 * against the receive worker and the attributes. Hard-interrupt rules apply
 * to pps_guard_pulse: no sleeping, no division instruction (shifts and
 * multiplications; the one division, of nanoseconds by the constant 1e9,
 * the compiler makes a multiplication).
 */
#include <linux/kernel.h>
#include <linux/ktime.h>
#include <linux/math64.h>
#include <linux/moduleparam.h>
#include <linux/spinlock.h>
#include <linux/timekeeping.h>

#include "kx_pps.h"

int gnss_guard = 1;
module_param(gnss_guard, int, 0644);
MODULE_PARM_DESC(gnss_guard, "GNSS integrity guard: 1 on (default), 0 the receiver at its word");
unsigned int gnss_qualify = 900;
module_param(gnss_qualify, uint, 0644);
MODULE_PARM_DESC(gnss_qualify, "seconds a receiver must agree before it is trusted [900]");
unsigned int gnss_agree = 60;
module_param(gnss_agree, uint, 0644);
MODULE_PARM_DESC(gnss_agree, "seconds a suspect receiver must agree again to be trusted [60]");
unsigned int gnss_radius = 50;
module_param(gnss_radius, uint, 0644);
MODULE_PARM_DESC(gnss_radius, "alarm radius around the home position in m, up to 10000 [50]");
unsigned int gnss_phase = 300;
module_param(gnss_phase, uint, 0644);
MODULE_PARM_DESC(gnss_phase, "largest pulse step in ns the oscillator lets pass [300]");
unsigned int gnss_drag = 5;
module_param(gnss_drag, uint, 0644);
MODULE_PARM_DESC(gnss_drag, "largest pulse drift in ns/s against the oscillator [5]");

/* fraction bits of cycle figures (e, u, thresholds) */
#define G_FRAC 16
/* a DAC code moves the VCXO by 500/65536 cycles a second: 500 << G_FRAC >> 16 */
#define G_CODE_SLOPE 500
/* the DAC's code for no correction */
#define G_CODE_ZERO 0x7FFF
/* averaging of u (2^8 s) and of the drag figure (2^6 s) */
#define G_U_SHIFT 8
#define G_DRAG_SHIFT 6
/*
 * The pulse's noise, |e| averaged over 2^8 s: a step is what lies beyond
 * G_NOISE_STEPS times it (about 6 standard deviations) or gnss_phase,
 * whichever is larger, but never beyond 4 gnss_phase (a receiver cannot
 * talk the limit up for ever).
 */
#define G_NOISE_SHIFT 8
#define G_NOISE_STEPS 8
/* u learnt while qualifying: shifts 1, 2, ... up to G_U_SHIFT */
#define G_U_SETTLED 256
/*
 * The oscillator's holdover budget over k seconds without a trusted pulse,
 * in cycles << G_FRAC: the step limit, a frequency error of 1/16 cycle a
 * second (2.5e-9: u's lag behind a temperature ramp and more) and a ramp
 * of 2.4e-4 cycles a second squared (1e-11/s, twice the steepest of a room's
 * daily +-1e-7 swing), giving k 4096 + k^2 8.
 */
#define G_BUDGET_FREQ 4096
#define G_BUDGET_RAMP 8
#define G_BUDGET_MAX_SEC (1 << 20)
/* pulse gaps counted by TPM4 alone: below its 32-bit wrap at 25 MHz */
#define G_COUNT_SPAN_NS (100 * NSEC_PER_SEC)
/* fixes outside the radius in a row before the alarm */
#define G_POS_CONFIRM 3
/* home learnt over 2^6 fixes (shifts 1 .. 6 while learning) */
#define G_HOME_SHIFT 6
#define G_RADIUS_MAX 10000
/* position distances, units of 1e-5 m, are kept below this before squaring */
#define G_DIST_CLAMP (1LL << 30)

static const char *const guard_state_names[] = {
	[PPS_GUARD_OFF] = "off",
	[PPS_GUARD_QUALIFYING] = "qualifying",
	[PPS_GUARD_TRUSTED] = "trusted",
	[PPS_GUARD_SUSPECT] = "suspect",
};

static const char *const guard_reason_names[] = {
	[PPS_GUARD_NONE] = "none",
	[PPS_GUARD_TIME] = "time",
	[PPS_GUARD_PHASE] = "phase",
	[PPS_GUARD_DRAG] = "drag",
	[PPS_GUARD_POSITION] = "position",
	[PPS_GUARD_CALENDAR] = "calendar",
	[PPS_GUARD_LEAP] = "leap",
};

/* cos((d + 0.5) degrees) << 16 for d = 0..89 */
static const u16 guard_cos[90] = {
	65534, 65514, 65474, 65414, 65334, 65234, 65115, 64975, 64816, 64637,
	64439, 64220, 63983, 63725, 63449, 63152, 62837, 62503, 62149, 61777,
	61386, 60976, 60547, 60100, 59635, 59152, 58650, 58131, 57594, 57040,
	56468, 55879, 55273, 54650, 54010, 53354, 52682, 51993, 51289, 50569,
	49834, 49084, 48318, 47538, 46744, 45935, 45112, 44275, 43425, 42562,
	41686, 40797, 39896, 38982, 38057, 37120, 36172, 35212, 34242, 33262,
	32271, 31271, 30261, 29242, 28214, 27177, 26132, 25080, 24019, 22951,
	21876, 20795, 19707, 18613, 17514, 16409, 15299, 14185, 13066, 11943,
	10817, 9687, 8554, 7419, 6281, 5142, 4001, 2859, 1716, 572,
};

struct pps_guard {
	int state;
	int reason;
	s64 since;
	u32 counts[PPS_GUARD_REASONS];
	/* the state the guard was last (re)started for: gnss_guard's value */
	int enabled;

	/* qualifying, and agreeing again while suspect: seconds in a row */
	u32 good_secs;

	/* own time scale: the label of the last pulse, and when it came */
	bool own_valid;
	s64 own_last;
	s64 pulse_ns;
	bool pulse_seen;

	/* this second's ZDA agreed with the own scale */
	bool label_agrees;
	/* a disagreeing ZDA waits for the next one to confirm it */
	bool tdoubt;
	int tdoubt_reason;
	bool calendar_refused;	/* the last ZDA's date was refused */

	/* pulse phase */
	bool have_count;
	u32 last_count;
	s64 u;			/* free-running frequency at mid-scale, << G_FRAC */
	u32 u_n;		/* pulses u was learnt from */
	s64 drag;		/* e averaged over 2^G_DRAG_SHIFT s */
	s64 noise;		/* |e| averaged over 2^G_NOISE_SHIFT s */
	bool pdoubt;		/* the last pulse stepped, the next one tells */
	s64 pdoubt_e;
	s64 ph_off;		/* phase since the last trusted pulse (suspect) */
	s64 step;		/* the pulse step that raised a phase alarm */
	u32 hold_secs;		/* seconds since the last trusted pulse (suspect) */
	bool phase_ok;		/* the last pulse within bounds */

	/* position, 1e-5 arc minutes; home averaged << 8 */
	bool home_valid, home_set;
	u32 home_n;
	s64 home_lat, home_lon;
	u32 pos_out;
	bool pos_ok;
};

static struct pps_guard guard = { .state = PPS_GUARD_QUALIFYING, .enabled = 1, .pos_ok = true };
static DEFINE_SPINLOCK(pps_guard_lock);

/*
 * round(ns / 1e9) for ns >= 0; a 64-bit division by a constant, which the
 * compiler makes a multiplication (no division instruction)
 */
static s64 guard_ns_to_sec(s64 ns)
{
	return (s64)div_u64((u64)ns + NSEC_PER_SEC / 2, NSEC_PER_SEC);
}

static s64 guard_ns_to_frac(u32 ns)
{
	/* ns / 40 cycles << 16 = ns x 1638.4 */
	return ((s64)ns * 26214) >> 4;
}

static s64 guard_now(void)
{
	struct timespec64 ts;

	if (guard.own_valid)
		return guard.own_last;
	ktime_get_real_ts64(&ts);
	return ts.tv_sec;
}

static void guard_set_state(int state, int reason)
{
	/* read without the lock by pps_guard_suspect() */
	WRITE_ONCE(guard.state, state);
	guard.reason = reason;
	guard.since = guard_now();
	guard.good_secs = 0;
}

/* the receiver starts qualifying afresh: load, accept, the guard switched on */
static void guard_restart(void)
{
	guard_set_state(PPS_GUARD_QUALIFYING, PPS_GUARD_NONE);
	guard.own_valid = false;
	guard.tdoubt = false;
	guard.pdoubt = false;
	guard.calendar_refused = false;
	guard.drag = 0;
	guard.ph_off = 0;
	guard.hold_secs = 0;
	guard.phase_ok = true;
	guard.pos_out = 0;
	guard.pos_ok = true;
	guard.home_valid = false;
	guard.home_set = false;
	guard.home_n = 0;
}

/* gnss_guard written at run time: off, or on from a fresh start */
static bool guard_active(void)
{
	int on = READ_ONCE(gnss_guard) != 0;

	if (on != guard.enabled) {
		guard.enabled = on;
		if (on) {
			/* the pulses before were not watched */
			guard.have_count = false;
			guard.pulse_seen = false;
			guard_restart();
		} else {
			guard_set_state(PPS_GUARD_OFF, PPS_GUARD_NONE);
		}
	}
	return on;
}

static void guard_alarm(int reason)
{
	guard.counts[reason]++;
	guard_set_state(PPS_GUARD_SUSPECT, reason);
	guard.tdoubt = false;
	guard.pdoubt = false;
	guard.ph_off = 0;
	guard.hold_secs = 0;
	guard.pos_out = 0;
	pr_alert("kx_pps: GNSS receiver suspect (%s): holding over on the oscillator\n",
		 guard_reason_names[reason]);
}

static void guard_trust(void)
{
	bool again = guard.state == PPS_GUARD_SUSPECT;

	guard_set_state(PPS_GUARD_TRUSTED, PPS_GUARD_NONE);
	guard.drag = 0;
	guard.ph_off = 0;
	guard.hold_secs = 0;
	guard.pdoubt = false;
	guard.tdoubt = false;
	if (again)
		pr_notice("kx_pps: GNSS receiver agrees again: trusted\n");
	else
		pr_info("kx_pps: GNSS receiver qualified: trusted\n");
}

/* the largest move of the pulse from one second to the next, cycles << G_FRAC */
static s64 guard_step_limit(void)
{
	s64 thr = guard_ns_to_frac(READ_ONCE(gnss_phase));

	return clamp_t(s64, G_NOISE_STEPS * guard.noise, thr, 4 * thr);
}

/*
 * The largest drift of the pulse, cycles a second << G_FRAC: gnss_drag, or
 * for a noisier pulse what its noise alone lets the minute's average show
 * (about 6 standard deviations: |e| / 8).
 */
static s64 guard_drag_limit(void)
{
	return max_t(s64, guard_ns_to_frac(READ_ONCE(gnss_drag)), guard.noise >> 3);
}

/* the holdover budget over k seconds, cycles << G_FRAC */
static s64 guard_budget(u32 k)
{
	s64 s = min_t(u32, k, G_BUDGET_MAX_SEC);

	return guard_step_limit() + s * G_BUDGET_FREQ + s * s * G_BUDGET_RAMP;
}

/*
 * Whole seconds since the last pulse. TPM4's count between the two captures
 * says it, however late the interrupt ran (a stalled virtual machine delays
 * it by more than half a second; the capture still holds the edge's count),
 * as long as the counter cannot have wrapped in between: up to
 * G_COUNT_SPAN_NS by the monotonic clock, well inside the 171.8 s of a
 * 32-bit count; beyond that the monotonic clock's rounded seconds. The
 * count's rounding leaves any phase move to the phase checks. Where the
 * monotonic clock has not moved by half a second the pulse may be an extra
 * edge: a second only while the count fits whole seconds. 0: not a second.
 */
static u32 guard_seconds(u32 n, s64 gap_ns)
{
	u64 k;

	if (gap_ns >= G_COUNT_SPAN_NS)
		return (u32)min_t(s64, guard_ns_to_sec(gap_ns), U32_MAX);
	/* round(n / 25e6): (n + N0/2) x 2^36 / 25e6 */
	k = (((u64)n + KX_N0 / 2) * 2749) >> 36;
	if (gap_ns >= NSEC_PER_SEC / 2)
		return k ? (u32)k : (u32)guard_ns_to_sec(gap_ns);
	/* within 80 ppm of k whole seconds */
	if (!k || abs((s64)n - (s64)k * KX_N0) > 2000 * (s64)k)
		return 0;
	return (u32)k;
}

/*
 * The pulse's phase move, cycles << G_FRAC, against the oscillator's k
 * seconds. The expected count is formed modulo 2^64 and compared modulo
 * the counter's 32 bits: e itself stays far below 2^31 cycles.
 */
static s64 guard_innovation(u32 n, u32 k, s32 code)
{
	s64 drift = (s64)k * (guard.u + (s64)G_CODE_SLOPE * code);
	u64 whole = (u64)k * KX_N0 + (u64)(drift >> G_FRAC);
	s64 cycles = (s64)(s32)(n - (u32)whole);

	return cycles * (1LL << G_FRAC) - (drift & ((1LL << G_FRAC) - 1));
}

static void guard_learn(s64 e)
{
	u32 shift = G_U_SHIFT;

	if (guard.u_n >= G_U_SETTLED)
		guard.noise += (abs(e) - guard.noise) >> G_NOISE_SHIFT;

	if (guard.u_n < G_U_SETTLED) {
		/* the first pulse gives u whole: mid-scale's guess leaves nothing */
		shift = 0;
		while (shift < G_U_SHIFT && (1U << shift) <= guard.u_n)
			shift++;
		guard.u_n++;
	}
	guard.u += e >> shift;
}

/* a pulse of a trusted receiver k seconds after the last: pass it on? */
static bool guard_judge_trusted(s64 e, u32 k, s64 thr)
{
	if (k > 1) {
		/* pulses were missing: the oscillator's budget over the gap */
		guard.pdoubt = false;
		if (abs(e) > guard_budget(k)) {
			guard_alarm(PPS_GUARD_PHASE);
			guard.ph_off = e;
			guard.step = abs(e);
			return false;
		}
		return true;
	}
	if (guard.pdoubt) {
		guard.pdoubt = false;
		/* back where it was expected: a glitch, not a step */
		if (abs(guard.pdoubt_e + e) <= thr)
			return true;
		guard_alarm(PPS_GUARD_PHASE);
		guard.ph_off = guard.pdoubt_e + e;
		guard.step = abs(guard.ph_off);
		return false;
	}
	if (abs(e) > thr) {
		guard.pdoubt = true;
		guard.pdoubt_e = e;
		return false;
	}
	guard_learn(e);
	guard.drag += (e - guard.drag) >> G_DRAG_SHIFT;
	if (abs(guard.drag) > guard_drag_limit()) {
		guard_alarm(PPS_GUARD_DRAG);
		return false;
	}
	return true;
}

/*
 * A suspect receiver's pulse, k seconds after the last, only watched.
 *
 * Suspect for its label, date or position alone, the pulse's phase was
 * never in question: it is judged as a trusted receiver's is (no step
 * from one second to the next, no drag, after missing pulses within the
 * oscillator's budget) and the oscillator's frequency u is learnt from it
 * on, so what the VCXO does while the DAC holds (temperature, ageing)
 * stays explained and the receiver, back on time, agrees again after
 * gnss_agree seconds however long it was off.
 *
 * Suspect for its pulse (phase, drag), the pulse is judged against the
 * held-over scale instead, u frozen: it agrees again with no step, no drag
 * (the average, from seconds without a step, kept running against the
 * held frequency), within what the oscillator may have drifted since the
 * alarm, and after a step back by more than half of it (a step that stays
 * is never taken for drift).
 */
static void guard_judge_suspect(s64 e, u32 k, s64 thr)
{
	bool step = k == 1 && abs(e) > thr;

	if (guard.reason != PPS_GUARD_PHASE && guard.reason != PPS_GUARD_DRAG) {
		if (k > 1) {
			guard.phase_ok = abs(e) <= guard_budget(k);
			return;
		}
		if (!step) {
			guard_learn(e);
			guard.drag += (e - guard.drag) >> G_DRAG_SHIFT;
		}
		guard.phase_ok = !step && abs(guard.drag) <= guard_drag_limit();
		return;
	}
	guard.ph_off += e;
	guard.hold_secs += k;
	if (k == 1 && !step)
		guard.drag += (e - guard.drag) >> G_DRAG_SHIFT;
	guard.phase_ok = !step && abs(guard.ph_off) <= guard_budget(guard.hold_secs) &&
			 abs(guard.drag) <= guard_drag_limit() &&
			 (guard.reason != PPS_GUARD_PHASE || 2 * abs(guard.ph_off) < guard.step);
}

/*
 * From the pulse interrupt, before anything is passed on: count is channel
 * 2's capture, code the DAC code the VCXO ran on during the second just
 * ended. False: the pulse goes to nobody (no label, no
 * LinuxPPS, the loop only moves its reference).
 */
bool pps_guard_pulse(u32 count, u16 code)
{
	unsigned long flags;
	s64 now = (s64)ktime_get_ns(), e, thr;
	bool pass = true;
	u32 k = 1, n;

	spin_lock_irqsave(&pps_guard_lock, flags);
	if (!guard_active())
		goto out;
	n = count - guard.last_count;
	if (guard.pulse_seen)
		k = guard_seconds(n, now - guard.pulse_ns);
	if (!k) {
		/* an extra edge: nothing counted, a trusted receiver's is withheld */
		pass = guard.state == PPS_GUARD_QUALIFYING;
		goto out;
	}
	guard.pulse_seen = true;
	guard.pulse_ns = now;
	if (guard.own_valid)
		guard.own_last += k;
	if (!guard.have_count) {
		guard.have_count = true;
		guard.last_count = count;
		goto out;
	}
	guard.last_count = count;
	if (k > G_BUDGET_MAX_SEC) {
		/* gone for weeks: the phase starts anew, the labels still count */
		guard.pdoubt = false;
		guard.phase_ok = true;
		pass = guard.state != PPS_GUARD_SUSPECT;
		goto out;
	}
	e = guard_innovation(n, k, (s32)code - G_CODE_ZERO);
	thr = guard_step_limit();

	switch (guard.state) {
	case PPS_GUARD_QUALIFYING:
		if (k != 1)
			break;
		/* a step once u is known starts the qualifying period again */
		if (guard.u_n >= G_U_SETTLED && abs(e) > thr)
			guard.good_secs = 0;
		else
			guard_learn(e);
		break;
	case PPS_GUARD_TRUSTED:
		pass = guard_judge_trusted(e, k, thr);
		break;
	case PPS_GUARD_SUSPECT:
		guard_judge_suspect(e, k, thr);
		pass = false;
		break;
	}
out:
	spin_unlock_irqrestore(&pps_guard_lock, flags);
	return pass;
}

/* the own label of the next pulse, from the receive worker */
static s64 guard_own_next(void)
{
	s64 since = (s64)ktime_get_ns() - guard.pulse_ns;

	/* a ZDA comes within the second after its pulse; missing pulses count */
	if (since < NSEC_PER_SEC)
		return guard.own_last + 1;
	return guard.own_last + 1 + guard_ns_to_sec(since - NSEC_PER_SEC / 2);
}

/*
 * A ZDA read: t labels the next pulse; follows is today's rule (one second
 * after the last ZDA) and fix the published fix. Returns whether the next
 * pulse takes the label.
 */
bool pps_guard_label(s64 t, bool follows, s32 fix, const struct pps_guard_zda *z)
{
	unsigned long flags;
	bool give = follows && fix > 0;
	int reason;
	s64 own;

	spin_lock_irqsave(&pps_guard_lock, flags);
	guard.label_agrees = false;
	guard.calendar_refused = false;
	if (!guard_active())
		goto out;
	own = guard.own_valid ? guard_own_next() : 0;
	switch (guard.state) {
	case PPS_GUARD_QUALIFYING:
		/* a jump taken (the old rule's follow) starts qualifying again */
		if (give && guard.own_valid && t != own)
			guard.good_secs = 0;
		guard.label_agrees = give;
		break;
	case PPS_GUARD_TRUSTED:
		if (t == own || (z->leap && t == own - 1)) {
			/* at a leap second the own scale repeats a second */
			guard.own_last += t - own;
			guard.tdoubt = false;
			guard.label_agrees = true;
			give = fix > 0;
			break;
		}
		give = false;
		reason = z->month_turn && abs(t - own) == 1 ? PPS_GUARD_LEAP : PPS_GUARD_TIME;
		/* the next ZDA disagreeing as well confirms it */
		if (guard.tdoubt) {
			guard_alarm(guard.tdoubt_reason);
		} else {
			guard.tdoubt = true;
			guard.tdoubt_reason = reason;
		}
		break;
	case PPS_GUARD_SUSPECT:
		guard.label_agrees = t == own || (z->leap && t == own - 1);
		if (guard.label_agrees)
			guard.own_last += t - own;
		give = false;
		break;
	}
out:
	spin_unlock_irqrestore(&pps_guard_lock, flags);
	return give;
}

/*
 * A ZDA refused: its date by the date rule (calendar) or its second 60 out
 * of place (leap). A trusted receiver's next ZDA disagreeing too confirms
 * it (refused again, or going on a second behind after a second 60).
 */
void pps_guard_refused(int reason)
{
	unsigned long flags;

	spin_lock_irqsave(&pps_guard_lock, flags);
	if (!guard_active())
		goto out;
	guard.label_agrees = false;
	if (guard.state == PPS_GUARD_TRUSTED) {
		if (guard.tdoubt) {
			guard_alarm(guard.tdoubt_reason);
		} else {
			guard.tdoubt = true;
			guard.tdoubt_reason = reason;
		}
	} else if (guard.state == PPS_GUARD_QUALIFYING && reason == PPS_GUARD_CALENDAR &&
		   !guard.calendar_refused) {
		/* a receiver without its date at start-up: counted once a spell */
		guard.counts[reason]++;
		guard.good_secs = 0;
	}
	guard.calendar_refused = reason == PPS_GUARD_CALENDAR;
out:
	spin_unlock_irqrestore(&pps_guard_lock, flags);
}

static s64 guard_sq(s64 d)
{
	d = clamp_t(s64, d, -G_DIST_CLAMP, G_DIST_CLAMP);
	return d * d;
}

/* the fix lies within the radius of home (positions in 1e-5 arc minutes) */
static bool guard_inside(s64 lat, s64 lon)
{
	s64 hlat = guard.home_lat >> 8, hlon = guard.home_lon >> 8;
	/* degrees of latitude for the cosine: 6e6 units a degree */
	s64 alat = abs(hlat), dlon = lon - hlon, dy, dx, r;
	u32 deg = 0;

	while (deg < 89 && alat >= 6000000LL * (deg + 1))
		deg++;
	/* across the antimeridian: 360 degrees are 2.16e9 units */
	if (dlon > 1080000000LL)
		dlon -= 2160000000LL;
	else if (dlon < -1080000000LL)
		dlon += 2160000000LL;
	/* one arc minute of latitude is 1852 m: units of 1e-5 m */
	dy = clamp_t(s64, lat - hlat, -G_DIST_CLAMP, G_DIST_CLAMP) * 1852;
	dx = ((clamp_t(s64, dlon, -G_DIST_CLAMP, G_DIST_CLAMP) * 1852) >> 16) * guard_cos[deg];
	r = (s64)min_t(u32, READ_ONCE(gnss_radius), G_RADIUS_MAX) * 100000;
	return guard_sq(dy) + guard_sq(dx) <= r * r;
}

static void guard_home_learn(s64 lat, s64 lon)
{
	u32 shift = G_HOME_SHIFT;

	if (!guard.home_valid) {
		guard.home_lat = lat * 256;
		guard.home_lon = lon * 256;
		guard.home_valid = true;
		guard.home_n = 1;
		return;
	}
	if (guard.home_n < (1U << G_HOME_SHIFT)) {
		shift = 1;
		while ((1U << shift) <= guard.home_n)
			shift++;
		guard.home_n++;
	}
	guard.home_lat += (lat * 256 - guard.home_lat) >> shift;
	guard.home_lon += (lon * 256 - guard.home_lon) >> shift;
}

/* a GGA with a fix at lat, lon (1e-5 arc minutes, north and east positive) */
void pps_guard_position(s64 lat, s64 lon)
{
	unsigned long flags;

	spin_lock_irqsave(&pps_guard_lock, flags);
	if (!guard_active())
		goto out;
	if (guard.state == PPS_GUARD_QUALIFYING && !guard.home_set) {
		guard_home_learn(lat, lon);
		goto out;
	}
	if (!guard.home_valid)
		goto out;
	guard.pos_ok = guard_inside(lat, lon);
	if (guard.pos_ok) {
		guard.pos_out = 0;
	} else if (guard.state == PPS_GUARD_TRUSTED && ++guard.pos_out >= G_POS_CONFIRM) {
		guard_alarm(PPS_GUARD_POSITION);
		guard.pos_ok = false;
	}
out:
	spin_unlock_irqrestore(&pps_guard_lock, flags);
}

/*
 * The end of a second's evaluation with its published fix: qualifying and
 * agreeing again count here.
 */
void pps_guard_second(s32 fix)
{
	unsigned long flags;
	bool good;

	spin_lock_irqsave(&pps_guard_lock, flags);
	if (!guard_active())
		goto out;
	good = fix > 0 && guard.label_agrees && guard.pos_ok;
	switch (guard.state) {
	case PPS_GUARD_QUALIFYING:
		/* a second without a fix or a label only pauses the count */
		if (good && guard.own_valid && ++guard.good_secs >= READ_ONCE(gnss_qualify))
			guard_trust();
		break;
	case PPS_GUARD_SUSPECT:
		if (good && guard.phase_ok)
			guard.good_secs++;
		else
			guard.good_secs = 0;
		if (guard.good_secs >= READ_ONCE(gnss_agree))
			guard_trust();
		break;
	default:
		break;
	}
	guard.label_agrees = false;
out:
	spin_unlock_irqrestore(&pps_guard_lock, flags);
}

/* a label handed to a pulse: the own scale takes it while qualifying */
void pps_guard_labelled(s64 label)
{
	unsigned long flags;

	spin_lock_irqsave(&pps_guard_lock, flags);
	if (guard_active() && guard.state == PPS_GUARD_QUALIFYING) {
		guard.own_last = label;
		guard.own_valid = true;
	}
	spin_unlock_irqrestore(&pps_guard_lock, flags);
}

bool pps_guard_suspect(void)
{
	return READ_ONCE(guard.state) == PPS_GUARD_SUSPECT && READ_ONCE(gnss_guard);
}

/* while suspect the holdover bookkeeping sees no fix */
s32 pps_guard_fix(s32 fix)
{
	return pps_guard_suspect() ? 0 : fix;
}

/*
 * A trusted receiver's time may leave this second (records for the PHYs):
 * neither its label nor its pulse is in doubt.
 */
bool pps_guard_time_ok(void)
{
	unsigned long flags;
	bool ok;

	spin_lock_irqsave(&pps_guard_lock, flags);
	ok = !guard_active() || guard.state == PPS_GUARD_QUALIFYING ||
	     (guard.state == PPS_GUARD_TRUSTED && !guard.tdoubt && !guard.pdoubt);
	spin_unlock_irqrestore(&pps_guard_lock, flags);
	return ok;
}

void pps_guard_accept(void)
{
	unsigned long flags;

	spin_lock_irqsave(&pps_guard_lock, flags);
	if (guard_active()) {
		guard_restart();
		pr_notice("kx_pps: GNSS receiver's time accepted by the operator: qualifying\n");
	}
	spin_unlock_irqrestore(&pps_guard_lock, flags);
}

void pps_guard_status(struct pps_guard_status *st)
{
	unsigned long flags;

	spin_lock_irqsave(&pps_guard_lock, flags);
	guard_active();
	st->state = guard_state_names[guard.state];
	st->reason = guard_reason_names[guard.state == PPS_GUARD_SUSPECT ?
					guard.reason : PPS_GUARD_NONE];
	st->since = guard.since;
	memcpy(st->counts, guard.counts, sizeof(st->counts));
	st->home_valid = guard.home_valid;
	st->home_lat = guard.home_lat >> 8;
	st->home_lon = guard.home_lon >> 8;
	spin_unlock_irqrestore(&pps_guard_lock, flags);
}

const char *pps_guard_reason_name(int reason)
{
	return guard_reason_names[reason];
}

void pps_guard_set_home(s64 lat, s64 lon)
{
	unsigned long flags;

	spin_lock_irqsave(&pps_guard_lock, flags);
	guard.home_lat = lat * 256;
	guard.home_lon = lon * 256;
	guard.home_valid = true;
	guard.home_set = true;
	guard.home_n = 1U << G_HOME_SHIFT;
	guard.pos_out = 0;
	guard.pos_ok = true;
	spin_unlock_irqrestore(&pps_guard_lock, flags);
}

/* at load: everything from the start, the counters too */
void pps_guard_init(void)
{
	unsigned long flags;

	spin_lock_irqsave(&pps_guard_lock, flags);
	memset(&guard, 0, sizeof(guard));
	guard.enabled = READ_ONCE(gnss_guard) != 0;
	if (guard.enabled)
		guard_restart();
	guard.state = guard.enabled ? PPS_GUARD_QUALIFYING : PPS_GUARD_OFF;
	guard.since = 0;
	spin_unlock_irqrestore(&pps_guard_lock, flags);
}
