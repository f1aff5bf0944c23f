/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Host stand-in for <linux/of.h>: a device tree that a test builds node by
 * node (<kxhost/of.h>). Nodes are reference counted as in the kernel: every
 * lookup that returns a node takes a reference the caller drops with
 * of_node_put(); the host counts them so a test can see leaks.
 */
#ifndef _LINUX_OF_H
#define _LINUX_OF_H

#include <linux/types.h>
#include <linux/mod_devicetable.h>

typedef u32 phandle;

struct property {
	char *name;
	int length;
	void *value;
	struct property *next;
};

struct device_node {
	const char *name;
	const char *full_name;
	phandle phandle;
	struct property *properties;
	struct device_node *parent;
	struct device_node *child;
	struct device_node *sibling;
	/* host bookkeeping */
	char kxh_name[64];
	int kxh_refs;			/* references taken by lookups */
	int kxh_hwirq;			/* "interrupts": first cell, -1 when none */
	struct platform_device *kxh_pdev;	/* device made from the node */
	struct phy_device *kxh_phy;	/* PHY at this node */
};

struct of_phandle_args {
	struct device_node *np;
	int args_count;
	u32 args[16];
};

struct device_node *of_node_get(struct device_node *node);
void of_node_put(struct device_node *node);
/* drops the reference on from, searches the whole tree after it */
struct device_node *of_find_node_by_name(struct device_node *from, const char *name);
struct device_node *of_parse_phandle(const struct device_node *np,
				     const char *phandle_name, int index);
struct property *of_find_property(const struct device_node *np, const char *name,
				  int *lenp);
const void *of_get_property(const struct device_node *node, const char *name, int *lenp);
bool of_property_read_bool(const struct device_node *np, const char *propname);
int of_property_read_u32(const struct device_node *np, const char *propname, u32 *out_value);
int of_device_is_compatible(const struct device_node *device, const char *compat);
const struct of_device_id *of_match_node(const struct of_device_id *matches,
					 const struct device_node *node);

#endif
