// I2C access of the user-space programs.
//
// On the board these are the plain i2c-dev calls: open("/dev/i2c-N"), the
// I2C_SLAVE request, read, write and close on the descriptor. The simulation
// build links another implementation of the same functions that talks to the
// simulated board (simboard) over the Unix socket that stands in for the
// device node, so a program behaves the same with or without real hardware:
// no board means the open fails like a missing /dev/i2c-N, and a transfer to
// an address where no chip answers fails like an unacknowledged transfer.
//
// Callers pass the resolved device path, kx_path("/dev/i2c-0").
#pragma once

#include <sys/types.h>
#include <cstddef>

// Opens the bus for reading and writing; the descriptor, or -1 with errno.
int kx_i2c_open(const char *dev_path);

// Selects the 7-bit device address of the following transfers (I2C_SLAVE).
// 0, or -1 with errno.
int kx_i2c_set_address(int fd, int addr);

// One write transfer of len bytes to the selected device: the byte count, or
// -1 with errno (ENXIO/EREMOTEIO when no device acknowledges).
ssize_t kx_i2c_write(int fd, const void *buf, size_t len);

// One read transfer of len bytes from the selected device: the byte count,
// or -1 with errno.
ssize_t kx_i2c_read(int fd, void *buf, size_t len);

void kx_i2c_close(int fd);
