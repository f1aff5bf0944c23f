/* SPDX-License-Identifier: GPL-2.0 */
/* Host stand-in for <linux/export.h>: every program links what it uses. */
#ifndef _LINUX_EXPORT_H
#define _LINUX_EXPORT_H

#define EXPORT_SYMBOL(sym)
#define EXPORT_SYMBOL_GPL(sym)

#endif
