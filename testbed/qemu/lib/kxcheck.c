// SPDX-License-Identifier: GPL-2.0
/* The guest check programs' results and checks: see kxcheck.h. */
#include "kxcheck.h"

#include <stdarg.h>
#include <stdio.h>

int kxq_failures;

/* one write per line: nothing else on the console cuts into it */
static void vsay(const char *head, const char *fmt, va_list ap)
{
	char text[1024];

	vsnprintf(text, sizeof(text), fmt, ap);
	printf("KXQ %s%s\n", head, text);
}

void say(const char *fmt, ...)
{
	va_list ap;

	va_start(ap, fmt);
	vsay("", fmt, ap);
	va_end(ap);
}

void check(int ok, const char *name, const char *fmt, ...)
{
	char head[160];
	va_list ap;

	if (ok) {
		say("ok %s", name);
		return;
	}
	kxq_failures++;
	snprintf(head, sizeof(head), "FAIL %s: ", name);
	va_start(ap, fmt);
	vsay(head, fmt, ap);
	va_end(ap);
}

static int hexval(char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	return -1;
}

int nmea_valid(const char *s, size_t len)
{
	unsigned int sum = 0;
	size_t i;

	if (len < 6 || s[0] != '$' || s[len - 3] != '*')
		return 0;
	for (i = 1; i < len - 3; i++)
		sum ^= (unsigned char)s[i];
	return hexval(s[len - 2]) >= 0 && hexval(s[len - 1]) >= 0 &&
	       (unsigned int)(hexval(s[len - 2]) * 16 + hexval(s[len - 1])) == sum;
}
