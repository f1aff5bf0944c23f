/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The guest check programs' side of the qemu rigs' console protocol
 * (lib/README.md): results and checks on standard output, which is the
 * console. Built into each static check program (lib/initramfs.sh).
 */
#ifndef KXCHECK_H
#define KXCHECK_H

#include <stddef.h>

/* the checks that failed so far */
extern int kxq_failures;

/* "KXQ <text>": a result or a note for the host */
void say(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

/* "KXQ ok NAME", or "KXQ FAIL NAME: detail" counted in kxq_failures */
void check(int ok, const char *name, const char *fmt, ...)
	__attribute__((format(printf, 3, 4)));

/* "$...*HH" as a receiver sends it: HH the XOR of the bytes between */
int nmea_valid(const char *s, size_t len);

#endif
