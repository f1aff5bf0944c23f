// SPDX-License-Identifier: GPL-2.0
/*
 * Guest-side checks of the loaded kx-pps module under qemu (run by
 * qemu_init.sh, built statically by qemu_smoke.sh): /sys/pps_filter and
 * /dev/kx_pps as user space sees them in a real kernel, with the exact
 * errno of every refused operation.
 *
 *   qemu_devcheck full     attributes and character device, in depth
 *   qemu_devcheck quick    one round trip through the device (reload loop)
 *   qemu_devcheck nmea     the GPS stream's lines as read from the device
 *   qemu_devcheck drain    empties the line queue, prints the byte count
 *   qemu_devcheck reader S reads the device for S seconds, counts lines
 *
 * Prints "KXQ ok NAME" or "KXQ FAIL NAME: detail" per check (kxcheck.h) and
 * "KXQ devcheck MODE failures N" at the end; the exit status is N != 0.
 * The host script requires the names of the ok lines, so a check that
 * silently disappears is noticed too.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include "kxcheck.h"

#define FILTER_DIR "/sys/pps_filter"
#define DEV "/dev/kx_pps"
#define QUEUE_SIZE 4096
#define WRITE_MAX 128
#define READ_MAX 256

/* the whole text of an attribute, or -errno */
static int attr_read(const char *name, char *buf, size_t size)
{
	char path[128];
	ssize_t n;
	int fd, err;

	snprintf(path, sizeof(path), FILTER_DIR "/%s", name);
	fd = open(path, O_RDONLY);
	if (fd < 0)
		return -errno;
	n = read(fd, buf, size - 1);
	err = errno;
	close(fd);
	if (n < 0)
		return -err;
	buf[n] = '\0';
	return (int)n;
}

/* one write of text; the count the kernel reported, or -errno */
static int attr_write(const char *name, const char *text)
{
	char path[128];
	ssize_t n;
	int fd, err;

	snprintf(path, sizeof(path), FILTER_DIR "/%s", name);
	fd = open(path, O_WRONLY);
	if (fd < 0)
		return -errno;
	n = write(fd, text, strlen(text));
	err = errno;
	close(fd);
	return n < 0 ? -err : (int)n;
}

static void expect_text(const char *name, const char *want)
{
	char buf[256], label[64];
	int n = attr_read(name, buf, sizeof(buf));

	snprintf(label, sizeof(label), "read_%s", name);
	check(n >= 0 && strcmp(buf, want) == 0, label, "got %d \"%s\", want \"%s\"",
	      n, n >= 0 ? buf : strerror(-n), want);
}

static void expect_read_errno(const char *name, int err)
{
	char buf[256], label[64];
	int n = attr_read(name, buf, sizeof(buf));

	snprintf(label, sizeof(label), "read_%s_%s", name, err == EIO ? "eio" : "enodev");
	check(n == -err, label, "got %d, want -%d", n, err);
}

static const char *const attr_names[] = {
	"k1", "k2", "pause", "gpsfix", "tai_offset", "gpsmode", "timeknown",
	"holdover_time", "holdover_setting", "prv_integ_fp", "freqcorr",
	"freqcorrdelta", "gps_time_set", "phy_delta1", "phy_delta2",
	"manualtime", "ppsled", "deleth0", "deleth1",
	/* the GNSS integrity guard's */
	"gnss_state", "gnss_reason", "gnss_since", "gnss_counts", "gnss_accept", "gnss_home",
};
#define N_ATTRS (sizeof(attr_names) / sizeof(attr_names[0]))

