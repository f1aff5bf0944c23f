// SPDX-License-Identifier: GPL-2.0
/*
 * kxkernel's kernel side: the board the module is loaded on, built from the
 * host layer's pieces as on the i.MX93 (device tree with the PPS timer,
 * "pwm4" and both MACs and PHYs, TPM4, I2C adapter 1, the GPS UART), and
 * the entries through which the outside world reaches the module: the pulse
 * interrupt, received serial bytes, attribute and device system calls.
 * Each entry runs on the simulated CPU (<kxhost/live.h>).
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kx_board.h"
#include "kxk_module.h"
#include "kxpps_phystub.h"

#define ATTR_DIR "pps_filter"

static const struct kxk_wire *wire;
static struct serdev_device *uart;
static bool loaded;

static int i2c_forward(int bus, struct i2c_msg *msg)
{
	return wire->i2c(msg->addr, !!(msg->flags & I2C_M_RD), msg->buf, msg->len);
}

static void uart_transmit(void *arg, const unsigned char *data, size_t len)
{
	wire->transmit(wire->arg, data, len);
}

static void uart_speed(void *arg, unsigned int speed)
{
	wire->speed(wire->arg, speed);
}

static const struct kxh_serdev_line uart_line = {
	.transmit = uart_transmit,
	.speed = uart_speed,
};

int kxk_load(const struct kxk_wire *w)
{
	int err;

	wire = w;
	kxh_live_start();
	kb_setup(0);
	kxh_i2c_connect(DAC_I2C_ADAPTER, i2c_forward);
	err = kxh_module_init();
	if (err) {
		kxh_cpu_leave();
		return err;
	}
	/* the receiver's UART node, bound by the module's serial driver */
	uart = kxh_serdev_new("quellon,pps-uart");
	kxh_serdev_connect(uart, &uart_line, NULL);
	err = kxh_serdev_add(uart);
	loaded = !err;
	if (err)
		kxh_module_exit();
	kxh_cpu_leave();
	return err;
}

void kxk_unload(void)
{
	kxh_cpu_enter();
	if (loaded) {
		loaded = false;
		kxh_module_exit();
		kxh_serdev_del(uart);
	}
	kxh_cpu_leave();
	kxh_live_stop();
}

void kxk_pulse(uint32_t count, int overflow, int64_t edge_ns)
{
	s64 stamp;
	int i;

	kxh_cpu_enter();
	if (loaded) {
		/* CLOCK_REALTIME at the edge: the PHYs stamp it in hardware */
		stamp = ktime_get_real();
		if (edge_ns > 0 && edge_ns <= ktime_get())
			stamp -= ktime_get() - edge_ns;
		if (overflow)
			kxh_tpm4_overflow(kb.tpm4);
		kb_pulse(count);
		/* both PHYs time-stamp the same pulse */
		for (i = 0; i < 2; i++)
			kxpps_phystub_pulse(kb.phy[i], (u32)i, stamp);
	}
	kxh_cpu_leave();
}

size_t kxk_uart_receive(const void *data, size_t len)
{
	size_t took = 0;

	kxh_cpu_enter();
	if (loaded)
		took = kxh_serdev_receive(uart, data, len);
	kxh_cpu_leave();
	return took;
}

void kxk_kick(void)
{
	kxh_cpu_enter();
	kxh_live_kick();
	kxh_cpu_leave();
}

static void attr_path(char *out, size_t size, const char *name)
{
	snprintf(out, size, ATTR_DIR "/%s", name);
}

const char *kxk_attr_name(int i)
{
	const char *name;

	kxh_cpu_enter();
	name = loaded ? kxh_sysfs_file_name(ATTR_DIR, i) : NULL;
	kxh_cpu_leave();
	return name;
}

int kxk_attr_mode(const char *name)
{
	char path[128];
	int mode;

	attr_path(path, sizeof(path), name);
	kxh_cpu_enter();
	mode = loaded ? kxh_sysfs_mode(path) : -ENOENT;
	kxh_cpu_leave();
	return mode;
}

int kxk_attr_open(const char *name, int want_read, int want_write)
{
	char path[128];
	int mode, ret = 0;

	attr_path(path, sizeof(path), name);
	kxh_cpu_enter();
	mode = loaded ? kxh_sysfs_mode(path) : -ENOENT;
	/* sysfs refuses an open for a direction the file has no handler or mode for */
	if (mode < 0)
		ret = mode;
	else if ((want_read && !((mode & 0444) && kxh_sysfs_can(path, true, false))) ||
		 (want_write && !((mode & 0222) && kxh_sysfs_can(path, false, true))))
		ret = -EACCES;
	kxh_cpu_leave();
	return ret;
}

