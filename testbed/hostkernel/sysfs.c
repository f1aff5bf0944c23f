// SPDX-License-Identifier: GPL-2.0
/* Host layer: kobjects and attribute files, read and written by path. */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <linux/kernel.h>
#include <linux/kobject.h>
#include <linux/sysfs.h>
#include <kxhost/bug.h>
#include <kxhost/fault.h>
#include <kxhost/irq.h>
#include <kxhost/sysfs.h>

struct kxh_sysfs_file {
	const struct attribute *attr;
	struct kxh_sysfs_file *next;
};

#define MAX_KOBJ 64

static struct kobject kernel_kobj_store = { .name = "kernel", .refcount = 1 };
struct kobject *kernel_kobj = &kernel_kobj_store;
static struct kobject *kobjs[MAX_KOBJ] = { &kernel_kobj_store };

static void kobj_path(const struct kobject *k, char *out, size_t size)
{
	const struct kobject *chain[8];
	size_t used = 0;
	int depth = 0;

	for (; k && depth < 8; k = k->parent)
		chain[depth++] = k;
	out[0] = 0;
	while (depth--) {
		const char *name = chain[depth]->name;
		size_t len = strlen(name);

		if (used && used + 1 < size)
			out[used++] = '/';
		if (used + len >= size)
			len = size - used - 1;
		memcpy(out + used, name, len);
		used += len;
		out[used] = 0;
	}
}

static struct kobject *find_dir(const char *path)
{
	char p[256];
	unsigned int i;

	for (i = 0; i < MAX_KOBJ; i++) {
		if (!kobjs[i])
			continue;
		kobj_path(kobjs[i], p, sizeof(p));
		if (!strcmp(p, path))
			return kobjs[i];
	}
	return NULL;
}

static struct kxh_sysfs_file *find_file(const char *path, struct kobject **kobj)
{
	char dir[256];
	const char *slash = strrchr(path, '/');
	struct kxh_sysfs_file *f;
	struct kobject *k;

	if (!slash || (size_t)(slash - path) >= sizeof(dir))
		return NULL;
	memcpy(dir, path, slash - path);
	dir[slash - path] = 0;
	k = find_dir(dir);
	if (!k)
		return NULL;
	for (f = k->files; f; f = f->next)
		if (!strcmp(f->attr->name, slash + 1)) {
			*kobj = k;
			return f;
		}
	return NULL;
}

struct kobject *kobject_create_and_add(const char *name, struct kobject *parent)
{
	struct kobject *k;
	unsigned int i;

	might_sleep();
	if (kxh_fault_check("kobject_create_and_add"))
		return NULL;
	for (i = 0; i < MAX_KOBJ; i++)
		if (kobjs[i] && kobjs[i]->parent == parent && !strcmp(kobjs[i]->name, name))
			return NULL;	/* -EEXIST in the kernel */
	for (i = 0; i < MAX_KOBJ && kobjs[i]; i++)
		;
	if (i == MAX_KOBJ)
		kxh_bug("too many kobjects");
	k = calloc(1, sizeof(*k));
	if (!k)
		return NULL;
	snprintf(k->name, sizeof(k->name), "%s", name);
	k->parent = parent;
	k->refcount = 1;
	kobjs[i] = k;
	return k;
}

struct kobject *kobject_get(struct kobject *kobj)
{
	if (kobj)
		kobj->refcount++;
	return kobj;
}

void kobject_put(struct kobject *kobj)
{
	unsigned int i;

	if (!kobj)
		return;
	if (kobj->refcount <= 0)
		kxh_bug("kobject_put on a released kobject");
	if (--kobj->refcount)
		return;
	while (kobj->files) {
		struct kxh_sysfs_file *f = kobj->files;

		kobj->files = f->next;
		free(f);
	}
	for (i = 0; i < MAX_KOBJ; i++)
		if (kobjs[i] == kobj)
			kobjs[i] = NULL;
	free(kobj);
}

int sysfs_create_file(struct kobject *kobj, const struct attribute *attr)
{
	struct kxh_sysfs_file *f, **tail;
	int err;

	might_sleep();
	if (!kobj || !attr)
		return -EINVAL;
	err = kxh_fault_check("sysfs_create_file");
	if (err)
		return err;
	for (tail = &kobj->files; *tail; tail = &(*tail)->next)
		if (!strcmp((*tail)->attr->name, attr->name))
			return -EEXIST;
	f = calloc(1, sizeof(*f));
	if (!f)
		return -ENOMEM;
	f->attr = attr;
	*tail = f;
	return 0;
}

void sysfs_remove_file(struct kobject *kobj, const struct attribute *attr)
{
	struct kxh_sysfs_file **p;

	for (p = &kobj->files; *p; p = &(*p)->next)
		if ((*p)->attr == attr) {
			struct kxh_sysfs_file *f = *p;

			*p = f->next;
			free(f);
			return;
		}
}

