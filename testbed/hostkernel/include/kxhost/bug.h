/* SPDX-License-Identifier: GPL-2.0 */
/* The host layer's own failure: a broken kernel rule ends the test at once. */
#ifndef KXHOST_BUG_H
#define KXHOST_BUG_H

void kxh_bug(const char *fmt, ...) __attribute__((__format__(printf, 1, 2), __noreturn__));
/* WARN_ON()s that fired so far */
unsigned int kxh_warn_count(void);

#endif
