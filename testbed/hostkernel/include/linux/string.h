/* SPDX-License-Identifier: GPL-2.0 */
/* Host stand-in for <linux/string.h>: the C library provides these. */
#ifndef _LINUX_STRING_H
#define _LINUX_STRING_H

#include <linux/types.h>

void *memcpy(void *dst, const void *src, size_t n);
void *memmove(void *dst, const void *src, size_t n);
void *memset(void *s, int c, size_t n);
int memcmp(const void *a, const void *b, size_t n);
size_t strlen(const char *s);
size_t strnlen(const char *s, size_t n);
int strcmp(const char *a, const char *b);
int strncmp(const char *a, const char *b, size_t n);
char *strchr(const char *s, int c);
char *strstr(const char *h, const char *n);
char *strncpy(char *dst, const char *src, size_t n);
ssize_t strscpy(char *dst, const char *src, size_t size);
void *memchr(const void *s, int c, size_t n);

#endif
