/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/spinlock.h>. The host runs the module on one
 * thread, so a lock is a checked flag: taking a held lock (a deadlock in the
 * kernel) or releasing a free one aborts the test. Each lock counts how often
 * it was taken, and whether with interrupts saved (<kxhost/spinlock.h>).
 */
#ifndef _LINUX_SPINLOCK_H
#define _LINUX_SPINLOCK_H

#include <linux/types.h>

typedef struct spinlock {
	int locked;
	unsigned int taken;		/* times taken */
	unsigned int taken_irqsave;	/* times taken with interrupts saved */
} spinlock_t;

#define __SPIN_LOCK_UNLOCKED(name) { 0, 0, 0 }
#define DEFINE_SPINLOCK(name) spinlock_t name = __SPIN_LOCK_UNLOCKED(name)

void spin_lock_init(spinlock_t *lock);
void spin_lock(spinlock_t *lock);
void spin_unlock(spinlock_t *lock);
void spin_lock_irq(spinlock_t *lock);
void spin_unlock_irq(spinlock_t *lock);
void spin_lock_bh(spinlock_t *lock);
void spin_unlock_bh(spinlock_t *lock);
unsigned long kxh_spin_lock_irqsave(spinlock_t *lock);
void spin_unlock_irqrestore(spinlock_t *lock, unsigned long flags);
int spin_is_locked(spinlock_t *lock);

#define spin_lock_irqsave(lock, flags) \
	do { (flags) = kxh_spin_lock_irqsave(lock); } while (0)

unsigned long kxh_local_irq_save(void);
void local_irq_restore(unsigned long flags);
#define local_irq_save(flags) do { (flags) = kxh_local_irq_save(); } while (0)

#endif
