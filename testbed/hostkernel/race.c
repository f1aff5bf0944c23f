// SPDX-License-Identifier: GPL-2.0
/*
 * Host layer: RCU read-side sections and grace periods, waiting for running
 * interrupt handlers, and the second CPU that tests use to interleave a
 * removal with a reader (see <kxhost/race.h>).
 *
 * All waiting is on one mutex and condition variable. Reader and handler
 * counts are atomics, so the single-threaded fast path takes no lock.
 */
#define _POSIX_C_SOURCE 200809L
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <linux/kernel.h>
#include <linux/rcupdate.h>
#include <kxhost/bug.h>
#include <kxhost/irq.h>
#include <kxhost/race.h>

#define RACE_MAX_IRQ 256
#define RACE_MAX_POINTS 4
/* a safety cap only: no correct interleaving waits anywhere near this long */
#define RACE_WAIT_LIMIT_S 60

enum cpu2_state { CPU2_IDLE, CPU2_RUNNING, CPU2_WAITING, CPU2_PARKED, CPU2_DONE };

struct race_point {
	const void *addr;	/* after a read of this word, or */
	const char *site;	/* at this host call */
	kxh_race_fn fn;
	void *arg;
};

static pthread_mutex_t rm = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t rc = PTHREAD_COND_INITIALIZER;

/*
 * Threads inside a read-side section or a handler, counted in one of two
 * slots (the one in force when the outermost section began), and handlers
 * per line. A grace period moves new readers to the other slot and waits
 * for the old one to empty, so a stream of overlapping readers cannot hold
 * synchronize_rcu() off for ever (as with the kernel's SRCU).
 */
static int rcu_readers[2];
static int rcu_slot;
static int irq_running[RACE_MAX_IRQ];
static _Thread_local int rcu_depth;
static _Thread_local int rcu_my_slot;

int kxh_race_armed;
static struct race_point points[RACE_MAX_POINTS];

static enum cpu2_state cpu2;
static bool cpu2_live;			/* started and not joined */
static bool cpu2_waited_once;
static unsigned long kicks, cpu2_seen_kicks;
static pthread_t cpu2_thread;
static kxh_race_fn cpu2_fn;
static void *cpu2_arg;
static _Thread_local bool on_cpu2;

/* ---- waiting (rm held) ----------------------------------------------------- */

/*
 * Waits for a wake-up, or 1 ms at the most: a reader leaving its section on
 * a thread of its own (not CPU 2) wakes nobody, so the condition is polled.
 */
static void timed_wait(struct timespec *deadline, const char *what)
{
	struct timespec now, until;

	clock_gettime(CLOCK_REALTIME, &now);
	if (now.tv_sec >= deadline->tv_sec)
		kxh_bug("%s: waited %d s, nothing ends the wait", what, RACE_WAIT_LIMIT_S);
	until = now;
	until.tv_nsec += 1000000;
	if (until.tv_nsec >= 1000000000) {
		until.tv_sec++;
		until.tv_nsec -= 1000000000;
	}
	pthread_cond_timedwait(&rc, &rm, &until);
}

static struct timespec deadline_from_now(void)
{
	struct timespec d;

	clock_gettime(CLOCK_REALTIME, &d);
	d.tv_sec += RACE_WAIT_LIMIT_S;
	return d;
}

/* the test thread waits until CPU 2 finishes, parks or waits for it again */
static void until_cpu2_settles(const char *what)
{
	struct timespec d = deadline_from_now();

	while (cpu2 == CPU2_RUNNING || (cpu2 == CPU2_WAITING && cpu2_seen_kicks != kicks))
		timed_wait(&d, what);
}

/* the test thread has ended something CPU 2 may wait for */
static void kick_cpu2(void)
{
	if (on_cpu2 || !__atomic_load_n(&cpu2_live, __ATOMIC_ACQUIRE))
		return;
	pthread_mutex_lock(&rm);
	if (cpu2 == CPU2_WAITING) {
		kicks++;
		pthread_cond_broadcast(&rc);
		until_cpu2_settles("CPU 2 after a wake-up");
	}
	pthread_mutex_unlock(&rm);
}

