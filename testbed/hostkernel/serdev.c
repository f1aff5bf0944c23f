// SPDX-License-Identifier: GPL-2.0
/*
 * Host layer: the serial device bus with simulated UARTs. Devices are
 * matched to registered drivers by their device-tree compatible; probe and
 * remove run as the driver core runs them (driver data cleared and
 * device-managed memory released after remove or a failed probe).
 *
 * A write only queues its bytes, as the tty layer does; they leave the line
 * one after another, each taking ten bit times (start, eight data bits,
 * stop) at the speed in force when it starts. Time is the virtual clock, and
 * the line is brought up to date whenever the port is touched, so a speed
 * change applies to every byte that had not left by then.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <linux/kernel.h>
#include <linux/delay.h>
#include <linux/errno.h>
#include <linux/jiffies.h>
#include <linux/mod_devicetable.h>
#include <linux/serdev.h>
#include <kxhost/bug.h>
#include <kxhost/device.h>
#include <kxhost/fault.h>
#include <kxhost/serdev.h>
#include <kxhost/time.h>

#define MAX_DRIVERS 4
#define BITS_PER_BYTE_ON_LINE 10
#define NS_PER_JIFFY (NSEC_PER_SEC / HZ)

/* one transmitted byte: when it was queued and the speed it left at */
struct kxh_txbyte {
	s64 queued_ns;
	unsigned int speed;	/* 0 while it waits */
};

struct kxh_uart {
	struct serdev_device serdev;	/* first: the driver's view */
	char compatible[128];
	struct list_head node;
	int added;
	int open;
	unsigned int speed;
	bool flow;
	int probe_result;
	unsigned char *tx;
	struct kxh_txbyte *txb;		/* one per byte of tx */
	size_t tx_len, tx_cap;
	size_t tx_sent;			/* bytes that have left the line */
	s64 line_free_ns;		/* end of the last byte that left */
	struct kxh_serdev_write *writes;
	unsigned int nwrites, capwrites;
	unsigned int speed_sets;
	long wait_timeout;
	const struct kxh_serdev_line *line;	/* live: the far end of the wire */
	void *line_arg;
};

static LIST_HEAD(uarts);
static struct serdev_device_driver *drivers[MAX_DRIVERS];
static int next_nr;

static struct kxh_uart *to_uart(struct serdev_device *serdev)
{
	return container_of(serdev, struct kxh_uart, serdev);
}

static s64 byte_ns(unsigned int speed)
{
	return (s64)BITS_PER_BYTE_ON_LINE * NSEC_PER_SEC / (speed ? speed : 1);
}

/* the bytes whose turn has come by now leave at the current speed */
static void tx_progress(struct kxh_uart *u)
{
	s64 now = kxh_time_mono_ns();

	while (u->tx_sent < u->tx_len) {
		struct kxh_txbyte *b = &u->txb[u->tx_sent];
		s64 start = max(u->line_free_ns, b->queued_ns);

		if (start > now)
			break;
		b->speed = u->speed;
		u->line_free_ns = start + byte_ns(u->speed);
		u->tx_sent++;
	}
}

/* when the last queued byte will have left, at the current speed */
static s64 tx_drained_at(const struct kxh_uart *u)
{
	s64 t = u->line_free_ns;
	size_t i;

	for (i = u->tx_sent; i < u->tx_len; i++)
		t = max(t, u->txb[i].queued_ns) + byte_ns(u->speed);
	return t;
}

static bool matches(struct serdev_device_driver *drv, struct kxh_uart *u)
{
	const struct of_device_id *id = drv->driver.of_match_table;

	for (; id && id->compatible[0]; id++)
		if (!strcmp(id->compatible, u->compatible))
			return true;
	return false;
}

