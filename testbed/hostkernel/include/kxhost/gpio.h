/* SPDX-License-Identifier: GPL-2.0 */
/* GPIO lines: a test makes descriptors and reads back what was driven. */
#ifndef KXHOST_GPIO_H
#define KXHOST_GPIO_H

#include <linux/gpio/consumer.h>

struct kxh_gpio_change {
	int value;
	s64 mono_ns;	/* virtual monotonic time of the change */
	int in_irq;	/* driven from hard-interrupt context */
};

struct gpio_desc *kxh_gpio_new(const char *name, int value);
/* a line behind a bus: gpiod_cansleep() says so, gpiod_set_value() warns */
void kxh_gpio_set_cansleep(struct gpio_desc *desc, bool can_sleep);
void kxh_gpio_free(struct gpio_desc *desc);
int kxh_gpio_value(const struct gpio_desc *desc);
/* requested through gpiod_get_optional() and not yet put */
bool kxh_gpio_requested(const struct gpio_desc *desc);
bool kxh_gpio_is_output(const struct gpio_desc *desc);
unsigned int kxh_gpio_changes(const struct gpio_desc *desc);
const struct kxh_gpio_change *kxh_gpio_change(const struct gpio_desc *desc, unsigned int i);

#endif
