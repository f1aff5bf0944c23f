// SPDX-License-Identifier: GPL-2.0
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kx_serial.h"

struct serdev_device *sx_uart;

static void must(int ok, const char *what)
{
	if (!ok) {
		fprintf(stderr, "serial fixture: %s failed\n", what);
		abort();
	}
}

void sx_module(void)
{
	must(pps_fifo_init() == 0, "pps_fifo_init");
	must(chardev_init() == 0, "chardev_init");
	must(pps_uart_init() == 0, "pps_uart_init");
}

struct serdev_device *sx_add_uart(u32 speed, bool flow)
{
	sx_uart = kxh_serdev_new("quellon,pps-uart");
	if (speed)
		kxh_prop_set_u32(&sx_uart->dev, "current-speed", speed);
	if (flow)
		kxh_prop_set_flag(&sx_uart->dev, "hw-flow-control");
	kxh_serdev_add(sx_uart);
	return sx_uart;
}

void sx_bound(void)
{
	sx_module();
	sx_add_uart(0, false);
	must(kxh_serdev_bound(sx_uart) && g_ctx, "binding the UART");
	kxh_serdev_tx_clear(sx_uart);
	kxh_log_clear();
}

void sx_feed(const void *data, size_t len)
{
	size_t took = kxh_serdev_receive(sx_uart, data, len);

	must(took == len, "receiving");
	kxh_wq_run(system_wq);
}

void sx_feeds(const char *text)
{
	sx_feed(text, strlen(text));
}

void sx_utc(s64 sec, char *hhmmss, int *day, int *mon, int *year)
{
	s64 days = sec / 86400, rem = sec % 86400;
	/* civil date from days since 1970-01-01 (proleptic Gregorian) */
	s64 z = days + 719468, era = z / 146097;
	s64 doe = z - era * 146097;
	s64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
	s64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
	s64 mp = (5 * doy + 2) / 153;
	s64 d = doy - (153 * mp + 2) / 5 + 1;
	s64 m = mp < 10 ? mp + 3 : mp - 9;

	*year = (int)(yoe + era * 400 + (m <= 2));
	*mon = (int)m;
	*day = (int)d;
	sprintf(hhmmss, "%02d%02d%02d", (int)(rem / 3600), (int)(rem / 60 % 60), (int)(rem % 60));
}

unsigned int sx_checksum(const char *body)
{
	unsigned int sum = 0;

	while (*body)
		sum ^= (unsigned char)*body++;
	return sum;
}

char *sx_sentence(char *out, size_t size, const char *body)
{
	snprintf(out, size, "$%s*%02X", body, sx_checksum(body));
	return out;
}

/* the sentence reaches the UART; the receive worker runs when run is set */
static void feed_sentence(const char *body, bool run)
{
	char line[160];

	sx_sentence(line, sizeof(line) - 2, body);
	strcat(line, "\r\n");
	if (run)
		sx_feeds(line);
	else
		must(kxh_serdev_receive(sx_uart, line, strlen(line)) == strlen(line), "receiving");
}

static void gga(s64 sec, int fix, bool run)
{
	char hms[16], body[128];
	int d, m, y;

	sx_utc(sec, hms, &d, &m, &y);
	snprintf(body, sizeof(body),
		 "GPGGA,%s.000,4807.0380,N,01131.0000,E,%d,08,0.9,545.4,M,46.9,M,,", hms, fix);
	feed_sentence(body, run);
}

static void zda(s64 sec, bool run)
{
	char hms[16], body[128];
	int d, m, y;

	sx_utc(sec, hms, &d, &m, &y);
	snprintf(body, sizeof(body), "GPZDA,%s.000,%02d,%02d,%04d,00,00", hms, d, m, y);
	feed_sentence(body, run);
}

void sx_gga(s64 sec, int fix)
{
	gga(sec, fix, true);
}

void sx_zda(s64 sec)
{
	zda(sec, true);
}

void sx_receive_second(s64 sec, int fix)
{
	gga(sec, fix, false);
	zda(sec, false);
}

void sx_second(s64 sec, int fix)
{
	sx_gga(sec, fix);
	sx_zda(sec);
}

size_t sx_drain(char *buf, size_t size)
{
	struct file *f;
	size_t got = 0;
	int err;

	f = kxh_file_open("/dev/kx_pps", O_RDONLY | O_NONBLOCK, &err);
	must(f != NULL, "opening /dev/kx_pps");
	for (;;) {
		ssize_t n = kxh_file_read(f, buf + got, size - got);

		if (n <= 0)
			break;
		got += (size_t)n;
		if (got == size)
			break;
	}
	kxh_file_close(f);
	return got;
}

unsigned int sx_sent(const char *text)
{
	unsigned int i, n = 0;
	size_t len = strlen(text);

	for (i = 0; i < kxh_serdev_writes(sx_uart); i++) {
		struct kxh_serdev_write w = kxh_serdev_write_get(sx_uart, i);

		if (w.len == len && !memcmp(kxh_serdev_write_data(sx_uart, i), text, len))
			n++;
	}
	return n;
}
