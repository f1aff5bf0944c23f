/* SPDX-License-Identifier: GPL-2.0 */
/* Host stand-in for <linux/kernel.h>: the everyday helpers. */
#ifndef _LINUX_KERNEL_H
#define _LINUX_KERNEL_H

#include <linux/types.h>
#include <linux/compiler.h>
#include <linux/limits.h>
#include <linux/printk.h>
#include <linux/err.h>
#include <linux/math64.h>
#include <linux/string.h>
#include <linux/build_bug.h>
#include <linux/bug.h>

#define ARRAY_SIZE(a) (sizeof(a) / sizeof((a)[0]))
#ifndef offsetof	/* a fuzz driver may have <stddef.h> already */
#define offsetof(t, m) __builtin_offsetof(t, m)
#endif
#define container_of(ptr, type, member) \
	((type *)((char *)(ptr) - offsetof(type, member)))
#define BIT(n) (1UL << (n))
#define BIT_ULL(n) (1ULL << (n))

#define min(a, b) ((a) < (b) ? (a) : (b))
#define max(a, b) ((a) > (b) ? (a) : (b))
#define min_t(t, a, b) ((t)(a) < (t)(b) ? (t)(a) : (t)(b))
#define max_t(t, a, b) ((t)(a) > (t)(b) ? (t)(a) : (t)(b))
#define clamp(v, lo, hi) min(max(v, lo), hi)
#define clamp_t(t, v, lo, hi) min_t(t, max_t(t, v, lo), hi)
#define abs(x) ((x) < 0 ? -(x) : (x))
#define DIV_ROUND_UP(n, d) (((n) + (d) - 1) / (d))

int sprintf(char *buf, const char *fmt, ...) __printf(2, 3);
int snprintf(char *buf, size_t size, const char *fmt, ...) __printf(3, 4);
int scnprintf(char *buf, size_t size, const char *fmt, ...) __printf(3, 4);
int sscanf(const char *buf, const char *fmt, ...) __attribute__((__format__(scanf, 2, 3)));

/* In the module's context these only run in process context on the host. */
void might_sleep(void);

#endif
