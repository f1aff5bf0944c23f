// SPDX-License-Identifier: GPL-2.0
/* Host layer: model of the i.MX93 TPM4 timer's capture and status registers. */
#include <linux/kernel.h>
#include <kxhost/tpm4.h>

#define STATUS_W1C_MASK 0x10F	/* TOF and CH0F..CH3F */

static void tpm4_write(struct kxh_io_block *blk, u32 off, u32 value)
{
	switch (off) {
	case KXH_TPM4_STATUS:
		blk->regs[off / 4] &= ~(value & STATUS_W1C_MASK);
		break;
	case KXH_TPM4_C2V:
		/* in input-capture mode the channel value is read-only */
		break;
	default:
		blk->regs[off / 4] = value;
	}
}

static const struct kxh_io_ops tpm4_ops = {
	.write = tpm4_write,
};

struct kxh_io_block *kxh_tpm4_install(void)
{
	return kxh_io_install(KXH_TPM4_PHYS, 4096, &tpm4_ops);
}

void kxh_tpm4_capture(struct kxh_io_block *tpm, u32 count)
{
	tpm->regs[KXH_TPM4_C2V / 4] = count;
	tpm->regs[KXH_TPM4_STATUS / 4] |= KXH_TPM4_CH2F;
}

void kxh_tpm4_overflow(struct kxh_io_block *tpm)
{
	tpm->regs[KXH_TPM4_STATUS / 4] |= KXH_TPM4_TOF;
}
