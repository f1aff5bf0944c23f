// SPDX-License-Identifier: GPL-2.0
/* Host layer: the kernel's string helpers that the C library lacks. */
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <linux/kernel.h>

ssize_t strscpy(char *dst, const char *src, size_t size)
{
	size_t len;

	if (!size)
		return -E2BIG;
	len = strnlen(src, size);
	if (len == size) {
		memcpy(dst, src, size - 1);
		dst[size - 1] = 0;
		return -E2BIG;
	}
	memcpy(dst, src, len + 1);
	return (ssize_t)len;
}

int scnprintf(char *buf, size_t size, const char *fmt, ...)
{
	va_list ap;
	int n;

	if (!size)
		return 0;
	va_start(ap, fmt);
	n = vsnprintf(buf, size, fmt, ap);
	va_end(ap);
	if (n < 0)
		return 0;
	return (size_t)n < size ? n : (int)(size - 1);
}