static void check_attr_set(void)
{
	int seen[N_ATTRS] = { 0 };
	int extra = 0, missing = 0, badmode = 0;
	struct dirent *de;
	struct stat st;
	unsigned int i;
	DIR *d = opendir(FILTER_DIR);

	check(d != NULL, "filter_dir", "%s", strerror(errno));
	if (!d)
		return;
	while ((de = readdir(d))) {
		if (de->d_name[0] == '.')
			continue;
		for (i = 0; i < N_ATTRS; i++)
			if (!strcmp(de->d_name, attr_names[i]))
				break;
		if (i == N_ATTRS) {
			say("note unexpected attribute %s", de->d_name);
			extra++;
			continue;
		}
		seen[i] = 1;
		if (fstatat(dirfd(d), de->d_name, &st, 0) || (st.st_mode & 07777) != 0660) {
			say("note %s mode %o", de->d_name, st.st_mode & 07777);
			badmode++;
		}
	}
	closedir(d);
	for (i = 0; i < N_ATTRS; i++)
		if (!seen[i]) {
			say("note missing attribute %s", attr_names[i]);
			missing++;
		}
	check(!extra && !missing, "attribute_set", "%d missing, %d unexpected",
	      missing, extra);
	check(!badmode, "attribute_modes_0660", "%d with another mode", badmode);
}

static void check_attributes(void)
{
	char buf[256];
	int n;
	long long delta;

	check_attr_set();

	/* values at load */
	expect_text("k1", "200 (134200)\n");
	expect_text("k2", "10000 (6710000)\n");
	expect_text("pause", "0\n");
	expect_text("gpsfix", "0\n");
	expect_text("tai_offset", "37\n");
	expect_text("gpsmode", "0\n");
	expect_text("timeknown", "0\n");
	expect_text("holdover_time", "0\n");
	expect_text("holdover_setting", "0\n");
	expect_text("prv_integ_fp", "0\n");
	expect_text("gps_time_set", "0\n");

	/* a space for a correction of zero or more */
	expect_text("freqcorr", " 0.0000\n");
	n = attr_read("freqcorrdelta", buf, sizeof(buf));
	check(n > 0 && (!strcmp(buf, "none\n") || sscanf(buf, "%lld", &delta) == 1),
	      "read_freqcorrdelta_format", "got %d \"%s\"", n, n > 0 ? buf : "");

	/* no "gtop,ppstimer" device on a PC: no per-device record */
	expect_read_errno("phy_delta1", ENODEV);
	expect_read_errno("phy_delta2", ENODEV);
	/* write-only files read, read-only files written */
	expect_read_errno("manualtime", EIO);
	expect_read_errno("ppsled", EIO);
	expect_read_errno("deleth0", EIO);
	expect_read_errno("deleth1", EIO);
	n = attr_write("gpsfix", "1");
	check(n == -EIO, "write_gpsfix_eio", "got %d", n);

	/* stores */
	n = attr_write("k1", "abc");
	check(n == 3, "write_k1_garbage_consumed", "got %d", n);
	expect_text("k1", "200 (134200)\n");
	n = attr_write("k1", "150");
	check(n == 3, "write_k1", "got %d", n);
	expect_text("k1", "150 (100650)\n");
	attr_write("k1", "200");
	n = attr_write("gpsmode", "7");
	check(n == 1, "write_gpsmode", "got %d", n);
	expect_text("gpsmode", "7\n");
	attr_write("gpsmode", "0");
	n = attr_write("tai_offset", "18");
	check(n == 2, "write_tai_offset", "got %d", n);
	expect_text("tai_offset", "18\n");
	attr_write("tai_offset", "37");
	n = attr_write("pause", "1");
	check(n == 1, "write_pause", "got %d", n);
	expect_text("pause", "1\n");
	attr_write("pause", "0");
	/* a new integrator seed shows in freqcorr at once, in prv_integ_fp
	 * only from the next pulse on (there is none here) */
	n = attr_write("prv_integ_fp", "-33554432");
	check(n == 9, "write_prv_integ_fp", "got %d", n);
	expect_text("freqcorr", "-0.5000\n");
	expect_text("prv_integ_fp", "0\n");
	attr_write("prv_integ_fp", "0");
	expect_text("freqcorr", " 0.0000\n");
	/* without the timer device: LED store consumed, manual time refused */
	n = attr_write("ppsled", "1");
	check(n == 1, "write_ppsled_unprobed", "got %d", n);
	n = attr_write("manualtime", "1");
	check(n == -ENODEV, "write_manualtime_unprobed", "got %d", n);
	n = attr_write("deleth0", "25");
	check(n == 2, "write_deleth0", "got %d", n);
	attr_write("deleth0", "0");
}

