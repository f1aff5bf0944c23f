/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Simulated I2C buses. A test adds the adapters that exist; every message
 * transferred is recorded. A bus can be made to fail the next transfers with
 * an error or to report fewer bytes than asked.
 */
#ifndef KXHOST_I2C_H
#define KXHOST_I2C_H

#include <linux/i2c.h>

struct kxh_i2c_rec {
	int bus;
	u16 addr;
	u16 flags;
	u16 len;
	u8 data[64];
};

struct i2c_adapter *kxh_i2c_add_adapter(int nr);
/* the next `times` transfers on bus nr return `result` (an error, or a short count) */
void kxh_i2c_fail(int nr, unsigned int times, int result);
unsigned int kxh_i2c_count(void);
const struct kxh_i2c_rec *kxh_i2c_get(unsigned int i);
void kxh_i2c_clear(void);
/* clients currently registered */
unsigned int kxh_i2c_clients(void);
/* adapter references held by the module */
int kxh_i2c_adapter_refs(int nr);
/*
 * A live bus: each message also goes to xfer(), which moves the bytes on
 * the real (or simulated) bus and returns 0 or a negative error number
 * (-ENXIO when no chip acknowledges); the transfer stops at an error.
 */
void kxh_i2c_connect(int nr, int (*xfer)(int bus, struct i2c_msg *msg));

#endif
