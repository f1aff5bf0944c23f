/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Interleavings with a second CPU. A test runs a function (say, the removal
 * of a device) on CPU 2, a thread of its own in process context, at an exact
 * point of what the test thread is doing (say, right after an interrupt
 * handler read a pointer), and lets it run until it finishes, parks or has
 * to wait for the test thread: a grace period (synchronize_rcu) or a running
 * handler (synchronize_irq). CPU 2 and the test thread never run at the same
 * time: when the test thread ends what CPU 2 waits for (leaves a read-side
 * section or a handler), it lets CPU 2 run until it finishes, parks or waits
 * again. Waits that nothing can end abort after a generous safety limit.
 */
#ifndef KXHOST_RACE_H
#define KXHOST_RACE_H

#include <linux/types.h>

typedef void (*kxh_race_fn)(void *arg);

/*
 * fn(arg) runs once, on the thread that first makes a marked read
 * (READ_ONCE, rcu_dereference) of the word at addr, right after the read.
 */
void kxh_race_after_read(const void *addr, kxh_race_fn fn, void *arg);
/* fn(arg) runs once when a host call with a race point is entered: "kthread_stop" */
void kxh_race_at(const char *site, kxh_race_fn fn, void *arg);
/* armed points that have not fired yet */
unsigned int kxh_race_armed_points(void);

/* run fn(arg) on CPU 2; returns when it has finished, parked or waits */
void kxh_cpu2_start(kxh_race_fn fn, void *arg);
/* on CPU 2: stop here until the test thread resumes it */
void kxh_cpu2_park(void);
/* let a parked CPU 2 go on; returns when it has finished, parked or waits */
void kxh_cpu2_resume(void);
/* CPU 2 has finished its function */
bool kxh_cpu2_done(void);
/* CPU 2 has had to wait for the test thread since it was started */
bool kxh_cpu2_waited(void);
/* wait until CPU 2 has finished (it must not be parked) */
void kxh_cpu2_join(void);

/* ---- used by the host layer ------------------------------------------- */

/* a marked read of addr was made (READ_ONCE) */
void kxh_race_read(const volatile void *addr);
/* a host call with a race point was entered */
void kxh_race_point(const char *site);
/* hard-interrupt handler irq starts and ends on this thread */
void kxh_race_irq_enter(unsigned int irq);
void kxh_race_irq_exit(unsigned int irq);
/* wait until no other thread runs handler irq */
void kxh_race_sync_irq(unsigned int irq);
/* read-side nesting of this thread */
int kxh_rcu_depth(void);

#endif
