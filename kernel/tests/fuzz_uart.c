// SPDX-License-Identifier: GPL-2.0
/*
 * libFuzzer target: arbitrary bytes from the receiver through the serial
 * link's receive callback and worker (line assembly, sentence dispatch,
 * both parsers, the second's evaluation, the line queue), with the
 * timeout monitor, mode requests, /dev/kx_pps reads and the exported time
 * calls mixed in. The module state carries over from input to input, as it
 * would in a running kernel.
 *
 * Input: chunks of bytes; a chunk's first byte picks its length and, for a
 * few values, an action between chunks.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kx_serial.h"

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static struct file *reader;

static void set_up(void)
{
	int err;

	sx_module();
	sx_add_uart(0, false);
	if (!g_ctx)
		abort();
	gps_time_set = 1;
	holdover_setting = 3;
	reader = kxh_file_open("/dev/kx_pps", O_RDONLY | O_NONBLOCK, &err);
	if (!reader)
		abort();
}

/* the queue holds whole lines unless a device write broke the framing */
static void read_some(size_t want)
{
	char buf[300];
	ssize_t n = kxh_file_read(reader, buf, want < sizeof(buf) ? want : sizeof(buf));

	if (n > 256)
		abort();
}

static void receive(const uint8_t *p, size_t n)
{
	while (n) {
		size_t took = kxh_serdev_receive(sx_uart, p, n);

		/* the bus keeps what did not fit; the worker makes room */
		kxh_wq_run(system_wq);
		p += took;
		n -= took;
	}
}

static void action(uint8_t a, uint8_t arg)
{
	struct pps_uart_time rec;
	struct workqueue_struct *mon = kxh_wq_find("nmea_timeout_mon");

	switch (a) {
	case 0xF0:	/* silence: the monitor fires */
		kxh_time_advance_ns(5LL * 1000000000LL);
		if (mon)
			kxh_wq_run(mon);
		break;
	case 0xF1:	/* a gpsmode request, 0..6 valid */
		gGPSMode = (s32)(arg % 10) - 1;
		gSetGPSMode = true;
		break;
	case 0xF2:	/* a PHY thread takes its record */
		if (pps_uart_get_time_nowait(&rec, arg & 1) == 0 && rec.gps_nsec)
			abort();
		break;
	case 0xF3:
		read_some(arg);
		break;
	case 0xF4:	/* a pulse consumed the pending second */
		gGPSTime.pending = 0;
		break;
	default:
		break;
	}
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	static int up;
	size_t off = 0;

	if (!up) {
		set_up();
		up = 1;
	}
	while (off < size) {
		uint8_t c = data[off];
		size_t n;

		if (c >= 0xF0 && off + 1 < size) {
			action(c, data[off + 1]);
			off += 2;
			continue;
		}
		/* chunks of 1 to 128 bytes, the selector byte included */
		n = 1 + (c & 0x7F);
		if (n > size - off)
			n = size - off;
		receive(data + off, n);
		off += n;
	}
	if (g_ctx->line_len > PPS_UART_LINE_MAX || gpsfix_kount > 20 ||
	    gGPSFix < 0 || gGPSFix > 2 || g_ctx->gga_fix > 2)
		abort();
	/* keep the host's records from growing without end */
	kxh_log_clear();
	kxh_serdev_tx_clear(sx_uart);
	read_some(256);
	return 0;
}
