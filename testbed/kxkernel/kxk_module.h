/*
 * The kx_pps module's own sources running live on the host layer, seen
 * from the C++ side of kxkernel. Every call takes the simulated CPU for
 * itself; none may be made with it held.
 */
#ifndef KXK_MODULE_H
#define KXK_MODULE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct kxk_wire {
	/* bytes the module's serial driver sends to the receiver */
	void (*transmit)(void *arg, const unsigned char *data, size_t len);
	/* the UART's speed, at start and at each change */
	void (*speed)(void *arg, unsigned int speed);
	/* one message on I2C adapter 1: 0 or a negative error number */
	int (*i2c)(uint16_t addr, int read, uint8_t *buf, uint16_t len);
	void *arg;
};

/* the board (device tree, TPM4, adapter 1, PHYs, UART) and the module load */
int kxk_load(const struct kxk_wire *wire);
void kxk_unload(void);

/*
 * The pulse: TPM4 channel 2 captured `count` (overflow: the counter
 * wrapped); the edge was at `edge_ns` (CLOCK_MONOTONIC, 0: now), when the
 * PHYs time-stamp it.
 */
void kxk_pulse(uint32_t count, int overflow, int64_t edge_ns);
/* bytes from the receiver; the number the serial driver took */
size_t kxk_uart_receive(const void *data, size_t len);
/* wake every sleeper to test its condition again (a signal was raised) */
void kxk_kick(void);

/* /sys/pps_filter: the i-th attribute's name (NULL past the last), mode */
const char *kxk_attr_name(int i);
int kxk_attr_mode(const char *name);
/* 0, or -EACCES when the attribute cannot be opened so */
int kxk_attr_open(const char *name, int want_read, int want_write);
long kxk_attr_show(const char *name, char *buf, size_t size);
long kxk_attr_store(const char *name, const char *data, size_t len);

/* /sys/module/kx_pps/parameters, the same way (writable as their modes allow) */
const char *kxk_param_name(int i);
int kxk_param_mode(const char *name);
long kxk_param_show(const char *name, char *buf, size_t size);
long kxk_param_store(const char *name, const char *text, size_t len);
/* before kxk_load, as insmod's "name=value": 0, -ENOENT or -EINVAL */
int kxk_param_preset(const char *name, const char *text);

/*
 * The module's LinuxPPS source as /sys/class/pps/ppsN shows it: `file` 0 is
 * "name", 1 is "assert" ("SECONDS.NANOSECONDS#SEQUENCE\n" of the last
 * assert event, 0.000000000#0 before the first). The text's length, or
 * -ENODEV while the module has no source.
 */
long kxk_pps_show(int file, char *buf, size_t size);

/* /dev/kx_pps; `intr` is the caller's pending-signal flag */
void *kxk_dev_open(int flags, int *err);
long kxk_dev_read(void *f, char *buf, size_t count, int nonblock, const volatile int *intr);
long kxk_dev_write(void *f, const char *buf, size_t count);
int kxk_dev_close(void *f);

#ifdef __cplusplus
}
#endif

#endif
