/* SPDX-License-Identifier: GPL-2.0 */
#ifndef _LINUX_MOD_DEVICETABLE_H
#define _LINUX_MOD_DEVICETABLE_H

#include <linux/types.h>

struct of_device_id {
	char name[32];
	char type[32];
	char compatible[128];
	const void *data;
};

#endif
