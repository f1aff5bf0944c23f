/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/of_irq.h> (and the mapping calls of
 * <linux/irqdomain.h> it brings): a node's "interrupts" map to a Linux
 * interrupt number; the host counts live mappings.
 */
#ifndef _LINUX_OF_IRQ_H
#define _LINUX_OF_IRQ_H

#include <linux/types.h>
#include <linux/of.h>

/* the Linux interrupt of the node's index-th interrupt, 0 when none */
unsigned int irq_of_parse_and_map(struct device_node *node, int index);
void irq_dispose_mapping(unsigned int virq);

#endif
