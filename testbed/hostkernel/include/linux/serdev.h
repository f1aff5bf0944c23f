/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/serdev.h>: serial device bus clients. A simulated
 * UART (<kxhost/serdev.h>) stands behind each device: the test pushes
 * received chunks through the client's receive_buf, sees every write with
 * the speed it went out at, the current speed and flow control, and can
 * make open, speed setting and writes fail.
 *
 * receive_buf has the 6.6 form (int, const unsigned char *), as
 * LINUX_VERSION_CODE here says; from 6.8 the kernel's returns size_t.
 */
#ifndef _LINUX_SERDEV_H
#define _LINUX_SERDEV_H

#include <linux/types.h>
#include <linux/device.h>
#include <linux/mod_devicetable.h>

struct serdev_device;
struct module;

struct serdev_device_ops {
	int (*receive_buf)(struct serdev_device *, const unsigned char *, size_t);
	void (*write_wakeup)(struct serdev_device *);
};

struct serdev_device {
	struct device dev;
	int nr;
	const struct serdev_device_ops *ops;
};

struct serdev_device_driver {
	struct device_driver driver;
	int (*probe)(struct serdev_device *);
	void (*remove)(struct serdev_device *);
};

static inline struct serdev_device *to_serdev_device(struct device *d)
{
	return (struct serdev_device *)((char *)d - __builtin_offsetof(struct serdev_device, dev));
}

static inline void *serdev_device_get_drvdata(const struct serdev_device *serdev)
{
	return dev_get_drvdata(&serdev->dev);
}

static inline void serdev_device_set_drvdata(struct serdev_device *serdev, void *data)
{
	dev_set_drvdata(&serdev->dev, data);
}

static inline void serdev_device_set_client_ops(struct serdev_device *serdev,
						const struct serdev_device_ops *ops)
{
	serdev->ops = ops;
}

int __serdev_device_driver_register(struct serdev_device_driver *sdrv, struct module *owner);
#define serdev_device_driver_register(sdrv) \
	__serdev_device_driver_register(sdrv, THIS_MODULE)
void serdev_device_driver_unregister(struct serdev_device_driver *sdrv);

int serdev_device_open(struct serdev_device *serdev);
void serdev_device_close(struct serdev_device *serdev);
/* the speed the UART runs at afterwards (the old one when it refused) */
unsigned int serdev_device_set_baudrate(struct serdev_device *serdev, unsigned int speed);
void serdev_device_set_flow_control(struct serdev_device *serdev, bool enable);
/* bytes written, or -ETIMEDOUT / the error of the write; may sleep */
int serdev_device_write(struct serdev_device *serdev, const unsigned char *buf,
			size_t count, long timeout);
void serdev_device_write_wakeup(struct serdev_device *serdev);
/* sleeps until the written bytes have left the UART, at most timeout jiffies (0: no limit) */
void serdev_device_wait_until_sent(struct serdev_device *serdev, long timeout);

#endif