static void probe(struct serdev_device_driver *drv, struct kxh_uart *u)
{
	int ret;

	u->serdev.dev.driver = &drv->driver;
	ret = drv->probe(&u->serdev);
	u->probe_result = ret;
	if (ret) {
		if (u->open)
			kxh_bug("probe of %s failed with the port left open", dev_name(&u->serdev.dev));
		u->serdev.dev.driver = NULL;
		u->serdev.dev.driver_data = NULL;
		u->serdev.ops = NULL;
		kxh_devres_release_all(&u->serdev.dev);
	}
}

static void unbind(struct kxh_uart *u)
{
	struct serdev_device_driver *drv;

	if (!u->serdev.dev.driver)
		return;
	drv = container_of(u->serdev.dev.driver, struct serdev_device_driver, driver);
	if (drv->remove)
		drv->remove(&u->serdev);
	if (u->open)
		kxh_bug("remove of %s left the port open", dev_name(&u->serdev.dev));
	u->serdev.dev.driver = NULL;
	u->serdev.dev.driver_data = NULL;
	u->serdev.ops = NULL;
	kxh_devres_release_all(&u->serdev.dev);
}

struct serdev_device *kxh_serdev_new(const char *compatible)
{
	struct kxh_uart *u = calloc(1, sizeof(*u));
	char name[32];

	if (!u)
		abort();
	snprintf(name, sizeof(name), "serial%d-0", next_nr);
	kxh_device_init(&u->serdev.dev, name);
	u->serdev.nr = next_nr++;
	snprintf(u->compatible, sizeof(u->compatible), "%s", compatible);
	u->speed = 9600;
	u->wait_timeout = -1;
	INIT_LIST_HEAD(&u->node);
	return &u->serdev;
}

int kxh_serdev_add(struct serdev_device *serdev)
{
	struct kxh_uart *u = to_uart(serdev);
	unsigned int i;

	if (u->added)
		kxh_bug("serdev device added twice");
	u->added = 1;
	list_add_tail(&u->node, &uarts);
	for (i = 0; i < MAX_DRIVERS; i++)
		if (drivers[i] && matches(drivers[i], u)) {
			probe(drivers[i], u);
			return u->probe_result;
		}
	return 0;
}

void kxh_serdev_del(struct serdev_device *serdev)
{
	struct kxh_uart *u = to_uart(serdev);

	if (u->added) {
		unbind(u);
		list_del(&u->node);
	}
	kxh_device_cleanup(&u->serdev.dev);
	free(u->tx);
	free(u->txb);
	free(u->writes);
	free(u);
}

int __serdev_device_driver_register(struct serdev_device_driver *sdrv, struct module *owner)
{
	struct list_head *pos;
	unsigned int i;
	int err = kxh_fault_check("serdev_device_driver_register");

	(void)owner;
	if (err)
		return err;
	for (i = 0; i < MAX_DRIVERS && drivers[i]; i++)
		if (drivers[i] == sdrv)
			kxh_bug("serdev driver %s registered twice", sdrv->driver.name);
	if (i == MAX_DRIVERS)
		return -ENOMEM;
	drivers[i] = sdrv;
	list_for_each(pos, &uarts) {
		struct kxh_uart *u = list_entry(pos, struct kxh_uart, node);

		if (!u->serdev.dev.driver && matches(sdrv, u))
			probe(sdrv, u);
	}
	return 0;
}

void serdev_device_driver_unregister(struct serdev_device_driver *sdrv)
{
	struct list_head *pos;
	unsigned int i;

	for (i = 0; i < MAX_DRIVERS; i++)
		if (drivers[i] == sdrv)
			break;
	if (i == MAX_DRIVERS)
		kxh_bug("serdev driver %s unregistered but never registered", sdrv->driver.name);
	list_for_each(pos, &uarts) {
		struct kxh_uart *u = list_entry(pos, struct kxh_uart, node);

		if (u->serdev.dev.driver == &sdrv->driver)
			unbind(u);
	}
	drivers[i] = NULL;
}

