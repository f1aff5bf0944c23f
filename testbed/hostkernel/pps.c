// SPDX-License-Identifier: GPL-2.0
/* Host layer: LinuxPPS sources recording their events. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <linux/kernel.h>
#include <linux/pps_kernel.h>
#include <kxhost/bug.h>
#include <kxhost/fault.h>
#include <kxhost/pps.h>

struct pps_device {
	struct pps_source_info info;
	int params;
	unsigned int nevents, capevents;
	struct kxh_pps_rec *events;
};

static unsigned int nsources;

struct pps_device *pps_register_source(struct pps_source_info *info, int default_params)
{
	struct pps_device *pps;
	int err;

	might_sleep();
	err = kxh_fault_check("pps_register_source");
	if (err)
		return ERR_PTR(err);
	if ((info->mode & default_params) != default_params)
		return ERR_PTR(-EINVAL);
	pps = calloc(1, sizeof(*pps));
	if (!pps)
		return ERR_PTR(-ENOMEM);
	pps->info = *info;
	pps->params = default_params;
	nsources++;
	return pps;
}

struct pps_device *kxh_pps_new(const char *name)
{
	struct pps_source_info info = {
		.mode = PPS_CAPTUREASSERT | PPS_OFFSETASSERT | PPS_TSFMT_TSPEC,
	};

	snprintf(info.name, sizeof(info.name), "%s", name);
	return pps_register_source(&info, PPS_CAPTUREASSERT);
}

void pps_unregister_source(struct pps_device *pps)
{
	might_sleep();
	nsources--;
	free(pps->events);
	free(pps);
}

void pps_event(struct pps_device *pps, struct pps_event_time *ts, int event, void *data)
{
	struct kxh_pps_rec *r;

	if (pps->nevents == pps->capevents) {
		pps->capevents = pps->capevents ? 2 * pps->capevents : 64;
		pps->events = realloc(pps->events, pps->capevents * sizeof(*pps->events));
		if (!pps->events)
			abort();
	}
	r = &pps->events[pps->nevents++];
	r->ts = ts->ts_real;
	r->event = event;
	r->data = data;
}

unsigned int kxh_pps_sources(void)
{
	return nsources;
}

const struct pps_source_info *kxh_pps_info(const struct pps_device *pps)
{
	return &pps->info;
}

int kxh_pps_default_params(const struct pps_device *pps)
{
	return pps->params;
}

unsigned int kxh_pps_events(const struct pps_device *pps)
{
	return pps->nevents;
}

const struct kxh_pps_rec *kxh_pps_event(const struct pps_device *pps, unsigned int i)
{
	return i < pps->nevents ? &pps->events[i] : NULL;
}
