// SPDX-License-Identifier: GPL-2.0
/* Host layer: the module's identity and its init/exit entry points. */
#include <linux/init.h>
#include <linux/module.h>
#include <kxhost/bug.h>
#include <kxhost/irq.h>
#include <kxhost/module.h>

struct module __this_module = { .name = "kx_pps" };

extern initcall_t __kxh_module_init __attribute__((weak));
extern exitcall_t __kxh_module_exit __attribute__((weak));

int kxh_module_init(void)
{
	if (!&__kxh_module_init || !__kxh_module_init)
		kxh_bug("the module has no init function linked in");
	return __kxh_module_init();
}

void kxh_module_exit(void)
{
	if (!&__kxh_module_exit || !__kxh_module_exit)
		kxh_bug("the module has no exit function linked in");
	__kxh_module_exit();
}
