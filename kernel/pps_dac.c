// SPDX-License-Identifier: GPL-2.0
/*
 * kx_pps: the VCXO's tuning DAC (TI DAC8571 on I2C adapter 1 at 0x4C), the
 * correction figures shown to user space, and the holdover bookkeeping.
 *
 * The DAC is written only after an accepted pulse, from the ordered DAC
 * work queue; when pulses stop the DAC keeps its last code and the VCXO
 * free-runs on it. Holdover is the count of seconds the time has been
 * carried without a fix and whether that is still acceptable.
 */
#include <linux/i2c.h>
#include <linux/kernel.h>
#include <linux/math64.h>
#include <linux/moduleparam.h>
#include <linux/mutex.h>
#include <linux/rcupdate.h>
#include <linux/sysfs.h>

#include "kx_pps.h"

struct i2c_client *dac_client;
/*
 * The code the DAC holds: the last one it acknowledged. The VCXO runs on
 * this one, not on the loop's latest output: a write refused on the bus,
 * one still waiting in the queue, or none made at all (the timer device
 * not probed, so no DAC queue) leaves it where it was. Written by the DAC
 * work and the write at load, read by the pulse interrupt.
 */
u16 dac_code_held = DAC_CODE_MID;
DECLARE_WORK(dac_work, dac_work_func);
struct workqueue_struct __rcu *dac_workq;
s64 integ_fp_old;

bool time_known;
s32 holdover_time_sec;

/*
 * The site's holdover limit in seconds, 0 for none: how long the time is
 * vouched for without a fix. One value with two names: the module
 * parameter holdover_limit, which modprobe sets at every load from
 * /etc/modprobe.d/kx-pps.conf (a reload would otherwise start with no
 * limit) and which can be written at run time under
 * /sys/module/kx_pps/parameters, and the attribute holdover_setting under
 * /sys/pps_filter. A write to either is what both read back, and it takes
 * effect at the next second's holdover update.
 */
s32 holdover_setting;
module_param_named(holdover_limit, holdover_setting, int, 0644);
MODULE_PARM_DESC(holdover_limit,
		 "seconds without a fix the time is vouched for (0: no limit); holdover_setting too");

/*
 * Correction (2^26 fixed point) to DAC code: 0x7FFF is no correction, one
 * code step is about 65,537 units; beyond +-2^31 the code saturates.
 */
u16 pps_dac_code(s64 x)
{
	if (x > KX_INTEG_LIMIT)
		return 0xFFFF;
	if (x < -KX_INTEG_LIMIT)
		return 0x0000;
	/* |x * 65535| < 2^47; the division by 2^32 truncates toward zero */
	return (u16)(0x7FFF + (x * 65535) / (1LL << 32));
}

/* one 3-byte message: write the input register and update the output */
int dac_write(u16 code)
{
	u8 msg[3] = { DAC_CTRL_WRITE_UPDATE, code >> 8, code & 0xFF };
	int ret;

	ret = i2c_master_send(dac_client, (const char *)msg, sizeof(msg));
	if (ret != sizeof(msg)) {
		pr_info("ppsdac: unable to send data to device: %d\n", ret);
		return ret < 0 ? ret : -EIO;
	}
	WRITE_ONCE(dac_code_held, code);
	return 0;
}

int write_integ(s64 x)
{
	return dac_write(pps_dac_code(x));
}

/* writes the latest value: queuing twice before a run writes once */
void dac_work_func(struct work_struct *work)
{
	write_integ(READ_ONCE(filtered_integ));
}

/*
 * From the pulse interrupt and the prv_integ_fp store. The queue is held
 * only inside the read-side section: removal unpublishes it and waits for
 * a grace period before it cancels the work and destroys the queue, so no
 * caller that found it can queue onto a destroyed one.
 */
void pps_dac_queue(void)
{
	struct workqueue_struct *wq;

	rcu_read_lock();
	wq = rcu_dereference(dac_workq);
	if (wq)
		queue_work(wq, &dac_work);
	rcu_read_unlock();
}

/* the correction in units of 2^26 with four decimals, e.g. "-0.5000" */
ssize_t pps_freqcorr_text(char *buf)
{
	s32 num = READ_ONCE(integ_num);
	s32 dec = READ_ONCE(integ_dec);
	char sign = READ_ONCE(filtered_integ) >= 0 ? ' ' : '-';
	/* magnitudes as unsigned: no overflow for S32_MIN */
	u32 unum = num < 0 ? -(u32)num : (u32)num;
	u32 udec = dec < 0 ? -(u32)dec : (u32)dec;

	return sysfs_emit(buf, "%c%u.%04u\n", sign, unum, udec);
}

/*
 * Average change of the loop output per accepted pulse since the previous
 * read, divided by 100. Reading restarts the averaging; a pulse landing
 * between the read and the zeroing of filt_kount goes uncounted.
 */
ssize_t pps_freqcorrdelta_text(char *buf)
{
	s64 now = READ_ONCE(integ_fp);
	s64 d = now - integ_fp_old;
	s32 n;

	integ_fp_old = now;
	n = READ_ONCE(filt_kount);
	WRITE_ONCE(filt_kount, 0);
	if (n <= 0)
		return sysfs_emit(buf, "none\n");
	/* n * 100 in 64 bits: no overflow however long nobody read */
	return sysfs_emit(buf, "%lld\n", div64_s64(d, (s64)n * 100));
}

/*
 * The seconds are accounted by two writers, the GPS receive worker and the
 * NMEA timeout monitor (each on its own work queue): one update at a time,
 * so neither loses the other's count. The readers (pulse interrupt,
 * attributes) take no lock: each variable is one whole word.
 */
static DEFINE_MUTEX(pps_holdover_lock);

static void pps_holdover_account(s32 fix, s32 seconds)
{
	s32 held;
	s32 limit;

	if (!READ_ONCE(gps_time_set)) {
		WRITE_ONCE(time_known, false);
		return;
	}
	/* the phase-and-frequency loop holds its frequency without a fix */
	pps_pll_fix(fix > 0);
	if (fix > 0) {
		WRITE_ONCE(holdover_time_sec, 0);
		WRITE_ONCE(time_known, true);
		return;
	}
	held = READ_ONCE(holdover_time_sec);
	held = held > S32_MAX - seconds ? S32_MAX : held + seconds;
	WRITE_ONCE(holdover_time_sec, held);
	limit = READ_ONCE(holdover_setting);
	WRITE_ONCE(time_known, limit == 0 || held < limit);
}

/*
 * Time-known bookkeeping, run by the GPS receive worker once per GPS second
 * (a ZDA matching its GGA), after that second's fix has been settled.
 */
void pps_holdover_update(s32 fix)
{
	mutex_lock(&pps_holdover_lock);
	pps_holdover_account(fix, 1);
	mutex_unlock(&pps_holdover_lock);
}

/*
 * From the NMEA timeout monitor: `seconds` have passed without a ZDA, so
 * without a fix. A silent receiver (dead, its UART broken) runs no second
 * through the update above; counted here, the holdover limit still expires
 * and the time stops being known, instead of being vouched for for ever.
 */
void pps_holdover_silent(s32 seconds)
{
	mutex_lock(&pps_holdover_lock);
	pps_holdover_account(0, seconds);
	mutex_unlock(&pps_holdover_lock);
}
