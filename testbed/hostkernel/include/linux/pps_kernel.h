/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/pps_kernel.h>: a registered source records every
 * event reported to it (<kxhost/pps.h>).
 */
#ifndef _LINUX_PPS_KERNEL_H
#define _LINUX_PPS_KERNEL_H

#include <linux/types.h>
#include <linux/time64.h>
#include <linux/timekeeping.h>

#define PPS_CAPTUREASSERT 0x01
#define PPS_CAPTURECLEAR 0x02
#define PPS_CAPTUREBOTH 0x03
#define PPS_OFFSETASSERT 0x10
#define PPS_OFFSETCLEAR 0x20
#define PPS_CANWAIT 0x100
#define PPS_CANPOLL 0x200
#define PPS_ECHOASSERT 0x40
#define PPS_ECHOCLEAR 0x80
#define PPS_TSFMT_TSPEC 0x1000
#define PPS_TSFMT_NTPFP 0x2000
#define PPS_MAX_NAME_LEN 32

struct device;
struct module;
struct pps_device;

struct pps_source_info {
	char name[PPS_MAX_NAME_LEN];
	char path[PPS_MAX_NAME_LEN];
	int mode;
	void (*echo)(struct pps_device *pps, int event, void *data);
	struct module *owner;
	struct device *dev;
};

struct pps_event_time {
	struct timespec64 ts_real;
};

struct pps_device *pps_register_source(struct pps_source_info *info, int default_params);
void pps_unregister_source(struct pps_device *pps);
void pps_event(struct pps_device *pps, struct pps_event_time *ts, int event, void *data);

static inline void pps_get_ts(struct pps_event_time *ts)
{
	struct system_time_snapshot snap;

	ktime_get_snapshot(&snap);
	ts->ts_real = ktime_to_timespec64(snap.real);
}

#endif
