/* SPDX-License-Identifier: GPL-2.0 */
/* Host stand-in for <linux/errno.h>: the kernel's error numbers. */
#ifndef _LINUX_ERRNO_H
#define _LINUX_ERRNO_H

#define EPERM 1
#define ENOENT 2
#define EINTR 4
#define EIO 5
#define ENXIO 6
#define E2BIG 7
#define EAGAIN 11
#define ENOMEM 12
#define EACCES 13
#define EFAULT 14
#define EBUSY 16
#define EEXIST 17
#define ENODEV 19
#define EINVAL 22
#define ENOTTY 25
#define ENOSPC 28
#define ERANGE 34
#define ENODATA 61
#define EOVERFLOW 75
#define ENOSYS 38
#define EOPNOTSUPP 95
#define ETIMEDOUT 110
#define EREMOTEIO 121
#define ERESTARTSYS 512
#define EPROBE_DEFER 517

#endif
