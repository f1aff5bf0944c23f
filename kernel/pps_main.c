// SPDX-License-Identifier: GPL-2.0
/*
 * kx_pps: module start-up and tear-down, and the platform driver of the PPS
 * timer device ("gtop,ppstimer").
 * (Start-up and the driver are added with the module start-up work.)
 */
#include <linux/module.h>
#include <linux/mod_devicetable.h>

#include "kx_pps.h"

struct pps_priv *g_pps;
void __iomem *reg_base_lptpm4;
void __iomem *reg_base_ccm;
void __iomem *reg_base_iomuxc;
void __iomem *reg_base_gpio2;
s32 pps_irq = -1;
struct i2c_adapter *adapter_1;

static const struct of_device_id ppstimer_of_match[] = {
	{ .compatible = "gtop,ppstimer" },
	{ }
};
MODULE_DEVICE_TABLE(of, ppstimer_of_match);

static int __init pps_init(void)
{
	return 0;
}

static void __exit pps_exit(void)
{
}

module_init(pps_init);
module_exit(pps_exit);

MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("GPS-disciplined PPS timer, VCXO loop and GPS time");
