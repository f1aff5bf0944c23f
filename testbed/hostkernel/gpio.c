// SPDX-License-Identifier: GPL-2.0
/*
 * Host layer: GPIO descriptors recording the levels driven on them. A line
 * can be made one that sleeps (behind an I2C or SPI expander): as in the
 * kernel, gpiod_set_value() on it warns, and since its chip's set would
 * sleep, doing so in atomic context ends the test; the _cansleep calls
 * may sleep, on any line.
 */
#include <stdio.h>
#include <stdlib.h>

#include <linux/kernel.h>
#include <linux/gpio/consumer.h>
#include <linux/device.h>
#include <linux/of.h>
#include <linux/printk.h>
#include <kxhost/bug.h>
#include <kxhost/fault.h>
#include <kxhost/gpio.h>
#include <kxhost/irq.h>
#include <kxhost/time.h>

struct gpio_desc {
	char name[32];
	int value;
	int output;
	int requested;
	bool can_sleep;
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

bool kxh_gpio_requested(const struct gpio_desc *desc)
{
	return desc->requested;
}

bool kxh_gpio_is_output(const struct gpio_desc *desc)
{
	return desc->output;
}

struct gpio_desc *gpiod_get_optional(struct device *dev, const char *con_id,
				     enum gpiod_flags flags)
{
	char prop[64];
	struct gpio_desc *const *p;
	struct gpio_desc *desc;
	int len, err;

	might_sleep();
	snprintf(prop, sizeof(prop), "%s-gpios", con_id);
	p = of_get_property(dev->of_node, prop, &len);
	if (!p || len != sizeof(desc))
		return NULL;
	err = kxh_fault_check("gpiod_get");
	if (err)
		return ERR_PTR(err);
	desc = *p;
	if (desc->requested)
		return ERR_PTR(-EBUSY);
	desc->requested = 1;
	if (flags & 2)	/* GPIOD_FLAGS_BIT_DIR_OUT */
		gpiod_direction_output(desc, (flags & 4) != 0);
	else if (flags & 1)
		gpiod_direction_input(desc);
	return desc;
}

void gpiod_put(struct gpio_desc *desc)
{
	if (IS_ERR_OR_NULL(desc))
		return;
	if (!desc->requested)
		kxh_bug("gpiod_put of GPIO %s not requested", desc->name);
	desc->requested = 0;
}

unsigned int kxh_gpio_changes(const struct gpio_desc *desc)
{
	return desc->nchanges;
}

const struct kxh_gpio_change *kxh_gpio_change(const struct gpio_desc *desc, unsigned int i)
{
	return i < desc->nchanges && i < 1024 ? &desc->changes[i] : NULL;
}

void kxh_gpio_set_cansleep(struct gpio_desc *desc, bool can_sleep)
{
	desc->can_sleep = can_sleep;
}

int gpiod_cansleep(const struct gpio_desc *desc)
{
	return desc ? desc->can_sleep : 0;
}

static void record(struct gpio_desc *desc, int value)
{
	value = !!value;
	if (desc->nchanges < 1024) {
		desc->changes[desc->nchanges].value = value;
		desc->changes[desc->nchanges].mono_ns = kxh_time_mono_ns();
		desc->changes[desc->nchanges].in_irq = in_irq();
	}
	desc->nchanges++;
	desc->value = value;
}

void gpiod_set_value(struct gpio_desc *desc, int value)
{
	if (!desc)
		return;
	/* should be gpiod_set_value_cansleep(); the chip's set sleeps */
	if (WARN_ON(desc->can_sleep))
		might_sleep();
	record(desc, value);
}

void gpiod_set_value_cansleep(struct gpio_desc *desc, int value)
{
	might_sleep();
	if (desc)
		record(desc, value);
}

int gpiod_get_value(const struct gpio_desc *desc)
{
	if (!desc)
		return 0;
	if (WARN_ON(desc->can_sleep))
		might_sleep();
	return desc->value;
}

int gpiod_get_value_cansleep(const struct gpio_desc *desc)
{
	might_sleep();
	return desc ? desc->value : 0;
}

int gpiod_direction_output(struct gpio_desc *desc, int value)
{
	if (!desc)
		return 0;
	if (desc->can_sleep)
		might_sleep();
	desc->output = 1;
	record(desc, value);
	return 0;
}

int gpiod_direction_input(struct gpio_desc *desc)
{
	if (desc)
		desc->output = 0;
	return 0;
}