static void on_signal(int sig)
{
	(void)sig;
}

/* a read of count bytes; the count, or -errno */
static int dev_read(int fd, char *buf, size_t count)
{
	ssize_t n = read(fd, buf, count);

	return n < 0 ? -errno : (int)n;
}

static int dev_write(int fd, const char *buf, size_t count)
{
	ssize_t n = write(fd, buf, count);

	return n < 0 ? -errno : (int)n;
}

static void check_device_full(void)
{
	char buf[1024], big[300];
	struct stat st;
	int fd, fd2, n, total, writes, status;
	pid_t pid;

	check(stat(DEV, &st) == 0 && S_ISCHR(st.st_mode), "dev_node", "%s",
	      strerror(errno));
	fd = open(DEV, O_RDWR | O_NONBLOCK);
	check(fd >= 0, "dev_open", "%s", strerror(errno));
	if (fd < 0)
		return;
	fd2 = open(DEV, O_RDONLY);
	check(fd2 < 0 && errno == EBUSY, "dev_second_open_ebusy", "fd %d errno %d", fd2,
	      errno);
	if (fd2 >= 0)
		close(fd2);

	n = dev_read(fd, buf, sizeof(buf));
	check(n == -EAGAIN, "dev_nonblock_empty_eagain", "got %d", n);

	n = dev_write(fd, "hello", 5);
	check(n == 5, "dev_write_hello", "got %d", n);
	n = dev_read(fd, buf, sizeof(buf));
	check(n == 5 && !memcmp(buf, "hello", 5), "dev_read_hello_no_lf", "got %d", n);

	n = dev_write(fd, "ab", 2);
	n = dev_read(fd, buf, 1);
	check(n == 1 && buf[0] == 'a', "dev_read_count1_a", "got %d", n);
	n = dev_read(fd, buf, 0);
	check(n == 0, "dev_read_count0", "got %d", n);
	n = dev_read(fd, buf, 1);
	check(n == 1 && buf[0] == 'b', "dev_read_count1_b", "got %d", n);

	/* writes are cut at 128 bytes, reads at 256 */
	memset(big, 'x', sizeof(big));
	n = dev_write(fd, big, sizeof(big));
	check(n == WRITE_MAX, "dev_write_cut_128", "got %d", n);
	n = dev_write(fd, big, sizeof(big));
	n = dev_write(fd, big, sizeof(big));
	n = dev_read(fd, buf, sizeof(buf));
	check(n == READ_MAX, "dev_read_cut_256", "got %d", n);
	n = dev_read(fd, buf, sizeof(buf));
	check(n == 3 * WRITE_MAX - READ_MAX, "dev_read_rest", "got %d", n);

	/* a full queue: the last write is refused with ENOSPC */
	for (writes = 0, total = 0; writes < 64; writes++) {
		n = dev_write(fd, big, WRITE_MAX);
		if (n <= 0)
			break;
		total += n;
	}
	check(total == QUEUE_SIZE && n == -ENOSPC, "dev_full_enospc",
	      "took %d bytes, then %d", total, n);
	for (total = 0, writes = 0; writes < 64; writes++) {
		n = dev_read(fd, buf, sizeof(buf));
		if (n <= 0)
			break;
		total += n;
	}
	check(total == QUEUE_SIZE && n == -EAGAIN, "dev_drain_all", "read %d, then %d",
	      total, n);

	check(ioctl(fd, 0x6B00) == 0, "dev_ioctl_6b00", "%s", strerror(errno));
	check(ioctl(fd, 0x6B01) == -1 && errno == ENOTTY, "dev_ioctl_6b01_enotty", "%s",
	      strerror(errno));

	/* a blocking reader sleeps until a write wakes it */
	fcntl(fd, F_SETFL, 0);
	pid = fork();
	if (pid == 0) {
		alarm(10);
		n = dev_read(fd, buf, sizeof(buf));
		_exit(n == 4 && !memcmp(buf, "wake", 4) ? 0 : 1);
	}
	usleep(300 * 1000);
	n = waitpid(pid, &status, WNOHANG);
	check(n == 0, "dev_blocking_read_sleeps", "reader ended early");
	dev_write(fd, "wake", 4);
	n = waitpid(pid, &status, 0);
	check(n == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0,
	      "dev_blocking_read_woken", "status %x", status);

	/* a signal ends a blocking read (no SA_RESTART: EINTR) */
	pid = fork();
	if (pid == 0) {
		struct sigaction sa = { .sa_handler = on_signal };

		sigaction(SIGUSR1, &sa, NULL);
		alarm(10);
		n = dev_read(fd, buf, sizeof(buf));
		_exit(n == -EINTR ? 0 : 1);
	}
	usleep(300 * 1000);
	kill(pid, SIGUSR1);
	n = waitpid(pid, &status, 0);
	check(n == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0,
	      "dev_blocking_read_eintr", "status %x", status);

	/* user addresses that fault: EFAULT, the bytes taken are lost */
	n = dev_write(fd, (const char *)8, 16);
	check(n == -EFAULT, "dev_write_efault", "got %d", n);
	dev_write(fd, "lost", 4);
	n = dev_read(fd, (char *)8, 16);
	check(n == -EFAULT, "dev_read_efault", "got %d", n);
	fcntl(fd, F_SETFL, O_NONBLOCK);
	n = dev_read(fd, buf, sizeof(buf));
	check(n == -EAGAIN, "dev_read_efault_consumed", "got %d", n);

	close(fd);
	fd = open(DEV, O_RDONLY | O_NONBLOCK);
	check(fd >= 0, "dev_reopen_after_close", "%s", strerror(errno));
	if (fd >= 0)
		close(fd);
}

