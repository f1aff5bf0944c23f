// SPDX-License-Identifier: GPL-2.0
/* Host layer: byte kfifo with the kernel's sizing and counter semantics. */
#include <linux/kernel.h>
#include <linux/kfifo.h>
#include <linux/slab.h>

static unsigned int roundup_pow_of_two(unsigned int n)
{
	unsigned int p = 1;

	while (p < n && p < 0x80000000u)
		p <<= 1;
	return p;
}

static unsigned int rounddown_pow_of_two(unsigned int n)
{
	unsigned int p = 1;

	while (p <= n / 2)
		p <<= 1;
	return p;
}

int __kfifo_alloc(struct __kfifo *fifo, unsigned int size, gfp_t gfp)
{
	size = roundup_pow_of_two(size);
	fifo->in = 0;
	fifo->out = 0;
	fifo->esize = 1;
	if (size < 2) {
		fifo->data = NULL;
		fifo->mask = 0;
		return -EINVAL;
	}
	fifo->data = kmalloc(size, gfp);
	if (!fifo->data) {
		fifo->mask = 0;
		return -ENOMEM;
	}
	fifo->mask = size - 1;
	return 0;
}

void __kfifo_free(struct __kfifo *fifo)
{
	kfree(fifo->data);
	fifo->in = 0;
	fifo->out = 0;
	fifo->esize = 0;
	fifo->data = NULL;
	fifo->mask = 0;
}

int __kfifo_init(struct __kfifo *fifo, void *buffer, unsigned int size)
{
	size = size < 2 ? size : rounddown_pow_of_two(size);
	fifo->in = 0;
	fifo->out = 0;
	fifo->esize = 1;
	fifo->data = buffer;
	if (size < 2) {
		fifo->mask = 0;
		return -EINVAL;
	}
	fifo->mask = size - 1;
	return 0;
}

static unsigned int fifo_unused(struct __kfifo *fifo)
{
	return (fifo->mask + 1) - (fifo->in - fifo->out);
}

static void copy_in(struct __kfifo *fifo, const void *src, unsigned int len, unsigned int off)
{
	unsigned int size = fifo->mask + 1;
	unsigned int l;

	off &= fifo->mask;
	l = min(len, size - off);
	memcpy((char *)fifo->data + off, src, l);
	memcpy(fifo->data, (const char *)src + l, len - l);
}

static void copy_out(struct __kfifo *fifo, void *dst, unsigned int len, unsigned int off)
{
	unsigned int size = fifo->mask + 1;
	unsigned int l;

	off &= fifo->mask;
	l = min(len, size - off);
	memcpy(dst, (const char *)fifo->data + off, l);
	memcpy((char *)dst + l, fifo->data, len - l);
}

unsigned int __kfifo_in(struct __kfifo *fifo, const void *buf, unsigned int len)
{
	unsigned int l = fifo_unused(fifo);

	if (len > l)
		len = l;
	copy_in(fifo, buf, len, fifo->in);
	fifo->in += len;
	return len;
}

unsigned int __kfifo_out_peek(struct __kfifo *fifo, void *buf, unsigned int len)
{
	unsigned int l = fifo->in - fifo->out;

	if (len > l)
		len = l;
	copy_out(fifo, buf, len, fifo->out);
	return len;
}

unsigned int __kfifo_out(struct __kfifo *fifo, void *buf, unsigned int len)
{
	len = __kfifo_out_peek(fifo, buf, len);
	fifo->out += len;
	return len;
}

unsigned int __kfifo_in_locked(struct __kfifo *fifo, const void *buf,
			       unsigned int len, spinlock_t *lock)
{
	unsigned long flags;
	unsigned int n;

	spin_lock_irqsave(lock, flags);
	n = __kfifo_in(fifo, buf, len);
	spin_unlock_irqrestore(lock, flags);
	return n;
}

unsigned int __kfifo_out_locked(struct __kfifo *fifo, void *buf,
				unsigned int len, spinlock_t *lock)
{
	unsigned long flags;
	unsigned int n;

	spin_lock_irqsave(lock, flags);
	n = __kfifo_out(fifo, buf, len);
	spin_unlock_irqrestore(lock, flags);
	return n;
}
