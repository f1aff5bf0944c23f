// SPDX-License-Identifier: GPL-2.0
/*
 * Guest-side checks of kx-pps on the arm64 qemu board (run by
 * qemu_arm64_init.sh, built statically by qemu_arm64.sh).
 *
 *   qemu_arm64_check pps DEV N     N assert events through the LinuxPPS
 *                                  API, against the virtual board's count
 *   qemu_arm64_check nmea N        N lines from /dev/kx_pps: every one a
 *                                  whole sentence with a good checksum
 *
 * Prints "KXQ ok NAME" or "KXQ FAIL NAME: detail" per check, plus facts as
 * "KXQ NAME value"; the exit status is the number of failures.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <linux/pps.h>

#define VB_PULSES "/sys/kernel/debug/kx_vboard/pulse_count"

static int failures;

static void check(int ok, const char *name, const char *fmt, ...)
{
	va_list ap;

	if (ok) {
		printf("KXQ ok %s\n", name);
		return;
	}
	failures++;
	printf("KXQ FAIL %s: ", name);
	va_start(ap, fmt);
	vprintf(fmt, ap);
	va_end(ap);
	printf("\n");
}

static long long read_number(const char *path)
{
	char buf[64] = "";
	FILE *f = fopen(path, "r");
	long long v = -1;

	if (f) {
		if (fgets(buf, sizeof(buf), f))
			v = strtoll(buf, NULL, 10);
		fclose(f);
	}
	return v;
}

static long long pps_ns(const struct pps_ktime *t)
{
	return t->sec * 1000000000LL + t->nsec;
}

/* the next assert event after seq, waiting up to 5 s */
static int pps_next(int fd, unsigned int seq, struct pps_fdata *d)
{
	int i;

	for (i = 0; i < 50; i++) {
		memset(d, 0, sizeof(*d));
		d->timeout.sec = 0;
		d->timeout.nsec = 100000000;
		if (ioctl(fd, PPS_FETCH, d) < 0 && errno != ETIMEDOUT && errno != EINTR)
			return -errno;
		if (d->info.assert_sequence != seq)
			return 0;
	}
	return -ETIMEDOUT;
}

/*
 * The source's capabilities, then n events: each one a new assert with a
 * later time stamp, and as many as the virtual board delivered pulses in
 * the same span (the board counts before it raises the interrupt, so the
 * span is closed on the board's side by the last event).
 */
static void check_pps(const char *dev, int n)
{
	struct pps_fdata d;
	long long first_board, last_board, prev_ns = 0, span_ns;
	unsigned int seq0, seq;
	int fd = open(dev, O_RDWR), caps = 0, i, ret, backwards = 0;

	check(fd >= 0, "pps_open", "%s: %s", dev, strerror(errno));
	if (fd < 0)
		return;
	check(ioctl(fd, PPS_GETCAP, &caps) == 0 &&
	      (caps & (PPS_CAPTUREASSERT | PPS_OFFSETASSERT | PPS_TSFMT_TSPEC)) ==
		      (PPS_CAPTUREASSERT | PPS_OFFSETASSERT | PPS_TSFMT_TSPEC),
	      "pps_caps", "caps 0x%x", caps);
	printf("KXQ pps_caps 0x%x\n", caps);

	ret = pps_next(fd, ~0u, &d);
	if (ret == 0)
		ret = pps_next(fd, d.info.assert_sequence, &d);
	check(ret == 0, "pps_first_event", "%s", strerror(-ret));
	if (ret) {
		close(fd);
		return;
	}
	first_board = read_number(VB_PULSES);
	seq0 = seq = d.info.assert_sequence;
	prev_ns = pps_ns(&d.info.assert_tu);
	span_ns = prev_ns;
	for (i = 0; i < n; i++) {
		ret = pps_next(fd, seq, &d);
		if (ret)
			break;
		seq = d.info.assert_sequence;
		backwards += pps_ns(&d.info.assert_tu) <= prev_ns;
		prev_ns = pps_ns(&d.info.assert_tu);
	}
	last_board = read_number(VB_PULSES);
	span_ns = prev_ns - span_ns;
	close(fd);
	check(ret == 0, "pps_events", "after %d events: %s", i, strerror(-ret));
	check(!backwards, "pps_time_advances", "%d stamps not after their predecessor",
	      backwards);
	printf("KXQ pps events %u board %lld mean_interval_us %lld\n", seq - seq0,
	       last_board - first_board, seq != seq0 ? span_ns / 1000 / (seq - seq0) : 0);
	/* a board pulse may be counted but not yet handled at either read */
	check(last_board - first_board >= (long long)(seq - seq0) - 1 &&
	      last_board - first_board <= (long long)(seq - seq0) + 1,
	      "pps_one_event_per_pulse", "%u events, board pulses %lld", seq - seq0,
	      last_board - first_board);
}

static int hexval(char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	return -1;
}

/* "$...*HH": the XOR of the bytes between $ and * is HH */
static int nmea_valid(const char *s, size_t len)
{
	unsigned int sum = 0;
	size_t i;

	if (len < 6 || s[0] != '$' || s[len - 3] != '*')
		return 0;
	for (i = 1; i < len - 3; i++)
		sum ^= (unsigned char)s[i];
	return hexval(s[len - 2]) >= 0 && hexval(s[len - 1]) >= 0 &&
	       (unsigned int)(hexval(s[len - 2]) * 16 + hexval(s[len - 1])) == sum;
}

/*
 * n whole lines from the device after dropping what was queued (the first
 * line read may be the tail of one cut by the drain, so it is skipped):
 * each a sentence with a good checksum, LF-ended, no CR.
 */
static void check_nmea(int n)
{
	char line[512], types[256] = "";
	int fd = open("/dev/kx_pps", O_RDONLY | O_NONBLOCK);
	int len = 0, lines = -1, bad = 0;
	char c;

	check(fd >= 0, "nmea_open", "%s", strerror(errno));
	if (fd < 0)
		return;
	while (read(fd, line, sizeof(line)) > 0)
		;
	fcntl(fd, F_SETFL, 0);
	alarm(20);
	while (lines < n && read(fd, &c, 1) == 1) {
		if (c != '\n') {
			if (len < (int)sizeof(line) - 1)
				line[len++] = c;
			continue;
		}
		if (lines++ < 0) {
			len = 0;
			continue;
		}
		if (!nmea_valid(line, len) || memchr(line, '\r', len)) {
			printf("KXQ note bad line %.*s\n", len, line);
			bad++;
		} else if (len > 6 && strlen(types) < sizeof(types) - 8) {
			/* the sentence types seen, in order of first arrival */
			char t[8];

			snprintf(t, sizeof(t), "%.3s ", line + 3);
			if (!strstr(types, t))
				strcat(types, t);
		}
		len = 0;
	}
	alarm(0);
	close(fd);
	printf("KXQ nmea lines %d bad %d types %s\n", lines, bad, types);
	check(lines == n && !bad, "nmea_whole_sentences", "%d lines, %d bad", lines, bad);
}

int main(int argc, char **argv)
{
	setvbuf(stdout, NULL, _IONBF, 0);
	if (argc == 4 && !strcmp(argv[1], "pps"))
		check_pps(argv[2], atoi(argv[3]));
	else if (argc == 3 && !strcmp(argv[1], "nmea"))
		check_nmea(atoi(argv[2]));
	else {
		fprintf(stderr, "usage: %s pps DEV N | nmea N\n", argv[0]);
		return 2;
	}
	return failures;
}
