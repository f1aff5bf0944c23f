// SPDX-License-Identifier: GPL-2.0
/* Host layer: execution context (hard interrupt, atomic) and its checks. */
#include <linux/interrupt.h>
#include <linux/kernel.h>
#include <kxhost/bug.h>
#include <kxhost/irq.h>

int kxh_hardirq_depth;
int kxh_locks_held;
int kxh_irqs_off;

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
	return kxh_hardirq_depth + kxh_locks_held + kxh_irqs_off;
}

void might_sleep(void)
{
	if (kxh_hardirq_depth)
		kxh_bug("sleeping call in hard-interrupt context");
	if (kxh_locks_held || kxh_irqs_off)
		kxh_bug("sleeping call with a spin lock held or interrupts off");
}

irqreturn_t kxh_irq_call(irq_handler_t handler, int irq, void *dev_id)
{
	irqreturn_t ret;
	int locks = kxh_locks_held;

	kxh_hardirq_depth++;
	kxh_irqs_off++;
	ret = handler(irq, dev_id);
	kxh_irqs_off--;
	kxh_hardirq_depth--;
	if (kxh_locks_held != locks)
		kxh_bug("interrupt handler returned with a spin lock held");
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
