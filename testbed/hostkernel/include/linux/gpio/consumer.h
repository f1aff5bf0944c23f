/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/gpio/consumer.h>. A descriptor records every
 * level driven on it with the virtual time (<kxhost/gpio.h>). As in the
 * kernel, a null descriptor (an absent optional GPIO) is silently ignored.
 */
#ifndef _LINUX_GPIO_CONSUMER_H
#define _LINUX_GPIO_CONSUMER_H

#include <linux/types.h>

struct gpio_desc;

enum gpiod_flags {
	GPIOD_ASIS = 0,
	GPIOD_IN = 1,
	GPIOD_OUT_LOW = 3,
	GPIOD_OUT_HIGH = 7,
};

struct device;

/*
 * The GPIO "<con_id>-gpios" of the device's node: NULL when the node has
 * none, an error when it cannot be had; release with gpiod_put().
 */
struct gpio_desc *gpiod_get_optional(struct device *dev, const char *con_id,
				     enum gpiod_flags flags);
void gpiod_put(struct gpio_desc *desc);
/* the line's chip sleeps to drive it (an expander on a bus); 0 for NULL */
int gpiod_cansleep(const struct gpio_desc *desc);
void gpiod_set_value(struct gpio_desc *desc, int value);
void gpiod_set_value_cansleep(struct gpio_desc *desc, int value);
int gpiod_get_value(const struct gpio_desc *desc);
int gpiod_get_value_cansleep(const struct gpio_desc *desc);
int gpiod_direction_output(struct gpio_desc *desc, int value);
int gpiod_direction_input(struct gpio_desc *desc);

#endif
