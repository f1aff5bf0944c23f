/* SPDX-License-Identifier: GPL-2.0 */
/* Host stand-in for <linux/fcntl.h>: the open flags (asm-generic values). */
#ifndef _LINUX_FCNTL_H
#define _LINUX_FCNTL_H

#define O_ACCMODE 00000003
#define O_RDONLY 00000000
#define O_WRONLY 00000001
#define O_RDWR 00000002
#define O_NONBLOCK 00004000

#endif
