/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Sleeping tasks. While the module sleeps on a wait queue, the sleep hook
 * runs once per sleep step: it is where a test plays the other threads
 * (push received bytes, run work, wake the queue, raise a signal). A step
 * without a wake-up or signal lets one jiffy pass.
 */
#ifndef KXHOST_WAIT_H
#define KXHOST_WAIT_H

void kxh_wait_set_hook(void (*fn)(void *arg), void *arg);
/* a signal for the (only) task: interruptible sleeps end with -ERESTARTSYS */
void kxh_signal_raise(void);
void kxh_signal_clear(void);
int kxh_signal_is_pending(void);
/* sleep steps taken so far */
unsigned long kxh_wait_steps(void);

#endif
