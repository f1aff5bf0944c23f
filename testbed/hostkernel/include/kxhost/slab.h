/* SPDX-License-Identifier: GPL-2.0 */
#ifndef KXHOST_SLAB_H
#define KXHOST_SLAB_H

/* blocks allocated and not freed */
long kxh_slab_live(void);
/* allocations made so far */
unsigned long kxh_slab_total(void);

#endif
