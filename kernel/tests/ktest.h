/* SPDX-License-Identifier: GPL-2.0 */
/*
 * A small test runner for the module's host tests. Each KTEST case runs in
 * a forked process, so every case starts from the module's load-time state
 * and a crash or a host-layer abort fails only that case. The last line
 * printed is "N passed, N failed".
 */
#ifndef KTEST_H
#define KTEST_H

#include <stdio.h>

struct ktest_case {
	const char *name;
	void (*fn)(void);
	struct ktest_case *next;
};

/*
 * xorshift64: the property tests' repeatable stream of random numbers, one
 * state word per test file, so a failing seed replays exactly.
 */
static inline unsigned long long ktest_rand(unsigned long long *state)
{
	*state ^= *state << 13;
	*state ^= *state >> 7;
	*state ^= *state << 17;
	return *state;
}

/* a random number in [0, n) */
static inline long long ktest_below(unsigned long long *state, long long n)
{
	return (long long)(ktest_rand(state) % (unsigned long long)n);
}

void ktest_register(struct ktest_case *tc);
/* runs fn in a child process: 1 when it was aborted (a host-layer bug check) */
int ktest_aborts(void (*fn)(void));
/* runs fn in a child process, from the state at the call: 1 when its checks passed */
int ktest_passes(void (*fn)(void));
void ktest_fail(const char *file, int line, const char *fmt, ...)
	__attribute__((__format__(printf, 3, 4)));

/* the table row being checked, named in failure messages (-1: none) */
extern int ktest_row;
#define KT_COUNT(tab) ((int)(sizeof(tab) / sizeof((tab)[0])))
/* table-driven cases: the body runs with `row` (declared here) pointing at
 * each entry of `tab` in turn (a `continue` or `break` ends only that row) */
#define KT_ROWS(row, tab) \
	for (ktest_row = 0; ktest_row < KT_COUNT(tab) || (ktest_row = -1, 0); ktest_row++) \
		for (const __typeof__((tab)[0]) *row = &(tab)[ktest_row]; row; row = NULL)

#define KTEST(name) \
	static void name(void); \
	static struct ktest_case name##_case = { #name, name, 0 }; \
	__attribute__((constructor)) static void name##_reg(void) { ktest_register(&name##_case); } \
	static void name(void)

#define KT_TRUE(cond) \
	do { if (!(cond)) ktest_fail(__FILE__, __LINE__, "expected %s", #cond); } while (0)
#define KT_FALSE(cond) \
	do { if (cond) ktest_fail(__FILE__, __LINE__, "expected !(%s)", #cond); } while (0)
#define KT_EQ(a, b) \
	do { long long _a = (long long)(a), _b = (long long)(b); \
	     if (_a != _b) ktest_fail(__FILE__, __LINE__, "%s == %lld, expected %s == %lld", \
				      #a, _a, #b, _b); } while (0)
#define KT_STREQ(a, b) \
	do { const char *_a = (a), *_b = (b); \
	     if (strcmp(_a, _b)) ktest_fail(__FILE__, __LINE__, "%s == \"%s\", expected \"%s\"", \
					    #a, _a, _b); } while (0)

#endif
