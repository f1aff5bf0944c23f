// SPDX-License-Identifier: GPL-2.0
/* Host layer: printk() captured with its log level. */
#define _POSIX_C_SOURCE 200809L
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <linux/printk.h>
#include <kxhost/printk.h>

/* keeps the kernel's sscanf() linked in (see klib/sscanf.c) */
extern int kxh_sscanf_anchor;
static int *const sscanf_anchor __attribute__((__used__)) = &kxh_sscanf_anchor;

/* host kernel threads log too: records are appended under this lock */
static pthread_mutex_t log_lock = PTHREAD_MUTEX_INITIALIZER;
static struct kxh_log_rec *recs;
static unsigned int nrecs, caprecs;

static void echo(const struct kxh_log_rec *r)
{
	const char *e = getenv("KXH_LOG");

	if (e && *e == '1')
		fprintf(stderr, "<%d>%s%s", r->level, r->text,
			strchr(r->text, '\n') ? "" : "\n");
}

int printk(const char *fmt, ...)
{
	struct kxh_log_rec *r;
	int level = 4, cont = 0;
	va_list ap;
	int n;

	if (fmt[0] == '\001' && fmt[1]) {
		if (fmt[1] >= '0' && fmt[1] <= '7')
			level = fmt[1] - '0';
		else if (fmt[1] == 'c')
			cont = 1;
		fmt += 2;
	}
	pthread_mutex_lock(&log_lock);
	if (cont && nrecs) {
		size_t used;

		r = &recs[nrecs - 1];
		used = strlen(r->text);
		va_start(ap, fmt);
		n = vsnprintf(r->text + used, sizeof(r->text) - used, fmt, ap);
		va_end(ap);
		pthread_mutex_unlock(&log_lock);
		return n;
	}
	if (nrecs == caprecs) {
		caprecs = caprecs ? 2 * caprecs : 64;
		recs = realloc(recs, caprecs * sizeof(*recs));
		if (!recs)
			abort();
	}
	r = &recs[nrecs++];
	r->level = level;
	va_start(ap, fmt);
	n = vsnprintf(r->text, sizeof(r->text), fmt, ap);
	va_end(ap);
	echo(r);
	pthread_mutex_unlock(&log_lock);
	return n;
}

unsigned int kxh_log_count(void)
{
	unsigned int n;

	pthread_mutex_lock(&log_lock);
	n = nrecs;
	pthread_mutex_unlock(&log_lock);
	return n;
}

const struct kxh_log_rec *kxh_log_get(unsigned int i)
{
	return i < nrecs ? &recs[i] : NULL;
}

unsigned int kxh_log_count_exact(int level, const char *text)
{
	unsigned int i, n = 0;

	pthread_mutex_lock(&log_lock);
	for (i = 0; i < nrecs; i++)
		if ((level < 0 || recs[i].level == level) && !strcmp(recs[i].text, text))
			n++;
	pthread_mutex_unlock(&log_lock);
	return n;
}

unsigned int kxh_log_count_sub(int level, const char *text)
{
	unsigned int i, n = 0;

	pthread_mutex_lock(&log_lock);
	for (i = 0; i < nrecs; i++)
		if ((level < 0 || recs[i].level == level) && strstr(recs[i].text, text))
			n++;
	pthread_mutex_unlock(&log_lock);
	return n;
}

void kxh_log_clear(void)
{
	pthread_mutex_lock(&log_lock);
	nrecs = 0;
	pthread_mutex_unlock(&log_lock);
}
