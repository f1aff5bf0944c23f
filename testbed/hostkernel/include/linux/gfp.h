/* SPDX-License-Identifier: GPL-2.0 */
#ifndef _LINUX_GFP_H
#define _LINUX_GFP_H

#include <linux/types.h>

/* Only the distinction that matters to the host checks: may it sleep? */
#define __GFP_KXH_ATOMIC 0x1u
#define GFP_KERNEL 0x10u
#define GFP_ATOMIC (__GFP_KXH_ATOMIC | 0x20u)
#define GFP_NOWAIT (__GFP_KXH_ATOMIC | 0x40u)
#define __GFP_ZERO 0x100u

#endif
