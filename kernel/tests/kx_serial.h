/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The GPS serial half on the host layer: the NMEA line queue and its
 * device, the serial driver registered and bound to a simulated receiver
 * UART, and the receiver's sentences for a given UTC second.
 */
#ifndef KX_SERIAL_H
#define KX_SERIAL_H

#include <linux/fs.h>
#include <linux/serdev.h>
#include <linux/workqueue.h>
#include <kxhost.h>
#include "kx_pps.h"

/* 2026-12-06 12:34:56 UTC */
#define SX_T0 1796560496LL

extern struct serdev_device *sx_uart;

/* line queue, device and driver up, no UART yet */
void sx_module(void);
/* a receiver UART on the bus: speed 0 = no "current-speed", flow = "hw-flow-control" */
struct serdev_device *sx_add_uart(u32 speed, bool flow);
/* sx_module() and a bound UART at 9600 without flow control, its writes cleared */
void sx_bound(void);
/* bytes from the receiver, then the receive worker runs */
void sx_feed(const void *data, size_t len);
void sx_feeds(const char *text);
/* hhmmss, dd, mm, yyyy of a UTC second */
void sx_utc(s64 sec, char *hhmmss, int *day, int *mon, int *year);
/* XOR of the characters of a sentence body (between "$" and "*") */
unsigned int sx_checksum(const char *body);
/* "$<body>*HH" into out, with the body's checksum */
char *sx_sentence(char *out, size_t size, const char *body);
/* "$GPGGA,<hhmmss>.000,...,<fix>,..." for second sec, checksummed, CR LF ended */
void sx_gga(s64 sec, int fix);
/* "$GPZDA,<hhmmss>.000,dd,mm,yyyy,00,00*..." for second sec */
void sx_zda(s64 sec);
/* GGA with `fix` and ZDA, both for second sec */
void sx_second(s64 sec, int fix);
/* the same bytes received by the UART, the receive work queued, not run */
void sx_receive_second(s64 sec, int fix);
/* the whole queue read through a non-blocking open of /dev/kx_pps; bytes */
size_t sx_drain(char *buf, size_t size);
/* a write with exactly this text reached the UART, times */
unsigned int sx_sent(const char *text);

#endif
