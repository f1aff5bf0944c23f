/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Building the device tree. Nodes hang under the root (parent NULL) or
 * another node; properties are set by kind. Lookups by the module take
 * node references; kxh_of_refs() is what is still held.
 */
#ifndef KXHOST_OF_H
#define KXHOST_OF_H

#include <linux/of.h>

struct gpio_desc;

struct device_node *kxh_of_add(struct device_node *parent, const char *name);
void kxh_of_set_string(struct device_node *np, const char *prop, const char *value);
#define kxh_of_set_compatible(np, compat) kxh_of_set_string((np), "compatible", (compat))
void kxh_of_set_u32(struct device_node *np, const char *prop, u32 value);
/* prop = <&target>, giving target a phandle when it has none */
void kxh_of_set_phandle(struct device_node *np, const char *prop, struct device_node *target);
/* interrupts = <hwirq> */
void kxh_of_set_interrupt(struct device_node *np, int hwirq);
/* "<name>-gpios" = the descriptor */
void kxh_of_set_gpio(struct device_node *np, const char *prop, struct gpio_desc *desc);
/* node references held by lookups, summed over the tree */
int kxh_of_refs(void);
/* interrupt mappings made and not disposed of */
unsigned int kxh_irq_mappings(void);

#endif
