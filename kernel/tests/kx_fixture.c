// SPDX-License-Identifier: GPL-2.0
#include <stdio.h>
#include <stdlib.h>

#include "kx_fixture.h"

struct kxh_io_block *fx_tpm4;

void fx_board(void)
{
	struct i2c_board_info info = { I2C_BOARD_INFO("ti-dac8571-pps", DAC_I2C_ADDR) };

	fx_tpm4 = kxh_tpm4_install();
	reg_base_lptpm4 = ioremap(TPM4_PHYS, KX_REG_BLOCK_SIZE);
	kxh_i2c_add_adapter(DAC_I2C_ADAPTER);
	adapter_1 = i2c_get_adapter(DAC_I2C_ADAPTER);
	dac_client = i2c_new_client_device(adapter_1, &info);
	dac_workq = alloc_ordered_workqueue("%s", WQ_MEM_RECLAIM, "pps");
	if (!reg_base_lptpm4 || !adapter_1 || IS_ERR_OR_NULL(dac_client) || !dac_workq) {
		fprintf(stderr, "fixture: board set-up failed\n");
		abort();
	}
}

void fx_probed(void)
{
	static struct pps_priv priv;

	priv.led_gpio = kxh_gpio_new("pps-led", 0);
	priv.pps_src = kxh_pps_new("kx-pps");
	if (IS_ERR_OR_NULL(priv.pps_src))
		abort();
	g_pps = &priv;
}

irqreturn_t fx_pulse(u32 count)
{
	kxh_tpm4_capture(fx_tpm4, count);
	return kxh_irq_call(timer_irq, 42, NULL);
}

irqreturn_t fx_overflow(void)
{
	kxh_tpm4_overflow(fx_tpm4);
	return kxh_irq_call(timer_irq, 42, NULL);
}

void fx_pulses(u32 n, unsigned int times)
{
	while (times--)
		fx_pulse(tpm4_counter_value_old + n);
}

static int is_dac(const struct kxh_i2c_rec *r)
{
	return r->bus == DAC_I2C_ADAPTER && r->addr == DAC_I2C_ADDR;
}

unsigned int fx_dac_writes(void)
{
	unsigned int i, n = 0;

	for (i = 0; i < kxh_i2c_count(); i++)
		n += is_dac(kxh_i2c_get(i));
	return n;
}

u16 fx_dac_code(unsigned int i)
{
	unsigned int k;

	for (k = 0; k < kxh_i2c_count(); k++) {
		const struct kxh_i2c_rec *r = kxh_i2c_get(k);

		if (is_dac(r) && i-- == 0)
			return (u16)(r->data[1] << 8 | r->data[2]);
	}
	fprintf(stderr, "fixture: no DAC message %u\n", i);
	abort();
}
