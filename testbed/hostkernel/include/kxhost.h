/* SPDX-License-Identifier: GPL-2.0 */
/* Everything a host test uses to drive and observe the module. */
#ifndef KXHOST_H
#define KXHOST_H

#include <kxhost/bug.h>
#include <kxhost/chardev.h>
#include <kxhost/device.h>
#include <kxhost/fault.h>
#include <kxhost/gpio.h>
#include <kxhost/i2c.h>
#include <kxhost/io.h>
#include <kxhost/irq.h>
#include <kxhost/kthread.h>
#include <kxhost/live.h>
#include <kxhost/module.h>
#include <kxhost/of.h>
#include <kxhost/phy.h>
#include <kxhost/platform.h>
#include <kxhost/pps.h>
#include <kxhost/property.h>
#include <kxhost/race.h>
#include <kxhost/printk.h>
#include <kxhost/serdev.h>
#include <kxhost/slab.h>
#include <kxhost/sysfs.h>
#include <kxhost/time.h>
#include <kxhost/tpm4.h>
#include <kxhost/wait.h>
#include <kxhost/workqueue.h>

#endif
