// SPDX-License-Identifier: GPL-2.0
/* Host layer: execution context (hard interrupt, atomic) and its checks. */
#include <linux/interrupt.h>
#include <linux/kernel.h>
#include <kxhost/bug.h>
#include <kxhost/fault.h>
#include <kxhost/irq.h>
#include <kxhost/race.h>

/* per thread: kernel threads of the host layer run on threads of their own */
_Thread_local int kxh_hardirq_depth;
_Thread_local int kxh_locks_held;
_Thread_local int kxh_irqs_off;

bool in_irq(void)
{
	return kxh_hardirq_depth > 0;
}

bool in_interrupt(void)
{
	return kxh_hardirq_depth > 0;
}

int kxh_atomic_depth(void)
{
	return kxh_hardirq_depth + kxh_locks_held + kxh_irqs_off + kxh_rcu_depth();
}

void might_sleep(void)
{
	if (kxh_hardirq_depth)
		kxh_bug("sleeping call in hard-interrupt context");
	if (kxh_locks_held || kxh_irqs_off)
		kxh_bug("sleeping call with a spin lock held or interrupts off");
	if (kxh_rcu_depth())
		kxh_bug("sleeping call inside an RCU read-side critical section");
}

irqreturn_t kxh_irq_call(irq_handler_t handler, int irq, void *dev_id)
{
	irqreturn_t ret;
	int locks = kxh_locks_held;
	int rcu = kxh_rcu_depth();

	/* a handler is an RCU reader: synchronize_rcu() waits for it too */
	kxh_race_irq_enter((unsigned int)irq);
	kxh_hardirq_depth++;
	kxh_irqs_off++;
	ret = handler(irq, dev_id);
	kxh_irqs_off--;
	kxh_hardirq_depth--;
	if (kxh_locks_held != locks)
		kxh_bug("interrupt handler returned with a spin lock held");
	if (kxh_rcu_depth() != rcu + 1)
		kxh_bug("interrupt handler returned inside an RCU read-side section");
	kxh_race_irq_exit((unsigned int)irq);
	return ret;
}

unsigned long kxh_local_irq_save(void)
{
	return (unsigned long)kxh_irqs_off++;
}

void local_irq_restore(unsigned long flags)
{
	if (kxh_irqs_off != (int)flags + 1)
		kxh_bug("local_irq_restore out of order");
	kxh_irqs_off--;
}

/* ---- requested interrupt lines ------------------------------------------ */

#define MAX_IRQ 256

static struct {
	irq_handler_t handler;
	unsigned long flags;
	const char *name;
	void *dev;
} lines[MAX_IRQ];

int request_irq(unsigned int irq, irq_handler_t handler, unsigned long flags,
		const char *name, void *dev)
{
	int err;

	might_sleep();
	if (!irq || irq >= MAX_IRQ || !handler)
		return -EINVAL;
	err = kxh_fault_check("request_irq");
	if (err)
		return err;
	if (lines[irq].handler)
		return -EBUSY;
	lines[irq].handler = handler;
	lines[irq].flags = flags;
	lines[irq].name = name;
	lines[irq].dev = dev;
	return 0;
}

const void *free_irq(unsigned int irq, void *dev_id)
{
	const char *name;

	might_sleep();
	if (irq >= MAX_IRQ || !lines[irq].handler || lines[irq].dev != dev_id)
		kxh_bug("free_irq(%u) of an interrupt not requested", irq);
	name = lines[irq].name;
	lines[irq].handler = NULL;
	return name;
}

void synchronize_irq(unsigned int irq)
{
	/* waits for the handler running on another CPU (<kxhost/race.h>) */
	might_sleep();
	kxh_race_sync_irq(irq);
}

irqreturn_t kxh_irq_fire(unsigned int irq)
{
	if (irq >= MAX_IRQ || !lines[irq].handler)
		return IRQ_NONE;
	return kxh_irq_call(lines[irq].handler, (int)irq, lines[irq].dev);
}

bool kxh_irq_requested(unsigned int irq)
{
	return irq < MAX_IRQ && lines[irq].handler;
}

const char *kxh_irq_name(unsigned int irq)
{
	return irq < MAX_IRQ ? lines[irq].name : NULL;
}

unsigned long kxh_irq_flags(unsigned int irq)
{
	return irq < MAX_IRQ ? lines[irq].flags : 0;
}

void *kxh_irq_cookie(unsigned int irq)
{
	return irq < MAX_IRQ ? lines[irq].dev : NULL;
}

unsigned int kxh_irqs_requested(void)
{
	unsigned int i, n = 0;

	for (i = 0; i < MAX_IRQ; i++)
		n += lines[i].handler != NULL;
	return n;
}
