// SPDX-License-Identifier: GPL-2.0
/* Host layer: the device tree a test builds, lookups with node references. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <linux/kernel.h>
#include <linux/of.h>
#include <linux/of_irq.h>
#include <kxhost/bug.h>
#include <kxhost/fault.h>
#include <kxhost/of.h>

#define VIRQ_BASE 100
#define MAX_VIRQ 64

static struct device_node root = {
	.name = "", .full_name = "/", .kxh_name = "", .kxh_hwirq = -1,
};
static phandle next_phandle = 1;
static unsigned int virq_maps[MAX_VIRQ];

struct device_node *kxh_of_add(struct device_node *parent, const char *name)
{
	struct device_node *np = calloc(1, sizeof(*np));
	struct device_node **tail;

	if (!np)
		abort();
	if (!parent)
		parent = &root;
	snprintf(np->kxh_name, sizeof(np->kxh_name), "%s", name);
	np->name = np->kxh_name;
	np->full_name = np->kxh_name;
	np->kxh_hwirq = -1;
	np->parent = parent;
	for (tail = &parent->child; *tail; tail = &(*tail)->sibling)
		;
	*tail = np;
	return np;
}

static struct property *prop_set(struct device_node *np, const char *name,
				 const void *value, int length)
{
	struct property *pp;

	for (pp = np->properties; pp; pp = pp->next)
		if (!strcmp(pp->name, name))
			break;
	if (!pp) {
		pp = calloc(1, sizeof(*pp));
		if (!pp)
			abort();
		pp->name = malloc(strlen(name) + 1);
		if (pp->name)
			strcpy(pp->name, name);
		pp->next = np->properties;
		np->properties = pp;
	}
	free(pp->value);
	pp->value = malloc(length ? length : 1);
	if (!pp->name || !pp->value)
		abort();
	memcpy(pp->value, value, length);
	pp->length = length;
	return pp;
}

void kxh_of_set_string(struct device_node *np, const char *prop, const char *value)
{
	prop_set(np, prop, value, (int)strlen(value) + 1);
}

void kxh_of_set_u32(struct device_node *np, const char *prop, u32 value)
{
	prop_set(np, prop, &value, sizeof(value));
}

void kxh_of_set_phandle(struct device_node *np, const char *prop, struct device_node *target)
{
	if (!target->phandle)
		target->phandle = next_phandle++;
	kxh_of_set_u32(np, prop, target->phandle);
}

void kxh_of_set_interrupt(struct device_node *np, int hwirq)
{
	np->kxh_hwirq = hwirq;
	kxh_of_set_u32(np, "interrupts", (u32)hwirq);
}

void kxh_of_set_gpio(struct device_node *np, const char *prop, struct gpio_desc *desc)
{
	prop_set(np, prop, &desc, sizeof(desc));
}

/* depth-first, the order of of_find_node_by_name() */
static struct device_node *next_node(struct device_node *np)
{
	if (np->child)
		return np->child;
	while (np && !np->sibling)
		np = np->parent;
	return np ? np->sibling : NULL;
}

static int sum_refs(struct device_node *np)
{
	int n = 0;

	for (; np; np = next_node(np))
		n += np->kxh_refs;
	return n;
}

int kxh_of_refs(void)
{
	return sum_refs(&root);
}

unsigned int kxh_irq_mappings(void)
{
	unsigned int i, n = 0;

	for (i = 0; i < MAX_VIRQ; i++)
		n += virq_maps[i];
	return n;
}

struct device_node *of_node_get(struct device_node *node)
{
	if (node)
		node->kxh_refs++;
	return node;
}

void of_node_put(struct device_node *node)
{
	if (!node)
		return;
	if (node->kxh_refs <= 0)
		kxh_bug("of_node_put on node %s without a reference", node->name);
	node->kxh_refs--;
}

struct device_node *of_find_node_by_name(struct device_node *from, const char *name)
{
	struct device_node *np = from ? next_node(from) : next_node(&root);

	for (; np; np = next_node(np))
		if (!strcmp(np->name, name) && of_node_get(np))
			break;
	of_node_put(from);
	return np;
}

struct property *of_find_property(const struct device_node *np, const char *name, int *lenp)
{
	struct property *pp;

	if (!np)
		return NULL;
	for (pp = np->properties; pp; pp = pp->next)
		if (!strcmp(pp->name, name)) {
			if (lenp)
				*lenp = pp->length;
			return pp;
		}
	return NULL;
}

const void *of_get_property(const struct device_node *node, const char *name, int *lenp)
{
	struct property *pp = of_find_property(node, name, lenp);

	return pp ? pp->value : NULL;
}

bool of_property_read_bool(const struct device_node *np, const char *propname)
{
	return of_find_property(np, propname, NULL) != NULL;
}

int of_property_read_u32(const struct device_node *np, const char *propname, u32 *out_value)
{
	struct property *pp = of_find_property(np, propname, NULL);

	if (!pp)
		return -EINVAL;
	if (pp->length < 4)
		return -EOVERFLOW;
	memcpy(out_value, pp->value, 4);
	return 0;
}

struct device_node *of_parse_phandle(const struct device_node *np, const char *phandle_name,
				     int index)
{
	struct property *pp = of_find_property(np, phandle_name, NULL);
	struct device_node *it;
	phandle ph;

	if (!pp || index < 0 || (index + 1) * 4 > pp->length)
		return NULL;
	memcpy(&ph, (const char *)pp->value + 4 * index, 4);
	for (it = next_node(&root); it; it = next_node(it))
		if (it->phandle == ph)
			return of_node_get(it);
	return NULL;
}

int of_device_is_compatible(const struct device_node *device, const char *compat)
{
	int len;
	const char *p = of_get_property(device, "compatible", &len);

	return p && !strcmp(p, compat);
}

const struct of_device_id *of_match_node(const struct of_device_id *matches,
					 const struct device_node *node)
{
	if (!matches || !node)
		return NULL;
	for (; matches->compatible[0]; matches++)
		if (of_device_is_compatible(node, matches->compatible))
			return matches;
	return NULL;
}

unsigned int irq_of_parse_and_map(struct device_node *node, int index)
{
	unsigned int virq;

	if (!node || index != 0 || node->kxh_hwirq < 0)
		return 0;
	if (kxh_fault_check("irq_of_parse_and_map"))
		return 0;
	virq = VIRQ_BASE + (unsigned int)node->kxh_hwirq;
	if (virq >= VIRQ_BASE + MAX_VIRQ)
		kxh_bug("hwirq %d beyond the host's interrupt domain", node->kxh_hwirq);
	virq_maps[virq - VIRQ_BASE]++;
	return virq;
}

void irq_dispose_mapping(unsigned int virq)
{
	if (!virq)
		return;
	if (virq < VIRQ_BASE || virq >= VIRQ_BASE + MAX_VIRQ || !virq_maps[virq - VIRQ_BASE])
		kxh_bug("irq_dispose_mapping(%u) of an interrupt not mapped", virq);
	virq_maps[virq - VIRQ_BASE]--;
}
