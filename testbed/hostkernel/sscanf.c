// SPDX-License-Identifier: GPL-2.0
/*
 * Host layer: the kernel's sscanf(), not the C library's. The differences
 * matter to attribute stores: no '+' sign before a number, no "0x" prefix
 * for %d, digits that overflow wrap instead of saturating, a value that
 * does not fit the target is truncated, and a conversion that finds no
 * digit stops the scan (the target keeps its value).
 */
#include <stdarg.h>

#include <linux/kernel.h>

/*
 * Referenced from printk.c, which every program links: that pulls this
 * object in, whose strong sscanf() then wins over the weak interceptor a
 * sanitizer runtime (linked before the host archive) brings along.
 */
int kxh_sscanf_anchor;

#define KXH_SHRT_MAX 32767
#define KXH_INT_MAX 2147483647

static int k_isspace(int c)
{
	/* the kernel's ctype: the C locale's blanks plus no-break space */
	return c == ' ' || (c >= '\t' && c <= '\r') || c == 0xa0;
}

static int k_isdigit(int c)
{
	return c >= '0' && c <= '9';
}

static int k_isxdigit(int c)
{
	return k_isdigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}

static const char *skip_spaces(const char *s)
{
	while (k_isspace((unsigned char)*s))
		s++;
	return s;
}

static int skip_atoi(const char **s)
{
	int i = 0;

	do {
		i = i * 10 + *((*s)++) - '0';
	} while (k_isdigit(**s));
	return i;
}

