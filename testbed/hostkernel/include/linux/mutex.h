/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/mutex.h>: a checked flag like the spin lock; taking
 * a mutex in atomic context (hard interrupt, spin lock held) aborts the test.
 */
#ifndef _LINUX_MUTEX_H
#define _LINUX_MUTEX_H

#include <linux/types.h>

struct mutex {
	int locked;
	unsigned int taken;
};

#define __MUTEX_INITIALIZER(name) { 0, 0 }
#define DEFINE_MUTEX(name) struct mutex name = __MUTEX_INITIALIZER(name)

void mutex_init(struct mutex *lock);
void mutex_lock(struct mutex *lock);
int mutex_lock_interruptible(struct mutex *lock);
int mutex_trylock(struct mutex *lock);
void mutex_unlock(struct mutex *lock);
bool mutex_is_locked(struct mutex *lock);
void mutex_destroy(struct mutex *lock);

#endif
