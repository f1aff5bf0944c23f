// The NTP shared-memory reference clock segment (unit 0), the layout that
// ntpd's SHM driver defines and chrony's SHM refclock reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "nmeafeed.h"

constexpr int kNtpShmKey = 0x4E545030; // "NTP0"

struct shm_time {
	int32_t mode;
	int32_t count;
	int64_t clockTimeStampSec;
	int32_t clockTimeStampUSec;
	int32_t pad0;
	int64_t receiveTimeStampSec;
	int32_t receiveTimeStampUSec;
	int32_t leap;
	int32_t precision;
	int32_t nsamples;
	int32_t valid;
	uint32_t clockTimeStampNSec;
	uint32_t receiveTimeStampNSec;
	int32_t dummy[8];
	int32_t pad1;
};
static_assert(sizeof(shm_time) == 96);
static_assert(offsetof(shm_time, clockTimeStampSec) == 8);
static_assert(offsetof(shm_time, receiveTimeStampSec) == 24);
static_assert(offsetof(shm_time, leap) == 36);
static_assert(offsetof(shm_time, valid) == 48);
static_assert(offsetof(shm_time, clockTimeStampNSec) == 52);
static_assert(offsetof(shm_time, dummy) == 60);

// The attached segment, null when set-up failed (the feed is then off).
extern volatile shm_time *ntp_shm;

// Gets (creating when absent, mode 0600) and attaches the segment, then
// clears it for mode 1. On failure reports and leaves ntp_shm null.
void ntp_shm_setup();

// Clears a segment to its start state: mode 1, precision -20, nsamples 3.
void shm_clear(volatile shm_time *seg);

// One sample: the stamp's time (UTC) against the system real-time clock now,
// with the leap indicator of ntp_sample_leap (3 while the module says the
// time is not known).
// No effect without a segment, without a stamp or for a stamp not valid.
void shm_feed(const zda_stamp *stamp);

// One sample of sec and nsec (normalised into 0 to 999999999 first) with
// the given leap indicator; no effect without a segment.
void shm_feed_seconds(int64_t sec, int64_t nsec, int32_t leap);

// The mode-1 write of one sample into seg: valid cleared first, count
// raised by 1 before the time fields and by 1 again after them (2 per
// sample), valid set last. leap: 0, or 3 while the appliance does not vouch
// for the time (ntp_leap.h).
void shm_write_sample(volatile shm_time *seg, int64_t clock_sec, int64_t clock_nsec,
                      const timespec &now, int32_t leap = 0);

// Seconds since 1970 of a stamp's date and time taken as UTC, out-of-range
// fields normalised (second 60 is the next minute).
int64_t zda_stamp_seconds(const zda_stamp &stamp);
