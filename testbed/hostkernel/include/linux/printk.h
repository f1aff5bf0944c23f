/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/printk.h>. Every message is captured with its
 * log level for the tests (see <kxhost/printk.h>).
 */
#ifndef _LINUX_PRINTK_H
#define _LINUX_PRINTK_H

#include <linux/compiler.h>

#define KERN_SOH "\001"
#define KERN_EMERG KERN_SOH "0"
#define KERN_ALERT KERN_SOH "1"
#define KERN_CRIT KERN_SOH "2"
#define KERN_ERR KERN_SOH "3"
#define KERN_WARNING KERN_SOH "4"
#define KERN_NOTICE KERN_SOH "5"
#define KERN_INFO KERN_SOH "6"
#define KERN_DEBUG KERN_SOH "7"
#define KERN_DEFAULT ""
#define KERN_CONT KERN_SOH "c"

#ifndef pr_fmt
#define pr_fmt(fmt) fmt
#endif

int printk(const char *fmt, ...) __printf(1, 2);

#define pr_emerg(fmt, ...) printk(KERN_EMERG pr_fmt(fmt), ##__VA_ARGS__)
#define pr_alert(fmt, ...) printk(KERN_ALERT pr_fmt(fmt), ##__VA_ARGS__)
#define pr_crit(fmt, ...) printk(KERN_CRIT pr_fmt(fmt), ##__VA_ARGS__)
#define pr_err(fmt, ...) printk(KERN_ERR pr_fmt(fmt), ##__VA_ARGS__)
#define pr_warn(fmt, ...) printk(KERN_WARNING pr_fmt(fmt), ##__VA_ARGS__)
#define pr_notice(fmt, ...) printk(KERN_NOTICE pr_fmt(fmt), ##__VA_ARGS__)
#define pr_info(fmt, ...) printk(KERN_INFO pr_fmt(fmt), ##__VA_ARGS__)
#define pr_cont(fmt, ...) printk(KERN_CONT fmt, ##__VA_ARGS__)
#define pr_debug(fmt, ...) \
	({ if (0) printk(KERN_DEBUG pr_fmt(fmt), ##__VA_ARGS__); 0; })

/* A failed WARN_ON is a bug in the module: the host layer records it. */
void kxh_warn(const char *file, int line, const char *cond);
#define WARN_ON(cond) \
	({ int __c = !!(cond); if (unlikely(__c)) kxh_warn(__FILE__, __LINE__, #cond); unlikely(__c); })
#define WARN_ON_ONCE(cond) WARN_ON(cond)
#define WARN(cond, fmt, ...) WARN_ON(cond)

#endif
