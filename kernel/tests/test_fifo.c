// SPDX-License-Identifier: GPL-2.0
/*
 * The NMEA line queue and /dev/kx_pps: whole-line discarding, read and
 * write sizes, blocking and non-blocking reads, the exclusive open, ioctl
 * codes, user-copy faults, and the device's creation and removal.
 */
#include <string.h>

#include "kx_serial.h"
#include "ktest.h"

static struct file *fopen_dev(unsigned int flags)
{
	int err;
	struct file *f = kxh_file_open("/dev/kx_pps", flags, &err);

	KT_EQ(err, 0);
	return f;
}

static void up(void)
{
	KT_EQ(pps_fifo_init(), 0);
	KT_EQ(chardev_init(), 0);
}

/* ---- the line queue ------------------------------------------------------- */

static unsigned int seed = 12345;

static unsigned int rnd(void)
{
	seed = seed * 1103515245u + 12345u;
	return (seed >> 16) & 0x7fff;
}

/* line k: a run of its own letter, 1 to 255 bytes */
static size_t make_line(unsigned int k, char *buf)
{
	size_t len = 1 + rnd() % 255;

	memset(buf, 'A' + k % 26, len);
	buf[0] = (char)('0' + k % 10);
	return len;
}

KTEST(a_steady_stream_keeps_only_whole_newest_lines_within_4096_bytes)
{
	static char lines[2000][256];
	static size_t lens[2000];
	static char got[8192];
	unsigned int k, first = 0, checks = 0;

	up();
	for (k = 0; k < 2000; k++) {
		lens[k] = make_line(k, lines[k]);
		pps_fifo_push_line(lines[k], lens[k]);
		if (k % 97 == 96 || k == 1999) {
			/* everything queued: a suffix of the lines since the last read */
			size_t n = sx_drain(got, sizeof(got)), off, want = 0;
			unsigned int j = k + 1;

			KT_TRUE(n <= 4096);
			while (j > first && want + lens[j - 1] + 1 <= n)
				want += lens[--j] + 1;
			KT_EQ(n, want);
			for (off = 0; j <= k; j++) {
				KT_EQ(memcmp(got + off, lines[j], lens[j]), 0);
				KT_EQ(got[off + lens[j]], '\n');
				off += lens[j] + 1;
			}
			/* lines go only to make room: the queue stays nearly full */
			if (j > first)
				KT_TRUE(n > 4096 - 2 * 256);
			first = k + 1;
			checks++;
		}
	}
	KT_EQ(checks, 21);
}

KTEST(the_oldest_lines_go_first_and_the_queue_fills_to_4096)
{
	char line[255], got[5000];
	unsigned int k;
	size_t n;

	up();
	/* 16 lines of 255 + LF are exactly 4096 bytes */
	for (k = 0; k < 17; k++) {
		memset(line, 'a' + k, sizeof(line));
		pps_fifo_push_line(line, sizeof(line));
	}
	n = sx_drain(got, sizeof(got));
	KT_EQ(n, 4096);
	KT_EQ(got[0], 'b');
	KT_EQ(got[4095], '\n');
	KT_EQ(got[4094], 'q');
}

KTEST(a_line_longer_than_the_queue_keeps_its_tail)
{
	static char line[5000], got[5000];
	size_t i;

	up();
	pps_fifo_push_line("old", 3);
	for (i = 0; i < sizeof(line); i++)
		line[i] = (char)('a' + i % 26);
	pps_fifo_push_line(line, sizeof(line));
	KT_EQ(sx_drain(got, sizeof(got)), 4096);
	KT_EQ(memcmp(got, line + sizeof(line) - 4095, 4095), 0);
	KT_EQ(got[4095], '\n');
}

KTEST(null_or_empty_lines_are_not_queued)
{
	char got[16];

	up();
	pps_fifo_push_line(NULL, 5);
	pps_fifo_push_line("abc", 0);
	KT_EQ(sx_drain(got, sizeof(got)), 0);
}

KTEST(written_bytes_without_a_line_end_are_dropped_whole_when_space_is_short)
{
	char block[128], got[5000];
	struct file *f;
	unsigned int i;

	up();
	memset(block, 'w', sizeof(block));
	f = fopen_dev(O_RDWR);
	for (i = 0; i < 32; i++)
		KT_EQ(kxh_file_write(f, block, sizeof(block)), 128);
	kxh_file_close(f);
	pps_fifo_push_line("abc", 3);
	KT_EQ(sx_drain(got, sizeof(got)), 4);
	KT_EQ(memcmp(got, "abc\n", 4), 0);
}

KTEST(drop_one_line_takes_up_to_and_with_the_first_lf)
{
	char got[16];

	up();
	pps_fifo_push_line("ab", 2);
	pps_fifo_push_line("cde", 3);
	KT_EQ(pps_fifo_drop_one_line_locked(), 3);
	KT_EQ(sx_drain(got, sizeof(got)), 4);
	KT_EQ(memcmp(got, "cde\n", 4), 0);
	KT_EQ(pps_fifo_drop_one_line_locked(), 0);
}