/* forward: takes whatever is queued */
static int drain(int fd);

/*
 * After a reload: the device opens once only and gives back what is
 * written to it. Bytes the receiver sent while no driver was bound may
 * still arrive after the load, so the written marker is looked for in
 * whatever the queue holds (a line from the receiver is queued whole and
 * cannot split it).
 */
static void check_device_quick(void)
{
	static const char marker[] = "$KXQ,reload*00\n";
	char buf[8192];
	int fd = open(DEV, O_RDWR | O_NONBLOCK);
	int fd2, n, len = 0;

	check(fd >= 0, "dev_open", "%s", strerror(errno));
	if (fd < 0)
		return;
	fd2 = open(DEV, O_RDONLY);
	check(fd2 < 0 && errno == EBUSY, "dev_second_open_ebusy", "fd %d errno %d", fd2,
	      errno);
	if (fd2 >= 0)
		close(fd2);
	n = dev_write(fd, marker, sizeof(marker) - 1);
	check(n == (int)sizeof(marker) - 1, "dev_write_marker", "got %d", n);
	while (len < (int)sizeof(buf) - READ_MAX &&
	       (n = dev_read(fd, buf + len, READ_MAX)) > 0)
		len += n;
	check(memmem(buf, len, marker, sizeof(marker) - 1) != NULL, "dev_round_trip",
	      "marker not among %d bytes", len);
	close(fd);
	expect_text("k1", "200 (134200)\n");
}

/* takes whatever is queued; the byte count */
static int drain(int fd)
{
	char buf[READ_MAX];
	int n, total = 0;

	while ((n = dev_read(fd, buf, sizeof(buf))) > 0)
		total += n;
	return total;
}

