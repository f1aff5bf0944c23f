// SPDX-License-Identifier: GPL-2.0
/* Host layer: user-space copies with simulated faults. */
#include <string.h>

#include <linux/kernel.h>
#include <linux/uaccess.h>
#include <kxhost/fault.h>

unsigned long copy_to_user(void __user *to, const void *from, unsigned long n)
{
	might_sleep();
	if (kxh_fault_check("copy_to_user") || (!to && n))
		return n;
	if (n)
		memcpy((void __force *)to, from, n);
	return 0;
}

unsigned long copy_from_user(void *to, const void __user *from, unsigned long n)
{
	might_sleep();
	if (kxh_fault_check("copy_from_user") || (!from && n)) {
		/* the kernel zeroes what it could not copy */
		memset(to, 0, n);
		return n;
	}
	if (n)
		memcpy(to, (const void __force *)from, n);
	return 0;
}
