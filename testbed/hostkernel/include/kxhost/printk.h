/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Captured kernel log. Each printk() becomes one record with its level
 * (0..7, 4 when none was given); KERN_CONT text is appended to the previous
 * record. Set KXH_LOG=1 in the environment to echo records to stderr.
 */
#ifndef KXHOST_PRINTK_H
#define KXHOST_PRINTK_H

struct kxh_log_rec {
	int level;
	char text[512];
};

unsigned int kxh_log_count(void);
const struct kxh_log_rec *kxh_log_get(unsigned int i);
/* number of records with this level and exactly this text (-1: any level) */
unsigned int kxh_log_count_exact(int level, const char *text);
/* number of records containing this text (-1: any level) */
unsigned int kxh_log_count_sub(int level, const char *text);
void kxh_log_clear(void);

#endif
