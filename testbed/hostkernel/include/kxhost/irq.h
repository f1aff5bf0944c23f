/* SPDX-License-Identifier: GPL-2.0 */
/* Hard-interrupt context for calling handlers. */
#ifndef KXHOST_IRQ_H
#define KXHOST_IRQ_H

#include <linux/interrupt.h>

/* run handler(irq, dev_id) as the interrupt core would, in hard-irq context */
irqreturn_t kxh_irq_call(irq_handler_t handler, int irq, void *dev_id);
/* the handler requested for irq runs as the interrupt core would; IRQ_NONE without one */
irqreturn_t kxh_irq_fire(unsigned int irq);
bool kxh_irq_requested(unsigned int irq);
const char *kxh_irq_name(unsigned int irq);
unsigned long kxh_irq_flags(unsigned int irq);
void *kxh_irq_cookie(unsigned int irq);
/* interrupts requested and not freed */
unsigned int kxh_irqs_requested(void);
/* spin locks held plus hard-irq nesting: nonzero means atomic context */
int kxh_atomic_depth(void);

#endif
