// SPDX-License-Identifier: GPL-2.0
/* Host layer: GPIO descriptors recording the levels driven on them. */
#include <stdio.h>
#include <stdlib.h>

#include <linux/kernel.h>
#include <linux/gpio/consumer.h>
#include <kxhost/bug.h>
#include <kxhost/gpio.h>
#include <kxhost/irq.h>
#include <kxhost/time.h>

struct gpio_desc {
	char name[32];
	int value;
	int output;
	unsigned int nchanges;
	struct kxh_gpio_change changes[1024];
};

struct gpio_desc *kxh_gpio_new(const char *name, int value)
{
	struct gpio_desc *d = calloc(1, sizeof(*d));

	if (!d)
		abort();
	snprintf(d->name, sizeof(d->name), "%s", name);
	d->value = value;
	return d;
}

void kxh_gpio_free(struct gpio_desc *desc)
{
	free(desc);
}

int kxh_gpio_value(const struct gpio_desc *desc)
{
	return desc->value;
}

unsigned int kxh_gpio_changes(const struct gpio_desc *desc)
{
	return desc->nchanges;
}

const struct kxh_gpio_change *kxh_gpio_change(const struct gpio_desc *desc, unsigned int i)
{
	return i < desc->nchanges && i < 1024 ? &desc->changes[i] : NULL;
}

void gpiod_set_value(struct gpio_desc *desc, int value)
{
	if (!desc)
		return;
	value = !!value;
	if (desc->nchanges < 1024) {
		desc->changes[desc->nchanges].value = value;
		desc->changes[desc->nchanges].mono_ns = kxh_time_mono_ns();
		desc->changes[desc->nchanges].in_irq = in_irq();
	}
	desc->nchanges++;
	desc->value = value;
}

void gpiod_set_value_cansleep(struct gpio_desc *desc, int value)
{
	might_sleep();
	gpiod_set_value(desc, value);
}

int gpiod_get_value(const struct gpio_desc *desc)
{
	return desc ? desc->value : 0;
}

int gpiod_get_value_cansleep(const struct gpio_desc *desc)
{
	might_sleep();
	return gpiod_get_value(desc);
}

int gpiod_direction_output(struct gpio_desc *desc, int value)
{
	if (!desc)
		return 0;
	desc->output = 1;
	gpiod_set_value(desc, value);
	return 0;
}

int gpiod_direction_input(struct gpio_desc *desc)
{
	if (desc)
		desc->output = 0;
	return 0;
}
