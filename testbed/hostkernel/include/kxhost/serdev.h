/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Simulated UARTs on the serial device bus. A device is made with its
 * device-tree compatible, given properties (<kxhost/property.h>) and then
 * added, which probes a matching registered driver. The port starts at
 * 9600 baud. Written bytes leave the line one by one, ten bit times each at
 * the speed in force when each starts (virtual clock); closing the port or
 * serdev_device_wait_until_sent() lets them all go out first. Fault sites: "serdev_device_open", "serdev_device_set_baudrate"
 * (the speed stays), "serdev_device_write", "serdev_device_driver_register".
 * Writing to, or setting up, a closed port aborts the test, as does a
 * remove or failed probe that leaves the port open.
 */
#ifndef KXHOST_SERDEV_H
#define KXHOST_SERDEV_H

#include <linux/serdev.h>

struct kxh_serdev_write {
	size_t off;		/* into the transmitted byte stream */
	size_t len;
	unsigned int speed;	/* the UART's speed when it was written */
	long timeout;		/* jiffies the write was given */
};

struct serdev_device *kxh_serdev_new(const char *compatible);
/* on the bus: the probe's result when a driver matched, else 0 */
int kxh_serdev_add(struct serdev_device *serdev);
/* unbound (driver removed) and gone */
void kxh_serdev_del(struct serdev_device *serdev);

/* received bytes handed to the client: the number it took (0 when closed) */
size_t kxh_serdev_receive(struct serdev_device *serdev, const void *data, size_t len);

/* every byte written so far, and the write calls one by one */
const unsigned char *kxh_serdev_tx(struct serdev_device *serdev, size_t *len);
unsigned int kxh_serdev_writes(struct serdev_device *serdev);
struct kxh_serdev_write kxh_serdev_write_get(struct serdev_device *serdev, unsigned int i);
const unsigned char *kxh_serdev_write_data(struct serdev_device *serdev, unsigned int i);
void kxh_serdev_tx_clear(struct serdev_device *serdev);
/* the speed the byte at off of the stream left the line at, 0 while it waits */
unsigned int kxh_serdev_tx_speed(struct serdev_device *serdev, size_t off);
/* the one speed every byte of write i left at; 0 while one waits or when they differ */
unsigned int kxh_serdev_write_line_speed(struct serdev_device *serdev, unsigned int i);
/* bytes written that have not left the line yet */
size_t kxh_serdev_tx_waiting(struct serdev_device *serdev);
/* jiffies the last serdev_device_wait_until_sent() was given, -1 before one */
long kxh_serdev_wait_timeout(struct serdev_device *serdev);

unsigned int kxh_serdev_speed(struct serdev_device *serdev);
unsigned int kxh_serdev_speed_sets(struct serdev_device *serdev);
bool kxh_serdev_flow(struct serdev_device *serdev);
bool kxh_serdev_is_open(struct serdev_device *serdev);
bool kxh_serdev_bound(struct serdev_device *serdev);
int kxh_serdev_probe_result(struct serdev_device *serdev);

/*
 * A live wire (<kxhost/live.h>): every byte written also goes to
 * transmit(), and the UART's speed, now and at each change, to speed().
 */
struct kxh_serdev_line {
	void (*transmit)(void *arg, const unsigned char *data, size_t len);
	void (*speed)(void *arg, unsigned int speed);
};
void kxh_serdev_connect(struct serdev_device *serdev, const struct kxh_serdev_line *line,
			void *arg);

#endif
