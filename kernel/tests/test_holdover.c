// SPDX-License-Identifier: GPL-2.0
/* Time-known bookkeeping: every holdover transition. */
#include <string.h>

#include "kx_fixture.h"
#include "ktest.h"

#define N0 25000000U

/* one holdover update: the limit then, the fix, and what follows */
struct update {
	s32 setting;
	int fix;
	s32 count;
	bool known;
};

static void update(const struct update *u)
{
	holdover_setting = u->setting;
	pps_holdover_update(u->fix);
	KT_EQ(holdover_time_sec, u->count);
	KT_EQ(time_known, u->known);
}

KTEST(no_time_before_the_first_gps_time_whatever_the_fix)
{
	static const struct update rows[] = { { 0, 1, 4, 0 }, { 0, 2, 4, 0 }, { 0, 0, 4, 0 } };

	holdover_time_sec = 4;
	KT_ROWS(u, rows)
		update(u);
}

KTEST(the_first_pulse_after_a_gps_time_makes_the_time_known)
{
	fx_board();
	gGPSTime.pending = 1;
	fx_pulse(1);
	KT_EQ(gps_time_set, 1);
	pps_holdover_update(1);
	KT_TRUE(time_known);
	KT_EQ(holdover_time_sec, 0);
}

KTEST(holdover_limit_three_expires_at_the_third_second)
{
	static const struct update rows[] = {
		{ 3, 2, 0, 1 }, { 3, 0, 1, 1 }, { 3, 0, 2, 1 }, { 3, 0, 3, 0 }, { 3, 0, 4, 0 },
		/* the fix back: locked, count restarted */
		{ 3, 1, 0, 1 }, { 3, 0, 1, 1 },
	};

	gps_time_set = 1;
	KT_ROWS(u, rows)
		update(u);
}

KTEST(no_limit_keeps_the_time_known_indefinitely)
{
	int i;

	gps_time_set = 1;
	pps_holdover_update(1);
	for (i = 0; i < 100000; i++) {
		pps_holdover_update(0);
		KT_TRUE(time_known);
	}
	KT_EQ(holdover_time_sec, 100000);
}

KTEST(changing_the_limit_takes_effect_at_the_next_update)
{
	static const struct update rows[] = {
		{ 2, 1, 0, 1 }, { 2, 0, 1, 1 }, { 2, 0, 2, 0 },	/* expired at 2 */
		{ 10, 0, 3, 1 }, { 3, 0, 4, 0 }, { 0, 0, 5, 1 },
	};

	gps_time_set = 1;
	KT_ROWS(u, rows)
		update(u);
}

KTEST(holdover_count_saturates)
{
	gps_time_set = 1;
	holdover_time_sec = S32_MAX - 1;
	pps_holdover_update(0);
	pps_holdover_update(0);
	KT_EQ(holdover_time_sec, S32_MAX);
	KT_TRUE(time_known);
}

KTEST(the_led_follows_the_time_known_state)
{
	fx_board();
	fx_probed();
	gGPSTime.pending = 1;
	fx_pulse(1);			/* gps_time_set, time not yet known */
	pps_holdover_update(1);
	fx_pulse(1 + N0);		/* locked: flash */
	kxh_wq_run_all();
	holdover_setting = 1;
	pps_holdover_update(0);		/* expired */
	fx_pulse(1 + 2 * N0);
	kxh_wq_run_all();
	KT_EQ(kxh_gpio_changes(g_pps->led_gpio), 2);
	KT_EQ(kxh_pps_events(g_pps->pps_src), 3);
}
