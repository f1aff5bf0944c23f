// Serial set-up of and writes to the GPS receiver. In the appliance the
// kernel module owns the receiver's UART, so the daemon's main flow does not
// use these; they serve bring-up on a directly attached receiver.
#pragma once

#include <cstddef>

// Raw 8N1 at 9600 or 115200 bps (any other speed keeps the port's speed),
// pending data discarded. 0 or -1 (after a message).
int configure_serial(int fd, int speed);

// One write; 0 when it moved at least one byte, else -1 (after a message).
int write_to_receiver(int fd, const void *data, size_t length);
