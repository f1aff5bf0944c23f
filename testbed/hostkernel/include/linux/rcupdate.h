/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/rcupdate.h>: read-side critical sections and
 * grace periods. A read-side section must not sleep (a sleeping call inside
 * one aborts, as might_sleep() would complain); synchronize_rcu() waits until
 * no other thread is inside a read-side section or a hard-interrupt handler
 * (handlers are read-side sections, as in the kernel). Pointer reads and
 * updates are the marked accesses of <linux/compiler.h>, so a test can run
 * another CPU right after a reader fetched a pointer (<kxhost/race.h>).
 */
#ifndef _LINUX_RCUPDATE_H
#define _LINUX_RCUPDATE_H

#include <linux/compiler.h>
#include <linux/types.h>

void rcu_read_lock(void);
void rcu_read_unlock(void);
void synchronize_rcu(void);
/* inside a read-side section (or a hard-interrupt handler) on this thread */
bool rcu_read_lock_held(void);
/* an RCU-protected pointer fetched outside a read-side section aborts */
void kxh_rcu_check_reader(void);

#define rcu_dereference(p) ({ kxh_rcu_check_reader(); READ_ONCE(p); })
/* by the updater, which excludes other updaters (c is for lockdep) */
#define rcu_dereference_protected(p, c) ((void)(c), (p))
/* only compared with NULL, never dereferenced */
#define rcu_access_pointer(p) READ_ONCE(p)
/* publish: everything written to *v before is seen by readers that find v */
#define rcu_assign_pointer(p, v) __atomic_store_n(&(p), (v), __ATOMIC_RELEASE)
#define RCU_INIT_POINTER(p, v) WRITE_ONCE(p, v)

#endif
