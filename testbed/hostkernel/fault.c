// SPDX-License-Identifier: GPL-2.0
/* Host layer: named fault sites for failure injection. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <kxhost/fault.h>

struct site {
	char name[48];
	unsigned int hits;
	unsigned int skip, times;
	int err;
};

static struct site sites[64];
static unsigned int nsites;

static struct site *lookup(const char *name, int create)
{
	unsigned int i;

	for (i = 0; i < nsites; i++)
		if (!strcmp(sites[i].name, name))
			return &sites[i];
	if (!create)
		return NULL;
	if (nsites == sizeof(sites) / sizeof(sites[0])) {
		fprintf(stderr, "KXH: too many fault sites\n");
		abort();
	}
	snprintf(sites[nsites].name, sizeof(sites[nsites].name), "%s", name);
	return &sites[nsites++];
}

void kxh_fault_arm(const char *site, unsigned int skip, unsigned int times, int err)
{
	struct site *s = lookup(site, 1);

	s->skip = skip;
	s->times = times;
	s->err = err;
}

void kxh_fault_clear(void)
{
	unsigned int i;

	for (i = 0; i < nsites; i++)
		sites[i].times = 0;
}

int kxh_fault_check(const char *site)
{
	struct site *s = lookup(site, 1);

	s->hits++;
	if (!s->times)
		return 0;
	if (s->skip) {
		s->skip--;
		return 0;
	}
	s->times--;
	return s->err;
}

unsigned int kxh_fault_hits(const char *site)
{
	struct site *s = lookup(site, 0);

	return s ? s->hits : 0;
}
