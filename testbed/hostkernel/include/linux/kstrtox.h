/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/kstrtox.h>, with the kernel's rules: an optional
 * leading "+" (and "-" for signed types), digits of the base (base 16 and 0
 * accept "0x", base 0 also "0" for octal), then at most one "\n"; anything
 * else is -EINVAL, a value out of the type's range -ERANGE.
 */
#ifndef _LINUX_KSTRTOX_H
#define _LINUX_KSTRTOX_H

#include <linux/types.h>

int __must_check kstrtoull(const char *s, unsigned int base, unsigned long long *res);
int __must_check kstrtouint(const char *s, unsigned int base, unsigned int *res);
int __must_check kstrtoint(const char *s, unsigned int base, int *res);

#endif
