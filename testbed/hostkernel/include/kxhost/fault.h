/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Failure injection. Each host call that can fail in the kernel checks a
 * fault site named after it ("kmalloc", "kobject_create_and_add",
 * "sysfs_create_file", "i2c_new_client_device", "alloc_workqueue",
 * "pps_register_source", ...). Arming a site makes its calls fail after
 * `skip` successful ones, `times` times in a row, with error `err`.
 */
#ifndef KXHOST_FAULT_H
#define KXHOST_FAULT_H

void kxh_fault_arm(const char *site, unsigned int skip, unsigned int times, int err);
void kxh_fault_clear(void);
/* used by the host layer: 0, or the negative error to return */
int kxh_fault_check(const char *site);
/* times the site was reached */
unsigned int kxh_fault_hits(const char *site);

#endif
