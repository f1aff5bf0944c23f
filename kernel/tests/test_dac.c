// SPDX-License-Identifier: GPL-2.0
/* DAC codes and messages, and the freqcorr / freqcorrdelta texts. */
#include <string.h>

#include "kx_fixture.h"
#include "ktest.h"

#define N0 25000000U

KTEST(dac_code_table_with_saturation)
{
	static const struct { s64 x; u16 code; } cases[] = {
		{ 0, 0x7FFF }, { 134200, 0x8001 }, { -134200, 0x7FFD },
		{ 1LL << 26, 0x83FE }, { -(1LL << 26), 0x7C00 },
		{ 1LL << 31, 0xFFFE }, { (1LL << 31) + 1, 0xFFFF },
		{ -(1LL << 31), 0x0000 }, { -(1LL << 31) - 1, 0x0000 },
		{ S64_MAX, 0xFFFF }, { S64_MIN, 0x0000 },
		{ 65538, 0x8000 }, { 65537, 0x7FFF }, { -65537, 0x7FFF }, { -65538, 0x7FFE },
	};

	KT_ROWS(r, cases)
		KT_EQ(pps_dac_code(r->x), r->code);
}

KTEST(dac_message_is_three_bytes_to_0x4c)
{
	const struct kxh_i2c_rec *r;

	fx_board();
	KT_EQ(dac_write(0x8000), 0);
	KT_EQ(write_integ(-(1LL << 26)), 0);
	KT_EQ(kxh_i2c_count(), 2);
	r = kxh_i2c_get(0);
	KT_EQ(r->bus, 1);
	KT_EQ(r->addr, 0x4C);
	KT_EQ(r->flags, 0);
	KT_EQ(r->len, 3);
	KT_EQ(r->data[0], 0x10);
	KT_EQ(r->data[1], 0x80);
	KT_EQ(r->data[2], 0x00);
	r = kxh_i2c_get(1);
	KT_EQ(r->data[0], 0x10);
	KT_EQ(r->data[1], 0x7C);
	KT_EQ(r->data[2], 0x00);
}

KTEST(failed_transfer_is_logged_once_without_retry)
{
	fx_board();
	kxh_i2c_fail(1, 1, -EREMOTEIO);
	KT_EQ(dac_write(0x1234), -EREMOTEIO);
	KT_EQ(kxh_log_count_exact(6, "ppsdac: unable to send data to device: -121\n"), 1);
	KT_EQ(kxh_i2c_count(), 0);
	kxh_i2c_fail(1, 1, 2);
	KT_EQ(dac_write(0x1234), -EIO);
	KT_EQ(kxh_log_count_exact(6, "ppsdac: unable to send data to device: 2\n"), 1);
	KT_EQ(kxh_i2c_count(), 1);
	KT_EQ(dac_write(0x1234), 0);
	KT_EQ(kxh_log_count(), 2);
}

KTEST(dac_work_writes_filtered_integ_as_it_is_when_run)
{
	fx_board();
	filtered_integ = 1LL << 26;
	pps_dac_queue();
	pps_dac_queue();
	filtered_integ = -(1LL << 26);
	KT_EQ(kxh_wq_run(dac_workq), 1);
	KT_EQ(fx_dac_writes(), 1);
	KT_EQ(fx_dac_code(0), 0x7C00);
	/* the ordered queue is named after the device and can run under memory pressure */
	KT_TRUE(kxh_wq_flags(dac_workq) & WQ_MEM_RECLAIM);
}

static const char *text(ssize_t (*fn)(char *), char *out, size_t size)
{
	char *page = kxh_page_alloc();
	ssize_t n = fn(page);

	KT_EQ(n, strlen(page));
	snprintf(out, size, "%s", page);
	kxh_page_free(page);
	return out;
}

static void set_value(s64 v)
{
	filtered_integ = v;
	pps_set_integ_parts(v);
}

KTEST(freqcorr_text)
{
	static const struct { s64 v; const char *t; } cases[] = {
		{ -(1LL << 25), "-0.5000\n" }, { 3LL << 26, " 3.0000\n" },
		{ 0, " 0.0000\n" }, { 134200, " 0.0019\n" }, { -134200, "-0.0019\n" },
		{ -1, "-0.0000\n" }, { -(5LL << 26) - 6711, "-5.0001\n" },
		{ 1LL << 31, " 32.0000\n" }, { -(1LL << 31), "-32.0000\n" },
		{ S64_MIN, "-2147483648.0000\n" },
	};
	char buf[64];

	KT_ROWS(r, cases) {
		set_value(r->v);
		if (r->v == S64_MIN) {
			/* magnitudes cannot overflow even at the extreme */
			integ_num = S32_MIN;
			integ_dec = 0;
		}
		KT_STREQ(text(pps_freqcorr_text, buf, sizeof(buf)), r->t);
	}
}

KTEST(freqcorrdelta_none_without_pulses_then_average_per_pulse)
{
	char buf[64];

	fx_board();
	fx_pulse(1);
	KT_STREQ(text(pps_freqcorrdelta_text, buf, sizeof(buf)), "none\n");
	KT_STREQ(text(pps_freqcorrdelta_text, buf, sizeof(buf)), "none\n");
	/* ten pulses raising integ_fp by 13,420,000 in all */
	fx_pulses(N0 - 10, 10);
	KT_EQ(integ_fp, 13420000);
	KT_STREQ(text(pps_freqcorrdelta_text, buf, sizeof(buf)), "13420\n");
	KT_EQ(filt_kount, 0);
	KT_EQ(integ_fp_old, 13420000);
	KT_STREQ(text(pps_freqcorrdelta_text, buf, sizeof(buf)), "none\n");
	/* truncation toward zero, both signs: 2013 / 300 and -2013 / 300 */
	k1_hundred_thou_value = 1;
	fx_pulses(N0 - 1, 3);
	KT_STREQ(text(pps_freqcorrdelta_text, buf, sizeof(buf)), "6\n");
	fx_pulses(N0 + 1, 3);
	KT_STREQ(text(pps_freqcorrdelta_text, buf, sizeof(buf)), "-6\n");
	/* rejected and paused pulses do not count */
	fx_pulses(N0 + 500, 2);
	filter_pause = true;
	fx_pulses(N0, 2);
	KT_STREQ(text(pps_freqcorrdelta_text, buf, sizeof(buf)), "none\n");
}

KTEST(freqcorrdelta_count_cannot_overflow)
{
	char buf[64];

	integ_fp = 300000000;
	filt_kount = S32_MAX;	/* 68 years of pulses nobody read */
	KT_STREQ(text(pps_freqcorrdelta_text, buf, sizeof(buf)), "0\n");
	integ_fp = -(1LL << 31);
	integ_fp_old = 1LL << 31;
	filt_kount = 1;
	KT_STREQ(text(pps_freqcorrdelta_text, buf, sizeof(buf)), "-42949672\n");
}