static const char *fixup_radix(const char *s, unsigned int *base)
{
	if (*base == 0) {
		if (s[0] == '0') {
			if ((s[1] | 0x20) == 'x' && k_isxdigit((unsigned char)s[2]))
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

/* digits up to max_chars; overflow wraps modulo 2^64 as in the kernel */
static unsigned long long strntoull(const char *startp, const char **endp,
				    unsigned int base, size_t max_chars)
{
	unsigned long long res = 0;
	const char *cp = fixup_radix(startp, &base);
	size_t prefix = (size_t)(cp - startp);

	if (prefix < max_chars) {
		max_chars -= prefix;
		while (max_chars--) {
			unsigned int c = (unsigned char)*cp, val;

			if (k_isdigit(c))
				val = c - '0';
			else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
				val = (c | 0x20) - 'a' + 10;
			else
				break;
			if (val >= base)
				break;
			res = res * base + val;
			cp++;
		}
	} else {
		cp = startp + max_chars;
	}
	*endp = cp;
	return res;
}

static long long strntoll(const char *cp, const char **endp, unsigned int base,
			  size_t max_chars)
{
	if (*cp == '-' && max_chars > 0)
		return (long long)(0ULL - strntoull(cp + 1, endp, base, max_chars - 1));
	return (long long)strntoull(cp, endp, base, max_chars);
}

int vsscanf(const char *buf, const char *fmt, va_list args);

int vsscanf(const char *buf, const char *fmt, va_list args)
{
	const char *str = buf;
	const char *next;
	int num = 0;

	while (*fmt) {
		union { long long s; unsigned long long u; } val;
		int field_width = -1;
		char qualifier = 0;
		unsigned int base = 10;
		bool is_sign = false;
		char digit;

		/* white space in the format matches any amount, including none */
		if (k_isspace((unsigned char)*fmt)) {
			fmt = skip_spaces(++fmt);
			str = skip_spaces(str);
		}
		/* anything else but a conversion must match exactly */
		if (*fmt != '%' && *fmt) {
			if (*fmt++ != *str++)
				break;
			continue;
		}
		if (!*fmt)
			break;
		++fmt;

		/* suppressed conversion: skip to the next white space in both */
		if (*fmt == '*') {
			if (!*str)
				break;
			while (!k_isspace((unsigned char)*fmt) && *fmt != '%' && *fmt) {
				if (*fmt == '[')
					return num;
				fmt++;
			}
			while (!k_isspace((unsigned char)*str) && *str)
				str++;
			continue;
		}

		if (k_isdigit((unsigned char)*fmt)) {
			field_width = skip_atoi(&fmt);
			if (field_width <= 0)
				break;
		}

		if (*fmt == 'h' || (*fmt | 0x20) == 'l' || *fmt == 'z') {
			qualifier = *fmt++;
			if (qualifier == *fmt) {
				if (qualifier == 'h') {
					qualifier = 'H';
					fmt++;
				} else if (qualifier == 'l') {
					qualifier = 'L';
					fmt++;
				}
			}
		}
		if (!*fmt)
			break;
		if (*fmt == 'n') {
			*va_arg(args, int *) = (int)(str - buf);
			++fmt;
			continue;
		}
		if (!*str)
			break;

		switch (*fmt++) {
		case 'c': {
			char *s = va_arg(args, char *);

			if (field_width == -1)
				field_width = 1;
			do {
				*s++ = *str++;
			} while (--field_width > 0 && *str);
			num++;
			continue;
		}
		case 's': {
			char *s = va_arg(args, char *);

			if (field_width == -1)
				field_width = KXH_SHRT_MAX;
			str = skip_spaces(str);
			while (*str && !k_isspace((unsigned char)*str) && field_width--)
				*s++ = *str++;
			*s = '\0';
			num++;
			continue;
		}
		case 'o':
			base = 8;
			break;
		case 'x':
		case 'X':
			base = 16;
			break;
		case 'i':
			base = 0;
			fallthrough;
		case 'd':
			is_sign = true;
			fallthrough;
		case 'u':
			break;
		case '%':
			if (*str++ != '%')
				return num;
			continue;
		default:
			return num;
		}

		/* an integer: leading blanks skipped, then a digit must follow */
		str = skip_spaces(str);
		digit = *str;
		if (is_sign && digit == '-') {
			if (field_width == 1)
				break;
			digit = str[1];
		}
		if (!digit ||
		    (base == 16 && !k_isxdigit((unsigned char)digit)) ||
		    (base == 10 && !k_isdigit((unsigned char)digit)) ||
		    (base == 8 && (!k_isdigit((unsigned char)digit) || digit > '7')) ||
		    (base == 0 && !k_isdigit((unsigned char)digit)))
			break;

		if (is_sign)
			val.s = strntoll(str, &next, base,
					 field_width >= 0 ? (size_t)field_width : KXH_INT_MAX);
		else
			val.u = strntoull(str, &next, base,
					  field_width >= 0 ? (size_t)field_width : KXH_INT_MAX);

		switch (qualifier) {
		case 'H':
			if (is_sign)
				*va_arg(args, signed char *) = (signed char)val.s;
			else
				*va_arg(args, unsigned char *) = (unsigned char)val.u;
			break;
		case 'h':
			if (is_sign)
				*va_arg(args, short *) = (short)val.s;
			else
				*va_arg(args, unsigned short *) = (unsigned short)val.u;
			break;
		case 'l':
			if (is_sign)
				*va_arg(args, long *) = (long)val.s;
			else
				*va_arg(args, unsigned long *) = (unsigned long)val.u;
			break;
		case 'L':
			if (is_sign)
				*va_arg(args, long long *) = val.s;
			else
				*va_arg(args, unsigned long long *) = val.u;
			break;
		case 'z':
			*va_arg(args, size_t *) = (size_t)val.u;
			break;
		default:
			if (is_sign)
				*va_arg(args, int *) = (int)val.s;
			else
				*va_arg(args, unsigned int *) = (unsigned int)val.u;
			break;
		}
		num++;
		str = next;
	}
	return num;
}

int sscanf(const char *buf, const char *fmt, ...)
{
	va_list args;
	int i;

	va_start(args, fmt);
	i = vsscanf(buf, fmt, args);
	va_end(args);
	return i;
}