/* wait until ready(arg): on CPU 2 this hands the CPU back to the test thread */
static void wait_until(bool (*ready)(const void *arg), const void *arg, const char *what)
{
	struct timespec d = deadline_from_now();

	pthread_mutex_lock(&rm);
	while (!ready(arg)) {
		if (on_cpu2) {
			cpu2 = CPU2_WAITING;
			cpu2_waited_once = true;
			cpu2_seen_kicks = kicks;
			pthread_cond_broadcast(&rc);
		}
		timed_wait(&d, what);
	}
	if (on_cpu2 && cpu2 == CPU2_WAITING) {
		cpu2 = CPU2_RUNNING;
		cpu2_seen_kicks = kicks;
		pthread_cond_broadcast(&rc);
	}
	pthread_mutex_unlock(&rm);
}

/* ---- RCU ------------------------------------------------------------------ */

int kxh_rcu_depth(void)
{
	return rcu_depth;
}

bool rcu_read_lock_held(void)
{
	return rcu_depth > 0 || in_irq();
}

void kxh_rcu_check_reader(void)
{
	if (!rcu_read_lock_held())
		kxh_bug("RCU pointer fetched outside a read-side section");
}

static void reader_enter(void)
{
	if (rcu_depth++ == 0) {
		rcu_my_slot = __atomic_load_n(&rcu_slot, __ATOMIC_SEQ_CST);
		__atomic_fetch_add(&rcu_readers[rcu_my_slot], 1, __ATOMIC_SEQ_CST);
	}
}

static void reader_exit(void)
{
	if (--rcu_depth == 0) {
		__atomic_fetch_sub(&rcu_readers[rcu_my_slot], 1, __ATOMIC_SEQ_CST);
		kick_cpu2();
	}
}

void rcu_read_lock(void)
{
	reader_enter();
}

void rcu_read_unlock(void)
{
	if (rcu_depth <= 0)
		kxh_bug("rcu_read_unlock without rcu_read_lock");
	reader_exit();
}

static bool slot_empty(const void *arg)
{
	return __atomic_load_n(&rcu_readers[*(const int *)arg], __ATOMIC_SEQ_CST) == 0;
}

void synchronize_rcu(void)
{
	static pthread_mutex_t gp = PTHREAD_MUTEX_INITIALIZER;
	int pass, old;

	/* inside a read-side section this would wait for itself */
	might_sleep();
	/*
	 * Two flips: a reader that read the slot just before the first flip
	 * but counted itself just after it is waited for by the second.
	 */
	pthread_mutex_lock(&gp);
	for (pass = 0; pass < 2; pass++) {
		old = __atomic_load_n(&rcu_slot, __ATOMIC_SEQ_CST);
		__atomic_store_n(&rcu_slot, !old, __ATOMIC_SEQ_CST);
		wait_until(slot_empty, &old, "synchronize_rcu");
	}
	pthread_mutex_unlock(&gp);
}

/* ---- interrupt handlers ---------------------------------------------------- */

void kxh_race_irq_enter(unsigned int irq)
{
	if (irq < RACE_MAX_IRQ)
		__atomic_fetch_add(&irq_running[irq], 1, __ATOMIC_SEQ_CST);
	reader_enter();
}

void kxh_race_irq_exit(unsigned int irq)
{
	if (irq < RACE_MAX_IRQ)
		__atomic_fetch_sub(&irq_running[irq], 1, __ATOMIC_SEQ_CST);
	reader_exit();
}

static bool irq_idle(const void *arg)
{
	unsigned int irq = *(const unsigned int *)arg;

	return __atomic_load_n(&irq_running[irq], __ATOMIC_SEQ_CST) == 0;
}

void kxh_race_sync_irq(unsigned int irq)
{
	if (irq < RACE_MAX_IRQ)
		wait_until(irq_idle, &irq, "synchronize_irq");
}

/* ---- race points ----------------------------------------------------------- */

static void arm(const void *addr, const char *site, kxh_race_fn fn, void *arg)
{
	unsigned int i;

	pthread_mutex_lock(&rm);
	for (i = 0; i < RACE_MAX_POINTS && points[i].fn; i++)
		;
	if (i == RACE_MAX_POINTS)
		kxh_bug("more than %d race points armed", RACE_MAX_POINTS);
	points[i] = (struct race_point){ addr, site, fn, arg };
	__atomic_fetch_add(&kxh_race_armed, 1, __ATOMIC_RELEASE);
	pthread_mutex_unlock(&rm);
}

void kxh_race_after_read(const void *addr, kxh_race_fn fn, void *arg)
{
	arm(addr, NULL, fn, arg);
}

void kxh_race_at(const char *site, kxh_race_fn fn, void *arg)
{
	arm(NULL, site, fn, arg);
}

