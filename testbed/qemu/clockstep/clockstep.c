// Guest side of panelmon's clock-step test: steps the system clock back and
// forward and reports, for each step, how long (on the monotonic clock)
// panelmon takes to rewrite the status file of its x.1 s refresh
// (antenna_current.dat) and of its x.5 s clock-chip pass (ad9544temp.dat).
//
//   panelmon_clockstep RUNDATA_DIR
//
// One line per step on standard output (the console):
//   KXQ step <ms> antenna_current.dat <ms or -1> ad9544temp.dat <ms or -1>
#define _GNU_SOURCE
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include "kxcheck.h"

static const char *const files[2] = {"antenna_current.dat", "ad9544temp.dat"};

static long long mono_ms(void)
{
	struct timespec t;

	clock_gettime(CLOCK_MONOTONIC, &t);
	return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

// A rewrite shows as a new inode (replaced by rename) or a new change time.
struct version {
	ino_t ino;
	struct timespec ctime;
};

static int version_of(const char *dir, const char *name, struct version *v)
{
	char path[512];
	struct stat st;

	snprintf(path, sizeof(path), "%s/%s", dir, name);
	memset(v, 0, sizeof(*v));
	if (stat(path, &st) != 0)
		return -1;
	v->ino = st.st_ino;
	v->ctime = st.st_ctim;
	return 0;
}

static int changed(const struct version *a, const struct version *b)
{
	return a->ino != b->ino || a->ctime.tv_sec != b->ctime.tv_sec ||
	       a->ctime.tv_nsec != b->ctime.tv_nsec;
}

// Waits up to limit_ms for each file to be rewritten; latency -1 if not.
static void watch(const char *dir, long long limit_ms, long long latency[2])
{
	struct version before[2], now;
	long long t0 = mono_ms();
	const struct timespec pause = {0, 5 * 1000 * 1000};

	for (int i = 0; i < 2; i++) {
		version_of(dir, files[i], &before[i]);
		latency[i] = -1;
	}
	while (mono_ms() - t0 < limit_ms && (latency[0] < 0 || latency[1] < 0)) {
		for (int i = 0; i < 2; i++) {
			if (latency[i] < 0 && version_of(dir, files[i], &now) == 0 &&
			    changed(&now, &before[i]))
				latency[i] = mono_ms() - t0;
		}
		nanosleep(&pause, NULL);
	}
}

static int step_clock(long long step_ms)
{
	struct timespec t;
	long long ns;

	clock_gettime(CLOCK_REALTIME, &t);
	ns = t.tv_sec * 1000000000LL + t.tv_nsec + step_ms * 1000000LL;
	t.tv_sec = ns / 1000000000LL;
	t.tv_nsec = ns % 1000000000LL;
	return clock_settime(CLOCK_REALTIME, &t);
}

int main(int argc, char **argv)
{
	// 0 first: panelmon's own start. Then back an hour and a fraction,
	// forward two, back 5 s, back a quarter second, and once more at rest.
	static const long long steps_ms[] = {0, -3600350, 7200350, -5000, -250, 0};
	long long latency[2];

	if (argc != 2) {
		fprintf(stderr, "usage: panelmon_clockstep RUNDATA_DIR\n");
		return 2;
	}
	for (size_t i = 0; i < sizeof(steps_ms) / sizeof(steps_ms[0]); i++) {
		if (steps_ms[i] != 0 && step_clock(steps_ms[i]) != 0) {
			perror("clock_settime");
			return 1;
		}
		watch(argv[1], i == 0 ? 20000 : 6000, latency);
		say("step %lld %s %lld %s %lld", steps_ms[i], files[0], latency[0], files[1],
		    latency[1]);
		fflush(stdout);
	}
	return 0;
}
