// SPDX-License-Identifier: GPL-2.0
/* Host layer: firmware properties of a device, set by the test. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <linux/kernel.h>
#include <linux/device.h>
#include <linux/errno.h>
#include <linux/property.h>
#include <kxhost/bug.h>
#include <kxhost/property.h>

struct prop {
	struct list_head node;
	char name[64];
	unsigned int len;	/* bytes of value: 0 for a flag */
	u32 val;
};

static struct prop *find(const struct device *dev, const char *name)
{
	struct list_head *pos;

	if (!dev->kxh_props.next)
		kxh_bug("property lookup on an uninitialised device");
	list_for_each(pos, &dev->kxh_props) {
		struct prop *p = list_entry(pos, struct prop, node);

		if (!strcmp(p->name, name))
			return p;
	}
	return NULL;
}

static void set(struct device *dev, const char *name, unsigned int len, u32 val)
{
	struct prop *p = find(dev, name);

	if (!p) {
		p = calloc(1, sizeof(*p));
		if (!p)
			abort();
		snprintf(p->name, sizeof(p->name), "%s", name);
		list_add_tail(&p->node, &dev->kxh_props);
	}
	p->len = len;
	p->val = val;
}

void kxh_prop_set_u32(struct device *dev, const char *name, u32 val)
{
	set(dev, name, 4, val);
}

void kxh_prop_set_flag(struct device *dev, const char *name)
{
	set(dev, name, 0, 0);
}

void kxh_prop_clear(struct device *dev)
{
	while (dev->kxh_props.next && !list_empty(&dev->kxh_props)) {
		struct prop *p = list_first_entry(&dev->kxh_props, struct prop, node);

		list_del(&p->node);
		free(p);
	}
}

bool device_property_present(const struct device *dev, const char *propname)
{
	return find(dev, propname) != NULL;
}

int device_property_read_u32(const struct device *dev, const char *propname, u32 *val)
{
	struct prop *p = find(dev, propname);

	if (!p)
		return -EINVAL;
	if (!p->len)
		return -ENODATA;
	*val = p->val;
	return 0;
}
