// SPDX-License-Identifier: GPL-2.0
/* Host layer: aborting on broken kernel rules, WARN_ON accounting. */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <linux/printk.h>
#include <kxhost/bug.h>

static unsigned int warn_count;

void kxh_bug(const char *fmt, ...)
{
	va_list ap;

	fputs("KXH BUG: ", stderr);
	va_start(ap, fmt);
	vfprintf(stderr, fmt, ap);
	va_end(ap);
	fputc('\n', stderr);
	abort();
}

void kxh_warn(const char *file, int line, const char *cond)
{
	warn_count++;
	fprintf(stderr, "KXH WARNING at %s:%d: %s\n", file, line, cond);
}

unsigned int kxh_warn_count(void)
{
	return warn_count;
}
