// SPDX-License-Identifier: GPL-2.0
#include <stdio.h>
#include <stdlib.h>

#include "kx_board.h"
#include "kx_serial.h"
#include "kernel_side.h"

/* the oscillator's cycles per second at its nominal frequency */
#define CYCLES_PER_PULSE 25000000u

static struct file *nmea_reader;
static u32 tpm4_count;

void ks_load(int64_t real_ns)
{
	int err;

	kb_load(0);
	sx_add_uart(0, false);
	nmea_reader = kxh_file_open("/dev/kx_pps", O_RDONLY | O_NONBLOCK, &err);
	if (!g_ctx || !nmea_reader) {
		fprintf(stderr, "campaign: module set-up failed (%d)\n", err);
		abort();
	}
	ks_set_real_ns(real_ns);
	ks_forget();
}

void ks_unload(void)
{
	kxh_file_close(nmea_reader);
	kxh_module_exit();
}

int64_t ks_mono_ns(void)
{
	return kxh_time_mono_ns();
}

int64_t ks_real_ns(void)
{
	return kxh_time_real_ns();
}

void ks_set_real_ns(int64_t real_ns)
{
	s64 sec = real_ns / 1000000000, nsec = real_ns % 1000000000;

	if (nsec < 0) {
		sec--;
		nsec += 1000000000;
	}
	kxh_time_set_real(sec, (long)nsec);
}

void ks_advance_to(int64_t mono_ns)
{
	s64 d = mono_ns - kxh_time_mono_ns();

	if (d > 0)
		kxh_time_advance_ns(d);
}

int ks_pulse(int64_t *label)
{
	int pending = READ_ONCE(gGPSTime.pending);

	*label = gGPSTime.ts.tv_sec;
	tpm4_count += CYCLES_PER_PULSE;
	kb_pulse(tpm4_count);
	return pending;
}

void ks_receive(const uint8_t *data, size_t len, int other_worker)
{
	while (len) {
		size_t took = kxh_serdev_receive(sx_uart, data, len);

		/* the bus keeps what did not fit until the worker made room */
		if (other_worker)
			kxh_work_run(&g_ctx->rx_work);
		else
			kxh_wq_run(system_wq);
		data += took;
		len -= took;
	}
}

void ks_run_work(void)
{
	kxh_wq_run_all();
}

unsigned int ks_clock_steps(void)
{
	return kxh_time_settime_count();
}

int ks_take_record(int idx, int64_t *gps_sec, int32_t *fix)
{
	struct pps_uart_time rec;

	if (pps_uart_get_time_nowait(&rec, idx))
		return 0;
	*gps_sec = rec.gps_sec;
	*fix = rec.fix;
	return 1;
}

int32_t ks_published_fix(void)
{
	return READ_ONCE(gGPSFix);
}

size_t ks_read_nmea(uint8_t *buf, size_t cap)
{
	size_t got = 0;

	while (got < cap) {
		ssize_t n = kxh_file_read(nmea_reader, buf + got, cap - got);

		if (n <= 0)
			break;
		got += (size_t)n;
	}
	return got;
}

void ks_forget(void)
{
	kxh_log_clear();
	kxh_i2c_clear();
	kxh_serdev_tx_clear(sx_uart);
}

int64_t ks_zda_label(const char *line, size_t len)
{
	static struct pps_uart_ctx ctx;

	gGPSTime.ts.tv_sec = S64_MIN;
	pps_process_gpzda(&ctx, line, len);
	return gGPSTime.ts.tv_sec;
}
