// ptppin: routes a pin of a PTP hardware clock (the LAN8841 PHYs' clocks on
// this board) to the external time-stamp function and switches time-stamping
// on that channel on or off.
#pragma once

#include <linux/ptp_clock.h>

// The PTP clock device calls the tool makes. The program links the real
// system calls (ptp_dev.cpp); the unit tests link a recording set.
int ptp_open(const char *path);
int ptp_ioctl(int fd, unsigned long request, void *arg);
int ptp_close(int fd);

// The pin function request: pin `index` to external time stamp on `chan`.
ptp_pin_desc ptppin_pin_request(unsigned int index, unsigned int chan);

// The time-stamp request for `chan`: rising edges when enabling, off
// otherwise.
ptp_extts_request ptppin_extts_request(unsigned int chan, bool enable);

// The whole tool; returns the exit status (0 or 1).
int ptppin_run(int argc, char **argv);
