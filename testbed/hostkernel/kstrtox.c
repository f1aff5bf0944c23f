// SPDX-License-Identifier: GPL-2.0
/* Host layer: kstrto*() with the kernel's parsing rules (lib/kstrtox.c). */
#include <linux/kernel.h>
#include <linux/errno.h>
#include <linux/kstrtox.h>

static const char *fixup_radix(const char *s, unsigned int *base)
{
	if (*base == 0) {
		if (s[0] == '0') {
			if ((s[1] | 0x20) == 'x' && ((s[2] >= '0' && s[2] <= '9') ||
						     ((s[2] | 0x20) >= 'a' && (s[2] | 0x20) <= 'f')))
				*base = 16;
			else
				*base = 8;
		} else {
			*base = 10;
		}
	}
	if (*base == 16 && s[0] == '0' && (s[1] | 0x20) == 'x')
		s += 2;
	return s;
}

static int kstrtoull_digits(const char *s, unsigned int base, unsigned long long *res)
{
	unsigned long long acc = 0;
	unsigned int n = 0;
	int overflow = 0;

	s = fixup_radix(s, &base);
	for (;; s++, n++) {
		unsigned int c = (unsigned char)*s, val;

		if (c >= '0' && c <= '9')
			val = c - '0';
		else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
			val = (c | 0x20) - 'a' + 10;
		else
			break;
		if (val >= base)
			break;
		if (acc > (~0ULL - val) / base)
			overflow = 1;
		acc = acc * base + val;
	}
	if (n == 0)
		return -EINVAL;
	if (overflow)
		return -ERANGE;
	if (*s == '\n')
		s++;
	if (*s)
		return -EINVAL;
	*res = acc;
	return 0;
}

int kstrtoull(const char *s, unsigned int base, unsigned long long *res)
{
	if (s[0] == '+')
		s++;
	return kstrtoull_digits(s, base, res);
}

int kstrtouint(const char *s, unsigned int base, unsigned int *res)
{
	unsigned long long tmp;
	int rv = kstrtoull(s, base, &tmp);

	if (rv < 0)
		return rv;
	if (tmp != (unsigned int)tmp)
		return -ERANGE;
	*res = (unsigned int)tmp;
	return 0;
}

int kstrtoint(const char *s, unsigned int base, int *res)
{
	unsigned long long tmp;
	int rv;

	if (s[0] == '-') {
		rv = kstrtoull_digits(s + 1, base, &tmp);
		if (rv < 0)
			return rv;
		if ((long long)-tmp > 0 || (long long)-tmp < INT_MIN)
			return -ERANGE;
		*res = (int)-(long long)tmp;
		return 0;
	}
	rv = kstrtoull(s, base, &tmp);
	if (rv < 0)
		return rv;
	if (tmp > INT_MAX)
		return -ERANGE;
	*res = (int)tmp;
	return 0;
}
