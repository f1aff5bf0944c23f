/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/kfifo.h>, byte FIFOs only (struct kfifo): a
 * power-of-two ring with free-running in and out counters, sized by
 * kfifo_alloc() rounding up to a power of two, exactly as the kernel does.
 * The kernel's macros take a pointer to the FIFO; so do these.
 */
#ifndef _LINUX_KFIFO_H
#define _LINUX_KFIFO_H

#include <linux/types.h>
#include <linux/gfp.h>
#include <linux/spinlock.h>

struct __kfifo {
	unsigned int in;
	unsigned int out;
	unsigned int mask;
	unsigned int esize;
	void *data;
};

struct kfifo {
	struct __kfifo kfifo;
};

int __kfifo_alloc(struct __kfifo *fifo, unsigned int size, gfp_t gfp);
void __kfifo_free(struct __kfifo *fifo);
int __kfifo_init(struct __kfifo *fifo, void *buffer, unsigned int size);
unsigned int __kfifo_in(struct __kfifo *fifo, const void *buf, unsigned int len);
unsigned int __kfifo_out(struct __kfifo *fifo, void *buf, unsigned int len);
unsigned int __kfifo_out_peek(struct __kfifo *fifo, void *buf, unsigned int len);
unsigned int __kfifo_in_locked(struct __kfifo *fifo, const void *buf,
			       unsigned int len, spinlock_t *lock);
unsigned int __kfifo_out_locked(struct __kfifo *fifo, void *buf,
				unsigned int len, spinlock_t *lock);

#define kfifo_alloc(fifo, size, gfp) __kfifo_alloc(&(fifo)->kfifo, (size), (gfp))
#define kfifo_free(fifo) __kfifo_free(&(fifo)->kfifo)
#define kfifo_init(fifo, buf, size) __kfifo_init(&(fifo)->kfifo, (buf), (size))
#define kfifo_in(fifo, buf, n) __kfifo_in(&(fifo)->kfifo, (buf), (n))
#define kfifo_out(fifo, buf, n) __kfifo_out(&(fifo)->kfifo, (buf), (n))
#define kfifo_out_peek(fifo, buf, n) __kfifo_out_peek(&(fifo)->kfifo, (buf), (n))
#define kfifo_in_spinlocked(fifo, buf, n, lock) \
	__kfifo_in_locked(&(fifo)->kfifo, (buf), (n), (lock))
#define kfifo_out_spinlocked(fifo, buf, n, lock) \
	__kfifo_out_locked(&(fifo)->kfifo, (buf), (n), (lock))
#define kfifo_put(fifo, val) \
	({ unsigned char __v = (val); __kfifo_in(&(fifo)->kfifo, &__v, 1); })
#define kfifo_get(fifo, ptr) __kfifo_out(&(fifo)->kfifo, (ptr), 1)
#define kfifo_peek(fifo, ptr) __kfifo_out_peek(&(fifo)->kfifo, (ptr), 1)

#define kfifo_size(fifo) ((fifo)->kfifo.mask + 1)
#define kfifo_len(fifo) ((fifo)->kfifo.in - (fifo)->kfifo.out)
#define kfifo_avail(fifo) (kfifo_size(fifo) - kfifo_len(fifo))
#define kfifo_is_empty(fifo) ((fifo)->kfifo.in == (fifo)->kfifo.out)
#define kfifo_is_full(fifo) (kfifo_len(fifo) > (fifo)->kfifo.mask)
#define kfifo_reset(fifo) \
	do { (fifo)->kfifo.in = (fifo)->kfifo.out = 0; } while (0)
#define kfifo_reset_out(fifo) \
	do { (fifo)->kfifo.out = (fifo)->kfifo.in; } while (0)
#define kfifo_skip(fifo) \
	do { if (!kfifo_is_empty(fifo)) (fifo)->kfifo.out++; } while (0)
#define kfifo_initialized(fifo) ((fifo)->kfifo.mask != 0)

#endif