long kxk_attr_show(const char *name, char *buf, size_t size)
{
	char path[128];
	long ret;

	attr_path(path, sizeof(path), name);
	kxh_cpu_enter();
	ret = loaded ? (long)kxh_sysfs_read(path, buf, size) : -ENODEV;
	kxh_cpu_leave();
	return ret;
}

const char *kxk_param_name(int i)
{
	const char *name;

	kxh_cpu_enter();
	name = loaded ? kxh_param_name(i) : NULL;
	kxh_cpu_leave();
	return name;
}

int kxk_param_mode(const char *name)
{
	int mode;

	kxh_cpu_enter();
	mode = loaded && name ? kxh_param_mode(name) : -ENOENT;
	kxh_cpu_leave();
	return mode;
}

long kxk_param_show(const char *name, char *buf, size_t size)
{
	long ret;

	kxh_cpu_enter();
	ret = loaded && name ? kxh_param_show(name, buf, size) : -ENODEV;
	kxh_cpu_leave();
	return ret;
}

long kxk_param_store(const char *name, const char *text, size_t len)
{
	long ret;

	kxh_cpu_enter();
	ret = loaded && name ? kxh_param_store(name, text, len) : -ENODEV;
	kxh_cpu_leave();
	return ret;
}

int kxk_param_preset(const char *name, const char *text)
{
	return kxh_param_set(name, text);
}

long kxk_pps_show(int file, char *buf, size_t size)
{
	const struct kxh_pps_rec *last = NULL;
	struct pps_device *src = NULL;
	struct pps_priv *priv;
	unsigned int n = 0;
	int len = -ENODEV;

	kxh_cpu_enter();
	rcu_read_lock();
	priv = loaded ? rcu_dereference(g_pps) : NULL;
	if (priv)
		src = priv->pps_src;
	if (src && file == 0) {
		len = snprintf(buf, size, "%s\n", kxh_pps_info(src)->name);
	} else if (src) {
		n = kxh_pps_events(src);
		if (n > 0)
			last = kxh_pps_event(src, n - 1);
		len = snprintf(buf, size, "%lld.%09ld#%u\n", last ? (long long)last->ts.tv_sec : 0LL,
			       last ? (long)last->ts.tv_nsec : 0L, n);
	}
	rcu_read_unlock();
	kxh_cpu_leave();
	if (len >= (int)size)
		len = (int)size - 1;
	return len;
}

long kxk_attr_store(const char *name, const char *data, size_t len)
{
	char path[128];
	long ret;

	attr_path(path, sizeof(path), name);
	kxh_cpu_enter();
	ret = loaded ? (long)kxh_sysfs_write_len(path, data, len) : -ENODEV;
	kxh_cpu_leave();
	return ret;
}

void *kxk_dev_open(int flags, int *err)
{
	struct file *f = NULL;

	kxh_cpu_enter();
	if (loaded)
		f = kxh_file_open("/dev/kx_pps", (unsigned int)flags, err);
	else
		*err = -ENODEV;
	kxh_cpu_leave();
	return f;
}

long kxk_dev_read(void *fp, char *buf, size_t count, int nonblock, const volatile int *intr)
{
	struct file *f = fp;
	long ret;

	kxh_cpu_enter();
	kxh_live_signal_source(intr);
	if (nonblock)
		f->f_flags |= O_NONBLOCK;
	else
		f->f_flags &= ~O_NONBLOCK;
	ret = loaded ? (long)kxh_file_read(f, buf, count) : -ENODEV;
	kxh_live_signal_source(NULL);
	kxh_cpu_leave();
	return ret;
}

long kxk_dev_write(void *fp, const char *buf, size_t count)
{
	long ret;

	kxh_cpu_enter();
	ret = loaded ? (long)kxh_file_write(fp, buf, count) : -ENODEV;
	kxh_cpu_leave();
	return ret;
}

int kxk_dev_close(void *fp)
{
	int ret;

	kxh_cpu_enter();
	ret = kxh_file_close(fp);
	kxh_cpu_leave();
	return ret;
}