KTEST(fifo_init_failure)
{
	kxh_fault_arm("kmalloc", 0, 1, -ENOMEM);
	KT_EQ(pps_fifo_init(), -ENOMEM);
	KT_EQ(kxh_log_count_exact(3, "pps: kfifo_alloc failed: -12\n"), 1);
}

/* ---- reading -------------------------------------------------------------- */

KTEST(read_sizes)
{
	static char line[255], got[1000];
	struct file *f;
	unsigned int k;

	up();
	memset(line, 'x', sizeof(line));
	for (k = 0; k < 4; k++)
		pps_fifo_push_line(line, sizeof(line));
	f = fopen_dev(O_RDONLY);
	KT_EQ(kxh_file_read(f, got, 1), 1);
	KT_EQ(kxh_file_read(f, got, 1000), 256);
	/* a read does not stop at a line end */
	KT_EQ(got[253], 'x');
	KT_EQ(got[254], '\n');
	KT_EQ(got[255], 'x');
	KT_EQ(kxh_file_read(f, got, 10), 10);
	/* count 0 with data queued: 0, with the message */
	KT_EQ(kxh_file_read(f, got, 0), 0);
	KT_EQ(kxh_log_count_exact(3, "pps chardev: kfifo_out returned 0\n"), 1);
	KT_EQ(kxh_file_read(f, got, 1000), 256);
	KT_EQ(kxh_file_read(f, got, 1000), 256);
	KT_EQ(kxh_file_read(f, got, 1000), 1024 - 1 - 256 - 10 - 256 - 256);
	kxh_file_close(f);
}

KTEST(non_blocking_read_on_an_empty_queue)
{
	char got[8];
	struct file *f;

	up();
	f = fopen_dev(O_RDONLY | O_NONBLOCK);
	KT_EQ(kxh_file_read(f, got, sizeof(got)), -EAGAIN);
	KT_EQ(kxh_log_count_exact(3, "pps chardev: FIFO empty, O_NONBLOCK\n"), 1);
	kxh_file_close(f);
}

static int steps;

static void line_arrives(void *arg)
{
	if (++steps == 5)
		pps_fifo_push_line("$GPZDA", 6);
}

KTEST(a_blocking_read_waits_for_the_next_line)
{
	char got[64];
	struct file *f;

	up();
	f = fopen_dev(O_RDONLY);
	kxh_wait_set_hook(line_arrives, NULL);
	KT_EQ(kxh_file_read(f, got, sizeof(got)), 7);
	KT_EQ(memcmp(got, "$GPZDA\n", 7), 0);
	KT_EQ(steps, 5);
	kxh_file_close(f);
}

static void signal_arrives(void *arg)
{
	if (++steps == 2)
		kxh_signal_raise();
}

KTEST(a_signal_ends_a_blocking_read)
{
	char got[8];
	struct file *f;

	up();
	f = fopen_dev(O_RDONLY);
	kxh_wait_set_hook(signal_arrives, NULL);
	KT_EQ(kxh_file_read(f, got, sizeof(got)), -ERESTARTSYS);
	KT_EQ(kxh_log_count_exact(3, "pps chardev: wake with ret=-512\n"), 1);
	kxh_file_close(f);
}

KTEST(a_fault_copying_out_fails_with_efault_and_loses_the_bytes)
{
	char got[8];
	struct file *f;

	up();
	pps_fifo_push_line("abc", 3);
	pps_fifo_push_line("def", 3);
	f = fopen_dev(O_RDONLY);
	kxh_fault_arm("copy_to_user", 0, 1, -EFAULT);
	KT_EQ(kxh_file_read(f, got, 4), -EFAULT);
	KT_EQ(kxh_log_count_exact(3, "pps chardev: copy_to_user failed\n"), 1);
	KT_EQ(kxh_file_read(f, got, 8), 4);
	KT_EQ(memcmp(got, "def\n", 4), 0);
	kxh_file_close(f);
}

/* ---- writing -------------------------------------------------------------- */

KTEST(written_text_is_read_back_as_it_is)
{
	char got[16];
	struct file *f;

	up();
	f = fopen_dev(O_RDWR);
	KT_EQ(kxh_file_write(f, "hello", 5), 5);
	KT_EQ(kxh_file_read(f, got, sizeof(got)), 5);
	KT_EQ(memcmp(got, "hello", 5), 0);
	KT_EQ(kxh_file_write(f, "hello", 0), 0);
	kxh_file_close(f);
}

KTEST(writes_insert_at_most_128_bytes_and_what_fits)
{
	static char big[4096];
	char line[255];
	struct file *f;
	unsigned int k;

	up();
	f = fopen_dev(O_RDWR);
	KT_EQ(kxh_file_write(f, big, 200), 128);
	/* fill to 4090: 15 lines of 255+LF is 3840, + 128 = 3968, + 122 */
	memset(line, 'l', sizeof(line));
	for (k = 0; k < 15; k++)
		pps_fifo_push_line(line, sizeof(line));
	KT_EQ(kxh_file_write(f, big, 122), 122);
	KT_EQ(kxh_file_write(f, big, 100), 6);
	KT_EQ(kxh_file_write(f, big, 1), -ENOSPC);
	KT_EQ(kxh_log_count_exact(3, "pps chardev: kfifo_in returned 0\n"), 1);
	kxh_fault_arm("copy_from_user", 0, 1, -EFAULT);
	KT_EQ(kxh_file_write(f, big, 1), -EFAULT);
	KT_EQ(kxh_log_count_exact(3, "pps chardev: copy_from_user failed\n"), 1);
	kxh_file_close(f);
}

