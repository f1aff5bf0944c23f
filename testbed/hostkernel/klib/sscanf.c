// SPDX-License-Identifier: GPL-2.0
/*
 * Host layer: the kernel's sscanf(), not the C library's. The differences
 * matter to attribute stores: no '+' sign before a number, no "0x" prefix
 * for %d, digits that overflow wrap instead of saturating, a value that
 * does not fit the target is truncated, and a conversion that finds no
 * digit stops the scan (the target keeps its value).
 *
 * The code is the kernel's own: lib/vsprintf.c cannot be compiled on the
 * host as a whole (it prints pointers of every kernel type and pulls in
 * clocks, kallsyms, dentries, ...), so the build cuts sscanf(), vsscanf()
 * and their helpers out of it, and skip_spaces() out of
 * lib/string_helpers.c, unchanged (kfunc.awk), into klib_sscanf.c, which
 * is compiled here.
 */
#include <linux/stdarg.h>
#include <linux/kernel.h>
#include <linux/ctype.h>
#include <linux/bitmap.h>
#include "kstrtox.h"

/*
 * Referenced from printk.c, which every program links: that pulls this
 * object in, whose strong sscanf() then wins over the weak interceptor a
 * sanitizer runtime (linked before the host archive) brings along.
 */
int kxh_sscanf_anchor;

/* declared by the kernel's <linux/string.h> and <linux/sprintf.h> */
char *skip_spaces(const char *str);
int vsscanf(const char *buf, const char *fmt, va_list args);

#include "klib_sscanf.c"
