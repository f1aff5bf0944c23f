/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The whole board for module load tests: the device tree with the PPS timer
 * node ("gtop,ppstimer", LED, both MAC phandles), the "pwm4" node with its
 * interrupt, the two MACs with their "phy-handle"s and PHYs, I2C adapter 1
 * and the TPM4 model. Flags leave parts out.
 */
#ifndef KX_BOARD_H
#define KX_BOARD_H

#include <linux/of.h>
#include <linux/phy.h>
#include <linux/platform_device.h>
#include <kxhost.h>
#include "kx_pps.h"

#define KB_PWM4_HWIRQ 7

enum {
	KB_NO_PWM4 = 1 << 0,		/* no node "pwm4" */
	KB_NO_TIMER = 1 << 1,		/* no "gtop,ppstimer" node and device */
	KB_NO_LED = 1 << 2,		/* timer node without "pps-led-gpios" */
	KB_NO_PHYS = 1 << 3,		/* MACs without PHYs (added later) */
	KB_NO_ADAPTER = 1 << 4,		/* no I2C adapter 1 */
	KB_NO_MACS = 1 << 5,		/* MAC nodes without devices */
	KB_NO_IRQ = 1 << 6,		/* "pwm4" without interrupts */
	KB_OWN_TPM4 = 1 << 7,		/* the test installed its own TPM4 block */
};

struct kb_board {
	struct device_node *timer_np, *pwm4_np, *mac_np[2], *phy_np[2];
	struct platform_device *timer, *mac[2];
	struct phy_device *phy[2];
	struct gpio_desc *led;
	struct kxh_io_block *tpm4;
};
extern struct kb_board kb;

void kb_setup(unsigned int flags);
/* kb_setup(flags) and a module load that must succeed */
void kb_load(unsigned int flags);
/* the PHYs appear (retrying a deferred probe) */
void kb_add_phys(void);
void kb_add_macs(void);
/* the timer's platform device appears */
void kb_add_timer(void);
/* channel 2 captures count and the module's interrupt fires */
irqreturn_t kb_pulse(u32 count);
/* the probed record, or NULL */
struct pps_priv *kb_priv(void);
/* position of the first log record with exactly this text, -1 when none */
int kb_log_index(const char *text);

#endif
