/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/i2c.h>. Adapters exist when a test adds them;
 * every message sent on a bus is recorded, and a bus can be told to fail or
 * cut the next transfers short (<kxhost/i2c.h>).
 */
#ifndef _LINUX_I2C_H
#define _LINUX_I2C_H

#include <linux/types.h>

#define I2C_NAME_SIZE 20
#define I2C_M_RD 0x0001
#define I2C_M_TEN 0x0010

struct i2c_msg {
	u16 addr;
	u16 flags;
	u16 len;
	u8 *buf;
};

struct i2c_adapter {
	int nr;
	char name[48];
	int refcount;
};

struct i2c_client {
	unsigned short flags;
	unsigned short addr;
	char name[I2C_NAME_SIZE];
	struct i2c_adapter *adapter;
};

struct i2c_board_info {
	char type[I2C_NAME_SIZE];
	unsigned short flags;
	unsigned short addr;
	void *platform_data;
	int irq;
};

#define I2C_BOARD_INFO(dev_type, dev_addr) .type = dev_type, .addr = (dev_addr)

struct i2c_adapter *i2c_get_adapter(int nr);
void i2c_put_adapter(struct i2c_adapter *adap);
struct i2c_client *i2c_new_client_device(struct i2c_adapter *adap,
					 const struct i2c_board_info *info);
void i2c_unregister_device(struct i2c_client *client);
int i2c_transfer(struct i2c_adapter *adap, struct i2c_msg *msgs, int num);
int i2c_master_send(const struct i2c_client *client, const char *buf, int count);
int i2c_master_recv(const struct i2c_client *client, char *buf, int count);

#endif