int serdev_device_open(struct serdev_device *serdev)
{
	struct kxh_uart *u = to_uart(serdev);
	int err;

	might_sleep();
	err = kxh_fault_check("serdev_device_open");
	if (err)
		return err;
	if (u->open)
		return -EBUSY;
	u->open = 1;
	return 0;
}

void serdev_device_close(struct serdev_device *serdev)
{
	struct kxh_uart *u = to_uart(serdev);

	might_sleep();
	if (!u->open)
		kxh_bug("serdev_device_close of a port not open");
	/* closing waits until the queued bytes have gone out */
	tx_progress(u);
	while (u->tx_sent < u->tx_len) {
		u->txb[u->tx_sent++].speed = u->speed;
		u->line_free_ns = max(u->line_free_ns, kxh_time_mono_ns()) + byte_ns(u->speed);
	}
	u->open = 0;
}

unsigned int serdev_device_set_baudrate(struct serdev_device *serdev, unsigned int speed)
{
	struct kxh_uart *u = to_uart(serdev);

	u->speed_sets++;
	if (!u->open)
		kxh_bug("speed set on a closed port");
	tx_progress(u);
	if (!kxh_fault_check("serdev_device_set_baudrate"))
		u->speed = speed;
	if (u->line && u->line->speed)
		u->line->speed(u->line_arg, u->speed);
	return u->speed;
}

void serdev_device_set_flow_control(struct serdev_device *serdev, bool enable)
{
	struct kxh_uart *u = to_uart(serdev);

	if (!u->open)
		kxh_bug("flow control set on a closed port");
	u->flow = enable;
}

int serdev_device_write(struct serdev_device *serdev, const unsigned char *buf,
			size_t count, long timeout)
{
	struct kxh_uart *u = to_uart(serdev);
	struct kxh_serdev_write *w;
	size_t i;
	int err;

	might_sleep();
	if (!u->open)
		kxh_bug("write on a closed port");
	err = kxh_fault_check("serdev_device_write");
	if (err)
		return err;
	tx_progress(u);
	if (u->tx_len + count > u->tx_cap) {
		u->tx_cap = (u->tx_len + count) * 2 + 64;
		u->tx = realloc(u->tx, u->tx_cap);
		u->txb = realloc(u->txb, u->tx_cap * sizeof(*u->txb));
		if (!u->tx || !u->txb)
			abort();
	}
	if (u->nwrites == u->capwrites) {
		u->capwrites = u->capwrites ? 2 * u->capwrites : 16;
		u->writes = realloc(u->writes, u->capwrites * sizeof(*u->writes));
		if (!u->writes)
			abort();
	}
	w = &u->writes[u->nwrites++];
	w->off = u->tx_len;
	w->len = count;
	w->speed = u->speed;
	w->timeout = timeout;
	memcpy(u->tx + u->tx_len, buf, count);
	for (i = 0; i < count; i++)
		u->txb[u->tx_len + i] = (struct kxh_txbyte){ kxh_time_mono_ns(), 0 };
	u->tx_len += count;
	if (u->line && u->line->transmit)
		u->line->transmit(u->line_arg, buf, count);
	return (int)count;
}

void serdev_device_wait_until_sent(struct serdev_device *serdev, long timeout)
{
	struct kxh_uart *u = to_uart(serdev);
	s64 wait_ns;

	might_sleep();
	if (!u->open)
		kxh_bug("wait_until_sent on a closed port");
	u->wait_timeout = timeout;
	tx_progress(u);
	wait_ns = tx_drained_at(u) - kxh_time_mono_ns();
	/* 0 waits as long as it takes */
	if (timeout > 0 && wait_ns > (s64)timeout * NS_PER_JIFFY)
		wait_ns = (s64)timeout * NS_PER_JIFFY;
	if (wait_ns > 0)
		usleep_range((unsigned long)((wait_ns + 999) / 1000),
			     (unsigned long)((wait_ns + 999) / 1000));
	tx_progress(u);
}

