// SPDX-License-Identifier: GPL-2.0
/*
 * Guest-side checks of kx-pps on the arm64 qemu board (run by
 * qemu_arm64_init.sh, built statically by qemu_arm64.sh).
 *
 *   qemu_arm64_check pps DEV N [steady]
 *                                  assert events through the LinuxPPS API,
 *                                  one per pulse of N the timing hardware
 *                                  latched (steady: no clock step meanwhile,
 *                                  so the time stamps advance)
 *   qemu_arm64_check nmea N        N lines from /dev/kx_pps: every one a
 *                                  whole sentence with a good checksum
 *   qemu_arm64_check edge FILE     asks the host for its time (KXQTIME,
 *                                  answered on the control port, fd 3) and
 *                                  writes to FILE the CLOCK_MONOTONIC time
 *                                  of a host second boundary, where the
 *                                  receiver model's pulse edges lie
 *   qemu_arm64_check phc DEV TAI TOL_NS
 *                                  the PHY clock DEV (/dev/ptpN) against
 *                                  the host's time, the receiver model's
 *                                  GPS time: it must read that plus TAI
 *                                  seconds within TOL_NS, five times
 *
 * Prints "KXQ ok NAME" or "KXQ FAIL NAME: detail" per check (kxcheck.h),
 * plus facts as "KXQ NAME value"; the exit status is the number of failures.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>
#include <linux/pps.h>

#include "kxcheck.h"

#define THW "/sys/kernel/debug/kx_timinghw"

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

static void write_text(const char *path, const char *text)
{
	FILE *f = fopen(path, "w");

	if (f) {
		fputs(text, f);
		fclose(f);
	}
}

/* the source's latest assert, without waiting */
static int pps_now(int fd, struct pps_fdata *d)
{
	memset(d, 0, sizeof(*d));
	return ioctl(fd, PPS_FETCH, d) < 0 ? -errno : 0;
}

/*
 * The source's capabilities, then one assert event per pulse the virtual
 * board latched: with the board's pulses held back (the counter runs on)
 * the event and capture counts are read at rest, n pulses are let through,
 * and both counts are read at rest again. Slow or late reads on an
 * emulated machine cannot shift one count against the other.
 */
static void check_pps(const char *dev, int n, int clock_steady)
{
	struct pps_fdata d0, d1;
	long long c0, c1;
	int fd = open(dev, O_RDWR), caps = 0, i;

	check(fd >= 0, "pps_open", "%s: %s", dev, strerror(errno));
	if (fd < 0)
		return;
	check(ioctl(fd, PPS_GETCAP, &caps) == 0 &&
	      (caps & (PPS_CAPTUREASSERT | PPS_OFFSETASSERT | PPS_TSFMT_TSPEC)) ==
		      (PPS_CAPTUREASSERT | PPS_OFFSETASSERT | PPS_TSFMT_TSPEC),
	      "pps_caps", "caps 0x%x", caps);
	say("pps_caps 0x%x", caps);

	write_text(THW "/pulses_on", "0");
	usleep(300000);
	c0 = read_number(THW "/captures");
	check(pps_now(fd, &d0) == 0, "pps_fetch", "%s", strerror(errno));
	write_text(THW "/pulses_on", "1");
	for (i = 0; i < 3000 && read_number(THW "/captures") < c0 + n; i++)
		usleep(10000);
	write_text(THW "/pulses_on", "0");
	usleep(300000);
	c1 = read_number(THW "/captures");
	pps_now(fd, &d1);
	write_text(THW "/pulses_on", "1");
	close(fd);
	say("pps events %u latched %lld mean_interval_us %lld",
	       d1.info.assert_sequence - d0.info.assert_sequence, c1 - c0,
	       c1 > c0 ? (pps_ns(&d1.info.assert_tu) - pps_ns(&d0.info.assert_tu)) / 1000 /
				 (c1 - c0) : 0);
	check(c1 - c0 >= n, "pps_pulses", "the timing hardware latched %lld pulses", c1 - c0);
	check(d1.info.assert_sequence - d0.info.assert_sequence == c1 - c0,
	      "pps_one_event_per_pulse", "%u events, %lld pulses latched",
	      d1.info.assert_sequence - d0.info.assert_sequence, c1 - c0);
	/* unless the module may step the system clock meanwhile (GPS time) */
	if (clock_steady)
		check(pps_ns(&d1.info.assert_tu) > pps_ns(&d0.info.assert_tu),
		      "pps_time_advances", "last assert %lld ns, before %lld ns",
		      pps_ns(&d1.info.assert_tu), pps_ns(&d0.info.assert_tu));
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
			say("note bad line %.*s", len, line);
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
	say("nmea lines %d bad %d types %s", lines, bad, types);
	check(lines == n && !bad, "nmea_whole_sentences", "%d lines, %d bad", lines, bad);
}

