// SPDX-License-Identifier: GPL-2.0
/*
 * Removal of the timer device against everything that may still be using
 * its per-device record or the DAC work queue: the pulse interrupt, the
 * attribute handlers. Each case stops the user right after it fetched the
 * pointer and runs the removal on the second CPU there (<kxhost/race.h>);
 * the user must then finish on memory that is still alive, and the
 * removal must leave no work behind on a destroyed queue. Memory released
 * by the removal is poisoned, so a use after it shows in every build.
 */
#include <string.h>

#include "kx_board.h"
#include "ktest.h"

static void remove_timer(void *arg)
{
	kxh_platform_device_del(kb.timer);
}

static void remove_on_cpu2(void *arg)
{
	kxh_cpu2_start(remove_timer, NULL);
}

static void park(void *arg)
{
	kxh_cpu2_park();
}

static void resume(void *arg)
{
	kxh_cpu2_resume();
}

/* a loaded board whose first pulse has set the loop's reference */
static void board_running(void)
{
	kb_load(0);
	KT_TRUE(g_pps != NULL);
	kb_pulse(1000);
	g_pps->phy_i[0].last_delta = -200;
	g_pps->phy_i[1].last_delta = 300;
	WRITE_ONCE(time_known, true);
}

/* the removal is complete and left nothing queued that could still run */
static void removed_cleanly(void)
{
	kxh_cpu2_join();
	kb.timer = NULL;
	KT_EQ(kxh_race_armed_points(), 0);
	KT_TRUE(g_pps == NULL);
	KT_TRUE(dac_workq == NULL);
	KT_FALSE(work_pending(&dac_work));
	KT_FALSE(work_pending(&gps_ppsled_work));
	KT_EQ(kxh_kthreads(), 0);
	kxh_wq_run_all();
}

static const struct use_row {
	const char *name;
	const void *word;	/* the pointer fetched before the removal runs */
	const char *file;	/* attribute, or NULL for a pulse */
	const char *text;	/* written, or NULL to read the file */
	const char *shows;
} uses[] = {
	{ "manualtime store", &g_pps, "pps_filter/manualtime", "1", NULL },
	{ "ppsled store", &g_pps, "pps_filter/ppsled", "1", NULL },
	{ "phy_delta1 show", &g_pps, "pps_filter/phy_delta1", NULL, "-200\n" },
	{ "phy_delta2 show", &g_pps, "pps_filter/phy_delta2", NULL, "300\n" },
	{ "prv_integ_fp store", &dac_workq, "pps_filter/prv_integ_fp", "5", NULL },
	{ "pulse, LinuxPPS and LED", &g_pps, NULL, NULL, NULL },
	{ "pulse, DAC queue", &dac_workq, NULL, NULL, NULL },
};
static const struct use_row *use;

static void remove_while_in_use(void)
{
	char buf[64] = "";
	ssize_t ret;

	board_running();
	kxh_race_after_read(use->word, remove_on_cpu2, NULL);
	if (!use->file)
		ret = kb_pulse(1000 + KX_N0) == IRQ_HANDLED;
	else if (use->text)
		ret = kxh_sysfs_write(use->file, use->text);
	else
		ret = kxh_sysfs_read(use->file, buf, sizeof(buf));
	removed_cleanly();
	/* the user found the device before it went, so it did its whole job */
	if (!use->file)
		KT_EQ(ret, 1);
	else if (use->text)
		KT_EQ(ret, (ssize_t)strlen(use->text));
	else
		KT_STREQ(buf, use->shows);
}

KTEST(removal_waits_for_users_of_the_record_and_dac_queue)
{
	KT_ROWS(r, uses) {
		use = r;
		KT_TRUE(ktest_passes(remove_while_in_use));
	}
}

/*
 * A pulse that arrives while removal is already under way (past the point
 * where the record was unpublished) and fetches the DAC queue just before
 * removal unpublishes it: removal must not destroy the queue under it.
 */
KTEST(a_pulse_during_removal_never_queues_on_a_destroyed_dac_queue)
{
	board_running();
	/* removal stops at its first port thread, the record already unpublished */
	kxh_race_at("kthread_stop", park, NULL);
	kxh_cpu2_start(remove_timer, NULL);
	KT_FALSE(kxh_cpu2_done());
	KT_TRUE(g_pps == NULL);
	/* the pulse fetches the DAC queue, then removal runs on */
	kxh_race_after_read(&dac_workq, resume, NULL);
	KT_EQ(kb_pulse(1000 + KX_N0), IRQ_HANDLED);
	removed_cleanly();
}
