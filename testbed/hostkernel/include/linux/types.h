/* SPDX-License-Identifier: GPL-2.0 */
/* Host stand-in for <linux/types.h>: the kernel's fixed-width types (ll64). */
#ifndef _LINUX_TYPES_H
#define _LINUX_TYPES_H

typedef signed char s8;
typedef unsigned char u8;
typedef signed short s16;
typedef unsigned short u16;
typedef signed int s32;
typedef unsigned int u32;
typedef signed long long s64;
typedef unsigned long long u64;

typedef s8 __s8;
typedef u8 __u8;
typedef s16 __s16;
typedef u16 __u16;
typedef s32 __s32;
typedef u32 __u32;
typedef s64 __s64;
typedef u64 __u64;
typedef u16 __le16;
typedef u32 __le32;
typedef u16 __be16;
typedef u32 __be32;

typedef _Bool bool;
enum { false = 0, true = 1 };

typedef __SIZE_TYPE__ size_t;
typedef long ssize_t;
typedef long long loff_t;
typedef unsigned long uintptr_t;
typedef unsigned int gfp_t;
typedef unsigned short umode_t;
typedef s64 time64_t;
typedef u64 phys_addr_t;
typedef phys_addr_t resource_size_t;
typedef u32 dev_t;

#ifndef NULL
#define NULL ((void *)0)
#endif

struct list_head {
	struct list_head *next, *prev;
};

typedef struct {
	int counter;
} atomic_t;

typedef struct {
	s64 counter;
} atomic64_t;

#include <linux/compiler.h>

#endif
