// SPDX-License-Identifier: GPL-2.0
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kx_board.h"

struct kb_board kb;
static unsigned int kb_flags;

void kb_add_phys(void)
{
	int i;

	for (i = 0; i < 2; i++)
		if (!kb.phy[i])
			kb.phy[i] = kxh_phy_add(kb.phy_np[i], i ? "phy1" : "phy0");
}

void kb_add_macs(void)
{
	int i;

	for (i = 0; i < 2; i++)
		if (!kb.mac[i])
			kb.mac[i] = kxh_platform_device_add(i ? "43810000.ethernet" :
							    "42890000.ethernet",
							    kb.mac_np[i]);
}

void kb_add_timer(void)
{
	kb.timer = kxh_platform_device_add("ppstimer", kb.timer_np);
}

void kb_setup(unsigned int flags)
{
	struct device_node *soc;
	int i;

	kb_flags = flags;
	memset(&kb, 0, sizeof(kb));
	kb.tpm4 = flags & KB_OWN_TPM4 ? kxh_io_find(TPM4_PHYS) : kxh_tpm4_install();
	if (!(flags & KB_NO_ADAPTER))
		kxh_i2c_add_adapter(DAC_I2C_ADAPTER);

	soc = kxh_of_add(NULL, "soc");
	if (!(flags & KB_NO_PWM4)) {
		kb.pwm4_np = kxh_of_add(soc, "pwm4");
		if (!(flags & KB_NO_IRQ))
			kxh_of_set_interrupt(kb.pwm4_np, KB_PWM4_HWIRQ);
	}
	for (i = 0; i < 2; i++) {
		kb.mac_np[i] = kxh_of_add(soc, "ethernet");
		kb.phy_np[i] = kxh_of_add(kb.mac_np[i], "ethernet-phy");
		kxh_of_set_phandle(kb.mac_np[i], "phy-handle", kb.phy_np[i]);
	}
	kb.timer_np = kxh_of_add(NULL, "ppstimer");
	kxh_of_set_compatible(kb.timer_np, "gtop,ppstimer");
	kxh_of_set_phandle(kb.timer_np, "port0-mac", kb.mac_np[0]);
	kxh_of_set_phandle(kb.timer_np, "port1-mac", kb.mac_np[1]);
	if (!(flags & KB_NO_LED)) {
		kb.led = kxh_gpio_new("pps-led", 0);
		kxh_of_set_gpio(kb.timer_np, "pps-led-gpios", kb.led);
	}
	if (!(flags & KB_NO_MACS))
		kb_add_macs();
	if (!(flags & KB_NO_PHYS))
		kb_add_phys();
	if (!(flags & KB_NO_TIMER))
		kb_add_timer();
}

void kb_load(unsigned int flags)
{
	int err;

	kb_setup(flags);
	err = kxh_module_init();
	if (err) {
		fprintf(stderr, "board: module load failed: %d\n", err);
		abort();
	}
}

irqreturn_t kb_pulse(u32 count)
{
	kxh_tpm4_capture(kb.tpm4, count);
	return kxh_irq_fire((unsigned int)pps_irq);
}

struct pps_priv *kb_priv(void)
{
	return kb.timer ? platform_get_drvdata(kb.timer) : NULL;
}

int kb_log_index(const char *text)
{
	unsigned int i;

	for (i = 0; i < kxh_log_count(); i++)
		if (!strcmp(kxh_log_get(i)->text, text))
			return (int)i;
	return -1;
}
