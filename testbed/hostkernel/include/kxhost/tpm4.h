/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Model of the i.MX93 TPM4 timer block as the module uses it: STATUS (0x1C)
 * flags are cleared by writing 1 (write-1-to-clear), C2V (0x34) holds the
 * channel-2 capture, every other register reads back what was written.
 */
#ifndef KXHOST_TPM4_H
#define KXHOST_TPM4_H

#include <kxhost/io.h>

#define KXH_TPM4_PHYS 0x424F0000
#define KXH_TPM4_STATUS 0x1C
#define KXH_TPM4_C2V 0x34
#define KXH_TPM4_CH2F 0x4
#define KXH_TPM4_TOF 0x100

struct kxh_io_block *kxh_tpm4_install(void);
/* a rising edge on channel 2 with the counter at `count`: C2V and CH2F */
void kxh_tpm4_capture(struct kxh_io_block *tpm, u32 count);
/* the counter wrapped: TOF */
void kxh_tpm4_overflow(struct kxh_io_block *tpm);

#endif
