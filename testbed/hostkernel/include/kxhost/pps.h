/* SPDX-License-Identifier: GPL-2.0 */
/* LinuxPPS sources: what was registered and the events reported. */
#ifndef KXHOST_PPS_H
#define KXHOST_PPS_H

#include <linux/pps_kernel.h>

struct kxh_pps_rec {
	struct timespec64 ts;
	int event;
	void *data;
};

/* a registered source, made as pps_register_source() does */
struct pps_device *kxh_pps_new(const char *name);
unsigned int kxh_pps_sources(void);
const struct pps_source_info *kxh_pps_info(const struct pps_device *pps);
int kxh_pps_default_params(const struct pps_device *pps);
unsigned int kxh_pps_events(const struct pps_device *pps);
const struct kxh_pps_rec *kxh_pps_event(const struct pps_device *pps, unsigned int i);

#endif