void serdev_device_write_wakeup(struct serdev_device *serdev)
{
	(void)serdev;
}

size_t kxh_serdev_receive(struct serdev_device *serdev, const void *data, size_t len)
{
	struct kxh_uart *u = to_uart(serdev);
	int n;

	if (!u->open || !serdev->ops || !serdev->ops->receive_buf)
		return 0;
	n = serdev->ops->receive_buf(serdev, data, len);
	if (n < 0 || (size_t)n > len)
		kxh_bug("receive_buf took %d of %zu bytes", n, len);
	return (size_t)n;
}

const unsigned char *kxh_serdev_tx(struct serdev_device *serdev, size_t *len)
{
	struct kxh_uart *u = to_uart(serdev);

	*len = u->tx_len;
	return u->tx;
}

unsigned int kxh_serdev_writes(struct serdev_device *serdev)
{
	return to_uart(serdev)->nwrites;
}

struct kxh_serdev_write kxh_serdev_write_get(struct serdev_device *serdev, unsigned int i)
{
	struct kxh_uart *u = to_uart(serdev);

	if (i >= u->nwrites)
		kxh_bug("no serdev write %u", i);
	return u->writes[i];
}

const unsigned char *kxh_serdev_write_data(struct serdev_device *serdev, unsigned int i)
{
	struct kxh_uart *u = to_uart(serdev);

	return u->tx + kxh_serdev_write_get(serdev, i).off;
}

unsigned int kxh_serdev_tx_speed(struct serdev_device *serdev, size_t off)
{
	struct kxh_uart *u = to_uart(serdev);

	tx_progress(u);
	return off < u->tx_len ? u->txb[off].speed : 0;
}

unsigned int kxh_serdev_write_line_speed(struct serdev_device *serdev, unsigned int i)
{
	struct kxh_serdev_write w = kxh_serdev_write_get(serdev, i);
	unsigned int speed = kxh_serdev_tx_speed(serdev, w.off);
	size_t k;

	for (k = 1; k < w.len; k++)
		if (kxh_serdev_tx_speed(serdev, w.off + k) != speed)
			return 0;
	return speed;
}

size_t kxh_serdev_tx_waiting(struct serdev_device *serdev)
{
	struct kxh_uart *u = to_uart(serdev);

	tx_progress(u);
	return u->tx_len - u->tx_sent;
}

long kxh_serdev_wait_timeout(struct serdev_device *serdev)
{
	return to_uart(serdev)->wait_timeout;
}

void kxh_serdev_tx_clear(struct serdev_device *serdev)
{
	struct kxh_uart *u = to_uart(serdev);

	/* what has not left yet is forgotten with the rest */
	u->tx_len = 0;
	u->tx_sent = 0;
	u->nwrites = 0;
}

unsigned int kxh_serdev_speed(struct serdev_device *serdev)
{
	return to_uart(serdev)->speed;
}

unsigned int kxh_serdev_speed_sets(struct serdev_device *serdev)
{
	return to_uart(serdev)->speed_sets;
}

bool kxh_serdev_flow(struct serdev_device *serdev)
{
	return to_uart(serdev)->flow;
}

bool kxh_serdev_is_open(struct serdev_device *serdev)
{
	return to_uart(serdev)->open != 0;
}

bool kxh_serdev_bound(struct serdev_device *serdev)
{
	return serdev->dev.driver != NULL;
}

int kxh_serdev_probe_result(struct serdev_device *serdev)
{
	return to_uart(serdev)->probe_result;
}

void kxh_serdev_connect(struct serdev_device *serdev, const struct kxh_serdev_line *line,
			void *arg)
{
	struct kxh_uart *u = to_uart(serdev);

	u->line = line;
	u->line_arg = arg;
	if (line && line->speed)
		line->speed(arg, u->speed);
}