unsigned int kxh_race_armed_points(void)
{
	return (unsigned int)__atomic_load_n(&kxh_race_armed, __ATOMIC_ACQUIRE);
}

/* take the armed point that matches, if any, and run it (one shot) */
static void fire(const volatile void *addr, const char *site)
{
	struct race_point p = { 0 };
	unsigned int i;

	pthread_mutex_lock(&rm);
	for (i = 0; i < RACE_MAX_POINTS; i++) {
		if (!points[i].fn)
			continue;
		if ((addr && points[i].addr == (const void *)addr) ||
		    (site && points[i].site && !strcmp(points[i].site, site))) {
			p = points[i];
			memset(&points[i], 0, sizeof(points[i]));
			__atomic_fetch_sub(&kxh_race_armed, 1, __ATOMIC_RELEASE);
			break;
		}
	}
	pthread_mutex_unlock(&rm);
	if (p.fn)
		p.fn(p.arg);
}

void kxh_race_read(const volatile void *addr)
{
	fire(addr, NULL);
}

void kxh_race_point(const char *site)
{
	if (__atomic_load_n(&kxh_race_armed, __ATOMIC_ACQUIRE))
		fire(NULL, site);
}

/* ---- CPU 2 ------------------------------------------------------------------- */

static void *cpu2_main(void *unused)
{
	on_cpu2 = true;
	cpu2_fn(cpu2_arg);
	pthread_mutex_lock(&rm);
	cpu2 = CPU2_DONE;
	pthread_cond_broadcast(&rc);
	pthread_mutex_unlock(&rm);
	return NULL;
}

void kxh_cpu2_start(kxh_race_fn fn, void *arg)
{
	if (on_cpu2)
		kxh_bug("CPU 2 started from CPU 2");
	pthread_mutex_lock(&rm);
	if (cpu2_live)
		kxh_bug("CPU 2 started twice");
	cpu2_fn = fn;
	cpu2_arg = arg;
	cpu2 = CPU2_RUNNING;
	cpu2_waited_once = false;
	__atomic_store_n(&cpu2_live, true, __ATOMIC_RELEASE);
	if (pthread_create(&cpu2_thread, NULL, cpu2_main, NULL))
		kxh_bug("no thread for CPU 2");
	until_cpu2_settles("CPU 2 start");
	pthread_mutex_unlock(&rm);
}

void kxh_cpu2_park(void)
{
	struct timespec d = deadline_from_now();

	if (!on_cpu2)
		kxh_bug("kxh_cpu2_park() off CPU 2");
	pthread_mutex_lock(&rm);
	cpu2 = CPU2_PARKED;
	pthread_cond_broadcast(&rc);
	while (cpu2 == CPU2_PARKED)
		timed_wait(&d, "CPU 2 parked");
	pthread_mutex_unlock(&rm);
}

void kxh_cpu2_resume(void)
{
	pthread_mutex_lock(&rm);
	if (cpu2 != CPU2_PARKED)
		kxh_bug("CPU 2 resumed but not parked");
	cpu2 = CPU2_RUNNING;
	pthread_cond_broadcast(&rc);
	until_cpu2_settles("CPU 2 resume");
	pthread_mutex_unlock(&rm);
}

bool kxh_cpu2_done(void)
{
	bool done;

	pthread_mutex_lock(&rm);
	done = cpu2 == CPU2_DONE;
	pthread_mutex_unlock(&rm);
	return done;
}

bool kxh_cpu2_waited(void)
{
	bool w;

	pthread_mutex_lock(&rm);
	w = cpu2_waited_once;
	pthread_mutex_unlock(&rm);
	return w;
}

void kxh_cpu2_join(void)
{
	struct timespec d = deadline_from_now();

	pthread_mutex_lock(&rm);
	if (!cpu2_live)
		kxh_bug("CPU 2 joined but not started");
	while (cpu2 != CPU2_DONE) {
		if (cpu2 == CPU2_PARKED)
			kxh_bug("CPU 2 joined while parked");
		timed_wait(&d, "CPU 2 join");
	}
	pthread_mutex_unlock(&rm);
	pthread_join(cpu2_thread, NULL);
	pthread_mutex_lock(&rm);
	cpu2 = CPU2_IDLE;
	__atomic_store_n(&cpu2_live, false, __ATOMIC_RELEASE);
	pthread_mutex_unlock(&rm);
}
