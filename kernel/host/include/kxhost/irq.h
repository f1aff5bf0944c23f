/* SPDX-License-Identifier: GPL-2.0 */
/* Hard-interrupt context for calling handlers. */
#ifndef KXHOST_IRQ_H
#define KXHOST_IRQ_H

#include <linux/interrupt.h>

/* run handler(irq, dev_id) as the interrupt core would, in hard-irq context */
irqreturn_t kxh_irq_call(irq_handler_t handler, int irq, void *dev_id);
/* spin locks held plus hard-irq nesting: nonzero means atomic context */
int kxh_atomic_depth(void);

#endif