/*
 * The receiver's lines as user space gets them while the GPS stream runs:
 * what is queued is dropped, then at least ten new lines are read (blocking)
 * and each must be a whole sentence, LF-terminated, without the CR.
 */
static void check_nmea(void)
{
	char buf[4096];
	int fd = open(DEV, O_RDONLY | O_NONBLOCK);
	int n, len = 0, lines = 0, bad = 0, gga = 0, zda = 0;
	char *line, *lf;

	check(fd >= 0, "nmea_open", "%s", strerror(errno));
	if (fd < 0)
		return;
	say("nmea dropped %d", drain(fd));
	fcntl(fd, F_SETFL, 0);
	alarm(10);
	while (len < (int)sizeof(buf) - READ_MAX) {
		n = dev_read(fd, buf + len, READ_MAX);
		if (n <= 0)
			break;
		len += n;
		for (n = 0, lines = 0; n < len; n++)
			lines += buf[n] == '\n';
		if (lines >= 10)
			break;
	}
	alarm(0);
	close(fd);
	lines = 0;
	for (line = buf; (lf = memchr(line, '\n', buf + len - line)); line = lf + 1) {
		lines++;
		if (!nmea_valid(line, lf - line) || memchr(line, '\r', lf - line)) {
			say("note bad line %.*s", (int)(lf - line), line);
			bad++;
		}
		gga += !strncmp(line, "$GPGGA,", 7);
		zda += !strncmp(line, "$GPZDA,", 7);
	}
	say("nmea lines %d gga %d zda %d", lines, gga, zda);
	check(lines >= 10 && !bad && gga >= 4 && zda >= 4 && gga + zda == lines,
	      "nmea_whole_sentences", "%d lines, %d bad, %d GGA, %d ZDA", lines, bad, gga,
	      zda);
}

static volatile sig_atomic_t time_up;

static void on_alarm(int sig)
{
	(void)sig;
	time_up = 1;
}

/*
 * A blocking reader for secs seconds (the alarm ends its last read with
 * EINTR), while the shell rebinds the serial device under it.
 */
static void read_for(int secs)
{
	struct sigaction sa = { .sa_handler = on_alarm };
	char buf[READ_MAX];
	long total = 0, lines = 0;
	int fd = open(DEV, O_RDONLY);
	int n, i;

	check(fd >= 0, "reader_open", "%s", strerror(errno));
	if (fd < 0)
		return;
	sigaction(SIGALRM, &sa, NULL);
	alarm(secs);
	while (!time_up) {
		n = dev_read(fd, buf, sizeof(buf));
		if (n < 0 && n != -EINTR) {
			say("note reader error %d", n);
			break;
		}
		for (i = 0; i < n; i++)
			lines += buf[i] == '\n';
		if (n > 0)
			total += n;
	}
	close(fd);
	say("reader bytes %ld lines %ld", total, lines);
	check(time_up && lines > 0, "reader_got_lines", "%ld lines", lines);
}

int main(int argc, char **argv)
{
	const char *mode = argc > 1 ? argv[1] : "quick";
	int fd;

	setvbuf(stdout, NULL, _IONBF, 0);
	if (!strcmp(mode, "full")) {
		check_attributes();
		check_device_full();
	} else if (!strcmp(mode, "nmea")) {
		check_nmea();
	} else if (!strcmp(mode, "reader")) {
		read_for(argc > 2 ? atoi(argv[2]) : 3);
	} else if (!strcmp(mode, "drain")) {
		fd = open(DEV, O_RDONLY | O_NONBLOCK);
		check(fd >= 0, "drain_open", "%s", strerror(errno));
		if (fd >= 0) {
			say("drained %d", drain(fd));
			close(fd);
		}
	} else {
		check_device_quick();
	}
	say("devcheck %s failures %d", mode, kxq_failures);
	return kxq_failures != 0;
}