char *kxh_page_alloc(void)
{
	char *p = aligned_alloc(4096, 4096);

	if (!p)
		abort();
	memset(p, 0, 4096);
	return p;
}

void kxh_page_free(char *page)
{
	free(page);
}

ssize_t kxh_sysfs_read(const char *path, char *buf, size_t size)
{
	struct kobject *kobj;
	struct kxh_sysfs_file *f = find_file(path, &kobj);
	struct kobj_attribute *ka;
	ssize_t ret;
	char *page;

	if (!f)
		return -ENOENT;
	ka = container_of(f->attr, struct kobj_attribute, attr);
	if (!ka->show)
		return -EIO;
	page = kxh_page_alloc();
	ret = ka->show(kobj, ka, page);
	if (ret >= (ssize_t)PAGE_SIZE)
		kxh_bug("show of %s returned %zd, beyond the page", path, ret);
	if (ret >= 0 && size) {
		size_t n = (size_t)ret < size - 1 ? (size_t)ret : size - 1;

		memcpy(buf, page, n);
		buf[n] = 0;
	}
	kxh_page_free(page);
	return ret;
}

ssize_t kxh_sysfs_write(const char *path, const char *text)
{
	return kxh_sysfs_write_len(path, text, strlen(text));
}

ssize_t kxh_sysfs_write_len(const char *path, const char *text, size_t len)
{
	struct kobject *kobj;
	struct kxh_sysfs_file *f = find_file(path, &kobj);
	struct kobj_attribute *ka;
	ssize_t ret;
	char *page;

	if (!f)
		return -ENOENT;
	ka = container_of(f->attr, struct kobj_attribute, attr);
	if (!ka->store)
		return -EIO;
	if (len > PAGE_SIZE - 1)
		len = PAGE_SIZE - 1;
	/* sysfs hands the store a NUL-terminated copy of the written bytes */
	page = kxh_page_alloc();
	memcpy(page, text, len);
	page[len] = 0;
	ret = ka->store(kobj, ka, page, len);
	kxh_page_free(page);
	return ret;
}

bool kxh_sysfs_exists(const char *path)
{
	struct kobject *kobj;

	return find_file(path, &kobj) != NULL || find_dir(path) != NULL;
}

int kxh_sysfs_mode(const char *path)
{
	struct kobject *kobj;
	struct kxh_sysfs_file *f = find_file(path, &kobj);

	return f ? f->attr->mode : -ENOENT;
}

int kxh_sysfs_files(const char *dir)
{
	struct kobject *k = find_dir(dir);
	struct kxh_sysfs_file *f;
	int n = 0;

	if (!k)
		return -ENOENT;
	for (f = k->files; f; f = f->next)
		n++;
	return n;
}

const char *kxh_sysfs_file_name(const char *dir, int i)
{
	struct kobject *k = find_dir(dir);
	struct kxh_sysfs_file *f;

	for (f = k ? k->files : NULL; f; f = f->next)
		if (!i--)
			return f->attr->name;
	return NULL;
}

bool kxh_sysfs_can(const char *path, bool show, bool store)
{
	struct kobject *kobj;
	struct kxh_sysfs_file *f = find_file(path, &kobj);
	struct kobj_attribute *ka;

	if (!f)
		return false;
	ka = container_of(f->attr, struct kobj_attribute, attr);
	return (!show || ka->show) && (!store || ka->store);
}

unsigned int kxh_kobjects(void)
{
	unsigned int i, n = 0;

	for (i = 1; i < MAX_KOBJ; i++)
		if (kobjs[i])
			n++;
	return n;
}

static __attribute__((__format__(printf, 3, 0))) int vemit(char *buf, int at, const char *fmt, va_list ap)
{
	int n;

	if (!buf || ((unsigned long)buf & (PAGE_SIZE - 1)))
		kxh_bug("sysfs_emit on a buffer that is not the attribute's page");
	if (at < 0 || (size_t)at >= PAGE_SIZE)
		return 0;
	n = vsnprintf(buf + at, PAGE_SIZE - at, fmt, ap);
	if (n < 0)
		return 0;
	return (size_t)n < PAGE_SIZE - at ? n : (int)(PAGE_SIZE - at - 1);
}

int sysfs_emit(char *buf, const char *fmt, ...)
{
	va_list ap;
	int n;

	va_start(ap, fmt);
	n = vemit(buf, 0, fmt, ap);
	va_end(ap);
	return n;
}

int sysfs_emit_at(char *buf, int at, const char *fmt, ...)
{
	va_list ap;
	int n;

	va_start(ap, fmt);
	n = vemit(buf, at, fmt, ap);
	va_end(ap);
	return n;
}