static void write_arrives(void *arg)
{
	struct file *w = arg;

	if (++steps == 3)
		kxh_file_write(w, "inj", 3);
}

KTEST(a_write_wakes_a_blocked_reader)
{
	struct file *r;
	char got[8];

	up();
	r = fopen_dev(O_RDWR);
	kxh_wait_set_hook(write_arrives, r);
	KT_EQ(kxh_file_read(r, got, sizeof(got)), 3);
	KT_EQ(memcmp(got, "inj", 3), 0);
	kxh_file_close(r);
}

/* ---- open, ioctl, the device itself ---------------------------------------- */

KTEST(one_opener_at_a_time)
{
	struct file *a, *b;
	int err;

	up();
	a = fopen_dev(O_RDONLY);
	b = kxh_file_open("/dev/kx_pps", O_RDONLY, &err);
	KT_EQ(b, NULL);
	KT_EQ(err, -EBUSY);
	b = kxh_file_open("/dev/kx_pps", O_RDONLY, &err);
	KT_EQ(err, -EBUSY);
	kxh_file_close(a);
	b = fopen_dev(O_RDONLY);
	KT_TRUE(b != NULL);
	kxh_file_close(b);
}

KTEST(queued_lines_survive_close_and_reopen)
{
	char got[8];
	struct file *f;

	up();
	pps_fifo_push_line("abcdef", 6);
	f = fopen_dev(O_RDONLY);
	KT_EQ(kxh_file_read(f, got, 2), 2);
	kxh_file_close(f);
	f = fopen_dev(O_RDONLY);
	KT_EQ(kxh_file_read(f, got, 8), 5);
	KT_EQ(memcmp(got, "cdef\n", 5), 0);
	kxh_file_close(f);
}

KTEST(ioctl_codes)
{
	struct file *f;

	up();
	KT_EQ(PPS_CHARDEV_IOC_NOP, 0x6B00);
	f = fopen_dev(O_RDONLY);
	KT_EQ(kxh_file_ioctl(f, 0x6B00, 0), 0);
	KT_EQ(kxh_file_ioctl(f, 0x6B01, 0), -ENOTTY);
	KT_EQ(kxh_file_ioctl(f, 0x80046B00, 0), -ENOTTY);
	kxh_file_close(f);
}

KTEST(the_device_node_and_its_removal)
{
	dev_t devt;
	int err;

	up();
	devt = kxh_devnode_devt("/dev/kx_pps");
	KT_TRUE(devt != (dev_t)-1);
	KT_EQ(MINOR(devt), 0);
	KT_STREQ(kxh_devnode_class("kx_pps"), "pps_chardev_class");
	KT_EQ(kxh_chrdev_regions(), 1);
	chardev_exit();
	KT_EQ(kxh_log_count_exact(6, "pps chardev: Removed\n"), 1);
	KT_EQ(kxh_devnode_devt("/dev/kx_pps"), (dev_t)-1);
	KT_EQ(kxh_chrdev_regions(), 0);
	KT_EQ(kxh_cdev_count(), 0);
	KT_EQ(kxh_class_count(), 0);
	KT_EQ(kxh_file_open("/dev/kx_pps", O_RDONLY, &err), NULL);
	KT_EQ(err, -ENOENT);
	pps_fifo_exit();
}

KTEST(each_creation_failure_undoes_the_steps_before_it)
{
	static const struct { const char *site, *msg; } rows[] = {
		{ "alloc_chrdev_region", "pps chardev: Failed to allocate major number\n" },
		{ "cdev_add", "pps chardev: Failed to add cdev\n" },
		{ "class_create", "pps chardev: Failed to create class\n" },
		{ "device_create", "pps chardev: Failed to create device\n" },
	};

	KT_EQ(pps_fifo_init(), 0);
	KT_ROWS(r, rows) {
		kxh_fault_clear();
		kxh_log_clear();
		kxh_fault_arm(r->site, 0, 1, -ENOMEM);
		KT_EQ(chardev_init(), -ENOMEM);
		KT_EQ(kxh_log_count_exact(3, r->msg), 1);
		KT_EQ(kxh_log_count(), 1);
		KT_EQ(kxh_chrdev_regions(), 0);
		KT_EQ(kxh_cdev_count(), 0);
		KT_EQ(kxh_class_count(), 0);
		KT_EQ(kxh_devnode_devt("/dev/kx_pps"), (dev_t)-1);
	}
	kxh_fault_clear();
	KT_EQ(chardev_init(), 0);
}
