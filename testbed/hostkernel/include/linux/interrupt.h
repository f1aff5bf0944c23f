/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/interrupt.h>. A test raises an interrupt with
 * kxh_irq_call() (<kxhost/irq.h>), which runs the handler in hard-interrupt
 * context: anything that may sleep aborts the test there.
 */
#ifndef _LINUX_INTERRUPT_H
#define _LINUX_INTERRUPT_H

#include <linux/types.h>

enum irqreturn {
	IRQ_NONE = 0,
	IRQ_HANDLED = 1,
	IRQ_WAKE_THREAD = 2,
};
typedef enum irqreturn irqreturn_t;
typedef irqreturn_t (*irq_handler_t)(int irq, void *dev_id);

#define __IRQF_TIMER 0x00000200
#define IRQF_NO_SUSPEND 0x00004000
#define IRQF_NO_THREAD 0x00010000
#define IRQF_TIMER (__IRQF_TIMER | IRQF_NO_SUSPEND | IRQF_NO_THREAD)
#define IRQF_SHARED 0x00000080

int request_irq(unsigned int irq, irq_handler_t handler, unsigned long flags,
		const char *name, void *dev);
const void *free_irq(unsigned int irq, void *dev_id);
void synchronize_irq(unsigned int irq);

bool in_interrupt(void);
bool in_irq(void);
#define in_hardirq() in_irq()

#endif
