/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The board around the timing core, on the host layer: TPM4 mapped, the DAC
 * client on I2C adapter 1 with its ordered work queue, and optionally a
 * probed timer device (per-device record with PPS LED and LinuxPPS source).
 * It stands in for what module start-up and the probe set up.
 */
#ifndef KX_FIXTURE_H
#define KX_FIXTURE_H

#include <linux/err.h>
#include <linux/gpio/consumer.h>
#include <linux/i2c.h>
#include <linux/io.h>
#include <linux/limits.h>
#include <linux/pps_kernel.h>
#include <linux/printk.h>
#include <linux/workqueue.h>
#include <kxhost.h>
#include "kx_pps.h"

extern struct kxh_io_block *fx_tpm4;

/* TPM4 mapped, DAC client and DAC work queue made */
void fx_board(void);
/* a probed timer device with PPS LED and LinuxPPS source */
void fx_probed(void);
/* a pulse: channel 2 captures `count`, the interrupt runs */
irqreturn_t fx_pulse(u32 count);
/* a counter overflow interrupt without capture */
irqreturn_t fx_overflow(void);
/* pulses at exactly n cycles apart from the current reference */
void fx_pulses(u32 n, unsigned int times);
/* the DAC messages sent so far (3-byte writes to 0x4C on bus 1) */
unsigned int fx_dac_writes(void);
/* code of the i-th DAC message */
u16 fx_dac_code(unsigned int i);

#endif
