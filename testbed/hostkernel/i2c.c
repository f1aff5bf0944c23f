// SPDX-License-Identifier: GPL-2.0
/* Host layer: simulated I2C adapters recording every message. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <linux/kernel.h>
#include <linux/i2c.h>
#include <kxhost/bug.h>
#include <kxhost/fault.h>
#include <kxhost/i2c.h>
#include <kxhost/irq.h>

#define MAX_BUS 8

struct bus {
	struct i2c_adapter adap;
	int present;
	unsigned int fail_times;
	int fail_result;
	int (*live_xfer)(int bus, struct i2c_msg *msg);	/* the real bus, if any */
};

static struct bus buses[MAX_BUS];
static struct kxh_i2c_rec *recs;
static unsigned int nrecs, caprecs;
static unsigned int nclients;

struct i2c_adapter *kxh_i2c_add_adapter(int nr)
{
	if (nr < 0 || nr >= MAX_BUS)
		kxh_bug("i2c bus %d out of range", nr);
	buses[nr].present = 1;
	buses[nr].adap.nr = nr;
	snprintf(buses[nr].adap.name, sizeof(buses[nr].adap.name), "kxh i2c %d", nr);
	return &buses[nr].adap;
}

void kxh_i2c_connect(int nr, int (*xfer)(int bus, struct i2c_msg *msg))
{
	buses[nr].live_xfer = xfer;
}

void kxh_i2c_fail(int nr, unsigned int times, int result)
{
	buses[nr].fail_times = times;
	buses[nr].fail_result = result;
}

unsigned int kxh_i2c_count(void)
{
	return nrecs;
}

const struct kxh_i2c_rec *kxh_i2c_get(unsigned int i)
{
	return i < nrecs ? &recs[i] : NULL;
}

void kxh_i2c_clear(void)
{
	nrecs = 0;
}

unsigned int kxh_i2c_clients(void)
{
	return nclients;
}

int kxh_i2c_adapter_refs(int nr)
{
	return buses[nr].adap.refcount;
}

struct i2c_adapter *i2c_get_adapter(int nr)
{
	if (nr < 0 || nr >= MAX_BUS || !buses[nr].present)
		return NULL;
	buses[nr].adap.refcount++;
	return &buses[nr].adap;
}

void i2c_put_adapter(struct i2c_adapter *adap)
{
	if (!adap)
		return;
	if (adap->refcount <= 0)
		kxh_bug("i2c_put_adapter without a reference");
	adap->refcount--;
}

struct i2c_client *i2c_new_client_device(struct i2c_adapter *adap,
					 const struct i2c_board_info *info)
{
	struct i2c_client *c;
	int err;

	might_sleep();
	err = kxh_fault_check("i2c_new_client_device");
	if (err)
		return ERR_PTR(err);
	c = calloc(1, sizeof(*c));
	if (!c)
		return ERR_PTR(-ENOMEM);
	c->adapter = adap;
	c->addr = info->addr;
	c->flags = info->flags;
	snprintf(c->name, sizeof(c->name), "%s", info->type);
	nclients++;
	return c;
}

void i2c_unregister_device(struct i2c_client *client)
{
	if (IS_ERR_OR_NULL(client))
		return;
	nclients--;
	free(client);
}

static void record(int bus, const struct i2c_msg *m)
{
	struct kxh_i2c_rec *r;

	if (nrecs == caprecs) {
		caprecs = caprecs ? 2 * caprecs : 64;
		recs = realloc(recs, caprecs * sizeof(*recs));
		if (!recs)
			abort();
	}
	r = &recs[nrecs++];
	r->bus = bus;
	r->addr = m->addr;
	r->flags = m->flags;
	r->len = m->len;
	memset(r->data, 0, sizeof(r->data));
	if (!(m->flags & I2C_M_RD))
		memcpy(r->data, m->buf, m->len < sizeof(r->data) ? m->len : sizeof(r->data));
}

int i2c_transfer(struct i2c_adapter *adap, struct i2c_msg *msgs, int num)
{
	struct bus *b = container_of(adap, struct bus, adap);
	int i;

	might_sleep();
	if (b->fail_times) {
		b->fail_times--;
		if (b->fail_result < 0)
			return b->fail_result;
	}
	for (i = 0; i < num; i++) {
		record(adap->nr, &msgs[i]);
		if (b->live_xfer) {
			int err = b->live_xfer(adap->nr, &msgs[i]);

			if (err)
				return err;
		} else if (msgs[i].flags & I2C_M_RD) {
			memset(msgs[i].buf, 0, msgs[i].len);
		}
	}
	return num;
}

static int master_xfer(const struct i2c_client *client, char *buf, int count, u16 flags)
{
	struct bus *b = container_of(client->adapter, struct bus, adap);
	struct i2c_msg msg = {
		.addr = client->addr,
		.flags = (u16)(client->flags | flags),
		.len = (u16)count,
		.buf = (u8 *)buf,
	};
	int ret;

	/* a short count reported by the bus (the message is still recorded) */
	if (b->fail_times && b->fail_result >= 0) {
		b->fail_times--;
		record(client->adapter->nr, &msg);
		return b->fail_result;
	}
	ret = i2c_transfer(client->adapter, &msg, 1);
	return ret == 1 ? count : ret;
}

int i2c_master_send(const struct i2c_client *client, const char *buf, int count)
{
	return master_xfer(client, (char *)buf, count, 0);
}

int i2c_master_recv(const struct i2c_client *client, char *buf, int count)
{
	return master_xfer(client, buf, count, I2C_M_RD);
}
