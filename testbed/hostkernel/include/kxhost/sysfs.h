/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Attribute files by path relative to /sys, e.g. "pps_filter/k1". Reading
 * calls the show handler with a fresh page and returns its result (the text
 * in buf, NUL-terminated); writing calls the store handler with the text and
 * its length, as a write(2) of that text would. A file without the handler
 * fails with -EIO as sysfs does; a missing file gives -ENOENT.
 */
#ifndef KXHOST_SYSFS_H
#define KXHOST_SYSFS_H

#include <linux/kobject.h>

ssize_t kxh_sysfs_read(const char *path, char *buf, size_t size);
ssize_t kxh_sysfs_write(const char *path, const char *text);
/* the same for bytes that need not be text */
ssize_t kxh_sysfs_write_len(const char *path, const char *text, size_t len);
/* name of the i-th file of a directory, NULL past the last */
const char *kxh_sysfs_file_name(const char *dir, int i);
/* the file has the handlers asked for */
bool kxh_sysfs_can(const char *path, bool show, bool store);
bool kxh_sysfs_exists(const char *path);
/* mode of the file, or -ENOENT */
int kxh_sysfs_mode(const char *path);
/* number of files in a directory (-ENOENT when there is no such directory) */
int kxh_sysfs_files(const char *dir);
/* kobjects alive */
unsigned int kxh_kobjects(void);
/* a page-aligned buffer for calling show handlers directly; freed by kxh_page_free */
char *kxh_page_alloc(void);
void kxh_page_free(char *page);

#endif
