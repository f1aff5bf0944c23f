/* SPDX-License-Identifier: GPL-2.0 */
/* The module's init and exit functions, as insmod and rmmod would run them. */
#ifndef KXHOST_MODULE_H
#define KXHOST_MODULE_H

int kxh_module_init(void);
void kxh_module_exit(void);

#endif
