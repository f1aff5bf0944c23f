/* SPDX-License-Identifier: GPL-2.0 */
/* The module's init and exit functions, as insmod and rmmod would run them. */
#ifndef KXHOST_MODULE_H
#define KXHOST_MODULE_H

#include <linux/types.h>

int kxh_module_init(void);
void kxh_module_exit(void);

/*
 * The module's parameters as /sys/module/kx_pps/parameters shows them (those
 * with a mode): the i-th one's name (NULL past the last), its mode
 * (-ENOENT for none of that name), its text ("%d\n", "%u\n") into buf and
 * the text's length.
 */
const char *kxh_param_name(int i);
int kxh_param_mode(const char *name);
long kxh_param_show(const char *name, char *buf, size_t size);

/*
 * insmod's "name=value" before the load, for any parameter, with a mode or
 * not: 0, -ENOENT for none of that name, -EINVAL for a text the parameter's
 * type refuses.
 */
int kxh_param_set(const char *name, const char *text);

/*
 * A write to the parameter's file (a mode with a write bit): len, -ENOENT,
 * -EACCES for a read-only one, -EINVAL for a text its type refuses.
 */
long kxh_param_store(const char *name, const char *text, size_t len);

#endif
