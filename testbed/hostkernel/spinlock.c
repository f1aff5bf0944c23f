// SPDX-License-Identifier: GPL-2.0
/*
 * Host layer: spin locks and mutexes as checked flags. A lock records its
 * owner (a per-thread id): the owner taking it again is a deadlock and
 * aborts. Another thread (a host kernel thread in concurrent mode) spins
 * until the owner lets go, so the locks also exclude for real.
 */
#include <linux/kernel.h>
#include <linux/spinlock.h>
#include <linux/mutex.h>
#include <kxhost/bug.h>
#include "scheduler.h"

extern _Thread_local int kxh_locks_held;
extern _Thread_local int kxh_irqs_off;

static int next_owner_id = 1;
static _Thread_local int owner_id;

static int self_id(void)
{
	if (!owner_id)
		owner_id = __atomic_fetch_add(&next_owner_id, 1, __ATOMIC_RELAXED);
	return owner_id;
}

void spin_lock_init(spinlock_t *lock)
{
	lock->locked = 0;
	lock->taken = 0;
	lock->taken_irqsave = 0;
}

void spin_lock(spinlock_t *lock)
{
	int me = self_id(), free_ = 0;

	if (__atomic_load_n(&lock->locked, __ATOMIC_RELAXED) == me)
		kxh_bug("spin lock %p taken twice (deadlock)", (void *)lock);
	while (!__atomic_compare_exchange_n(&lock->locked, &free_, me, 0,
					    __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
		/* taking turns, the holder cannot run until we give up */
		if (!kxh_sched()->parallel)
			kxh_bug("spin lock %p held by a sleeping task (deadlock)", (void *)lock);
		free_ = 0;
	}
	lock->taken++;
	kxh_locks_held++;
}

void spin_unlock(spinlock_t *lock)
{
	int owner = __atomic_load_n(&lock->locked, __ATOMIC_RELAXED);

	if (!owner)
		kxh_bug("spin lock %p released while free", (void *)lock);
	if (owner != self_id())
		kxh_bug("spin lock %p released by a thread that does not hold it", (void *)lock);
	kxh_locks_held--;
	__atomic_store_n(&lock->locked, 0, __ATOMIC_RELEASE);
}

void spin_lock_irq(spinlock_t *lock)
{
	kxh_irqs_off++;
	spin_lock(lock);
	lock->taken_irqsave++;
}

void spin_unlock_irq(spinlock_t *lock)
{
	spin_unlock(lock);
	kxh_irqs_off--;
}

void spin_lock_bh(spinlock_t *lock)
{
	spin_lock(lock);
}

void spin_unlock_bh(spinlock_t *lock)
{
	spin_unlock(lock);
}

unsigned long kxh_spin_lock_irqsave(spinlock_t *lock)
{
	unsigned long flags = (unsigned long)kxh_irqs_off;

	kxh_irqs_off++;
	spin_lock(lock);
	lock->taken_irqsave++;
	return flags;
}

void spin_unlock_irqrestore(spinlock_t *lock, unsigned long flags)
{
	spin_unlock(lock);
	if (kxh_irqs_off != (int)flags + 1)
		kxh_bug("spin_unlock_irqrestore with foreign flags");
	kxh_irqs_off--;
}

int spin_is_locked(spinlock_t *lock)
{
	return __atomic_load_n(&lock->locked, __ATOMIC_RELAXED) != 0;
}

void mutex_init(struct mutex *lock)
{
	lock->locked = 0;
	lock->taken = 0;
}

static bool mutex_free(const void *arg)
{
	const struct mutex *lock = arg;

	return !lock->locked;
}

void mutex_lock(struct mutex *lock)
{
	might_sleep();
	/* the holder may sleep with it: live, wait for the CPU and the mutex */
	kxh_sched()->block(mutex_free, lock, -1);
	if (lock->locked)
		kxh_bug("mutex %p taken twice (deadlock)", (void *)lock);
	lock->locked = 1;
	lock->taken++;
}

int mutex_lock_interruptible(struct mutex *lock)
{
	mutex_lock(lock);
	return 0;
}

int mutex_trylock(struct mutex *lock)
{
	if (lock->locked)
		return 0;
	lock->locked = 1;
	lock->taken++;
	return 1;
}

void mutex_unlock(struct mutex *lock)
{
	if (!lock->locked)
		kxh_bug("mutex %p released while free", (void *)lock);
	lock->locked = 0;
	kxh_sched()->kick();
}

bool mutex_is_locked(struct mutex *lock)
{
	return lock->locked != 0;
}

void mutex_destroy(struct mutex *lock)
{
	if (lock->locked)
		kxh_bug("mutex %p destroyed while held", (void *)lock);
}
