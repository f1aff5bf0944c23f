/* SPDX-License-Identifier: GPL-2.0 */
/* The host layer stands for the board's kernel, 6.6. */
#ifndef _LINUX_VERSION_H
#define _LINUX_VERSION_H

#define KERNEL_VERSION(a, b, c) (((a) << 16) + ((b) << 8) + ((c) > 255 ? 255 : (c)))
#define LINUX_VERSION_CODE KERNEL_VERSION(6, 6, 0)

#endif
