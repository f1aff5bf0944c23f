/* SPDX-License-Identifier: GPL-2.0 */
/* Host stand-in for <linux/compiler.h> and the attribute macros. */
#ifndef _LINUX_COMPILER_H
#define _LINUX_COMPILER_H

#define __iomem
#define __user
#define __force
#define __rcu
#define __percpu
#define __must_check __attribute__((__warn_unused_result__))
#define __printf(a, b) __attribute__((__format__(printf, a, b)))
#undef __always_inline
#define __always_inline inline __attribute__((__always_inline__))
#define noinline __attribute__((__noinline__))
#define __maybe_unused __attribute__((__unused__))
#define __always_unused __attribute__((__unused__))
#define __aligned(x) __attribute__((__aligned__(x)))
#define __packed __attribute__((__packed__))
#define __cold __attribute__((__cold__))
#define __noreturn __attribute__((__noreturn__))
#define fallthrough __attribute__((__fallthrough__))
#ifndef __attribute_const__	/* the C library's <sys/cdefs.h> has it too */
#define __attribute_const__ __attribute__((__const__))
#endif
#define noinline_for_stack noinline
#define __init
#define __exit
#define __initdata
#define __exitdata

/* a keyword in the kernel's gnu11; test programs are strict C11 */
#ifndef typeof
#define typeof(x) __typeof__(x)
#endif

#define __same_type(a, b) __builtin_types_compatible_p(__typeof__(a), __typeof__(b))
#define is_signed_type(type) (((type)(-1)) < (type)1)
/* 0 for an array, a compile error for a pointer (needs <linux/build_bug.h>) */
#define __must_be_array(a) BUILD_BUG_ON_ZERO(__same_type((a), &(a)[0]))

#define likely(x) __builtin_expect(!!(x), 1)
#define unlikely(x) __builtin_expect(!!(x), 0)

#define barrier() __asm__ __volatile__("" ::: "memory")
#define smp_mb() __atomic_thread_fence(__ATOMIC_SEQ_CST)
#define smp_rmb() __atomic_thread_fence(__ATOMIC_ACQUIRE)
#define smp_wmb() __atomic_thread_fence(__ATOMIC_RELEASE)

/*
 * Marked accesses: whole-word loads and stores that may race by design.
 * Relaxed atomics give the kernel's meaning and tell ThreadSanitizer the
 * race is intended (host kernel threads run for real). A test can run
 * another CPU right after a given word was read (<kxhost/race.h>).
 */
extern int kxh_race_armed;
void kxh_race_read(const volatile void *addr);
#define READ_ONCE(x) ({ \
	__typeof__(x) __kxh_once = __atomic_load_n(&(x), __ATOMIC_RELAXED); \
	if (__builtin_expect(__atomic_load_n(&kxh_race_armed, __ATOMIC_RELAXED), 0)) \
		kxh_race_read(&(x)); \
	__kxh_once; })
#define WRITE_ONCE(x, val) __atomic_store_n(&(x), (val), __ATOMIC_RELAXED)

#define __stringify_1(x...) #x
#define __stringify(x...) __stringify_1(x)

#endif