static long long monotonic_ns(void)
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

/*
 * The guest's monotonic clock runs at the host's rate (qemu's virtual clock),
 * only its origin is unknown: one round trip fixes it, to within half the
 * round trip.
 */
static void find_edge(const char *file)
{
	char reply[64] = "";
	long long t1, t2, host, mid, edge;
	FILE *f;
	int n;

	t1 = monotonic_ns();
	printf("KXQTIME\n");
	n = read(3, reply, sizeof(reply) - 1);
	t2 = monotonic_ns();
	host = n > 0 ? strtoll(reply, NULL, 10) : 0;
	check(host > 0, "host_time", "no answer: %s", n > 0 ? reply : strerror(errno));
	if (host <= 0)
		return;
	mid = t1 + (t2 - t1) / 2;
	edge = mid + 1000000000LL - host % 1000000000LL;
	say("edge %lld round_trip_us %lld", edge, (t2 - t1) / 1000);
	f = fopen(file, "w");
	check(f && fprintf(f, "%lld\n", edge) > 0 && fclose(f) == 0, "edge_file", "%s", strerror(errno));
}

/* the clock id of an open PTP clock device (the kernel's FD_TO_CLOCKID) */
static clockid_t fd_clock(int fd)
{
	return (clockid_t)((((unsigned int)~fd) << 3) | 3);
}

static long long clock_ns(clockid_t id)
{
	struct timespec ts;

	if (clock_gettime(id, &ts))
		return 0;
	return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

/*
 * The host's time at the middle of a round trip on the control port, the
 * PHY clock read in that middle too: the difference, less the TAI offset,
 * is what the clock is off GPS time (to within half the round trip).
 */
static void check_phc(const char *dev, long long tai, long long tol)
{
	int fd = open(dev, O_RDWR);
	long long worst = 0;
	int i;

	check(fd >= 0, "phc_open", "%s: %s", dev, strerror(errno));
	if (fd < 0)
		return;
	for (i = 0; i < 5; i++) {
		char reply[64] = "";
		long long t1, t2, phc, host, err;
		int n;

		t1 = monotonic_ns();
		printf("KXQTIME\n");
		n = read(3, reply, sizeof(reply) - 1);
		t2 = monotonic_ns();
		phc = clock_ns(fd_clock(fd)) - (monotonic_ns() - (t1 + (t2 - t1) / 2));
		host = n > 0 ? strtoll(reply, NULL, 10) : 0;
		if (host <= 0 || phc == 0) {
			check(0, "phc_read", "%s: host %s, clock %lld", dev, reply, phc);
			break;
		}
		err = phc - tai * 1000000000LL - host;
		say("phc %s error_ns %lld round_trip_us %lld", dev, err, (t2 - t1) / 1000);
		if (llabs(err) > llabs(worst))
			worst = err;
		usleep(300000);
	}
	close(fd);
	check(llabs(worst) <= tol, "phc_on_gps_tai", "%s: off by %lld ns, tolerance %lld", dev,
	      worst, tol);
}

int main(int argc, char **argv)
{
	setvbuf(stdout, NULL, _IONBF, 0);
	if ((argc == 4 || argc == 5) && !strcmp(argv[1], "pps"))
		check_pps(argv[2], atoi(argv[3]), argc == 5 && !strcmp(argv[4], "steady"));
	else if (argc == 3 && !strcmp(argv[1], "nmea"))
		check_nmea(atoi(argv[2]));
	else if (argc == 3 && !strcmp(argv[1], "edge"))
		find_edge(argv[2]);
	else if (argc == 5 && !strcmp(argv[1], "phc"))
		check_phc(argv[2], atoll(argv[3]), atoll(argv[4]));
	else {
		fprintf(stderr, "usage: %s pps DEV N [steady] | nmea N | edge FILE | "
			"phc DEV TAI TOL_NS\n", argv[0]);
		return 2;
	}
	return kxq_failures;
}
