/* SPDX-License-Identifier: GPL-2.0 */
/* Host stand-in for <linux/atomic.h> (full-barrier forms on the compiler's atomics). */
#ifndef _LINUX_ATOMIC_H
#define _LINUX_ATOMIC_H

#include <linux/types.h>

#define ATOMIC_INIT(i) { (i) }
#define ATOMIC64_INIT(i) { (i) }

static inline int atomic_read(const atomic_t *v)
{
	return __atomic_load_n(&v->counter, __ATOMIC_RELAXED);
}

static inline void atomic_set(atomic_t *v, int i)
{
	__atomic_store_n(&v->counter, i, __ATOMIC_RELAXED);
}

static inline int atomic_add_return(int i, atomic_t *v)
{
	return __atomic_add_fetch(&v->counter, i, __ATOMIC_SEQ_CST);
}

static inline int atomic_sub_return(int i, atomic_t *v)
{
	return __atomic_sub_fetch(&v->counter, i, __ATOMIC_SEQ_CST);
}

static inline void atomic_add(int i, atomic_t *v) { atomic_add_return(i, v); }
static inline void atomic_sub(int i, atomic_t *v) { atomic_sub_return(i, v); }
static inline void atomic_inc(atomic_t *v) { atomic_add_return(1, v); }
static inline void atomic_dec(atomic_t *v) { atomic_sub_return(1, v); }
static inline int atomic_inc_return(atomic_t *v) { return atomic_add_return(1, v); }
static inline int atomic_dec_return(atomic_t *v) { return atomic_sub_return(1, v); }
static inline bool atomic_dec_and_test(atomic_t *v) { return atomic_sub_return(1, v) == 0; }
static inline bool atomic_inc_and_test(atomic_t *v) { return atomic_add_return(1, v) == 0; }

/* on plain words and bytes, as the architecture's xchg() does */
#define xchg(ptr, val) __atomic_exchange_n((ptr), (val), __ATOMIC_SEQ_CST)

static inline int atomic_xchg(atomic_t *v, int new)
{
	return __atomic_exchange_n(&v->counter, new, __ATOMIC_SEQ_CST);
}

static inline int atomic_cmpxchg(atomic_t *v, int old, int new)
{
	__atomic_compare_exchange_n(&v->counter, &old, new, 0,
				    __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
	return old;
}

static inline s64 atomic64_read(const atomic64_t *v)
{
	return __atomic_load_n(&v->counter, __ATOMIC_RELAXED);
}

static inline void atomic64_set(atomic64_t *v, s64 i)
{
	__atomic_store_n(&v->counter, i, __ATOMIC_RELAXED);
}

static inline s64 atomic64_add_return(s64 i, atomic64_t *v)
{
	return __atomic_add_fetch(&v->counter, i, __ATOMIC_SEQ_CST);
}

static inline s64 atomic64_xchg(atomic64_t *v, s64 new)
{
	return __atomic_exchange_n(&v->counter, new, __ATOMIC_SEQ_CST);
}

#endif
