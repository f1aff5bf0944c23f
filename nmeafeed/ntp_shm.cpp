// NTP shared-memory feed: one sample per ZDA line, pairing the receiver's
// time with the system clock at the moment the line was handled. The NTP
// daemon reads the segment from another process by the mode-1 protocol.
#include "ntp_shm.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

volatile shm_time *ntp_shm = nullptr;

void shm_clear(volatile shm_time *seg)
{
	auto *bytes = reinterpret_cast<volatile unsigned char *>(seg);
	for (size_t i = 0; i < sizeof(shm_time); i++)
		bytes[i] = 0;
	seg->mode = 1;
	seg->leap = 0;
	seg->precision = -20; // 2^-20 s, about a microsecond
	seg->nsamples = 3;
	seg->valid = 0;
}

void ntp_shm_setup()
{
	int id = shmget(kNtpShmKey, sizeof(shm_time), IPC_CREAT | 0600);
	if (id == -1) {
		fprintf(stderr, "shmget failed: %s\n", strerror(errno));
		printf("Error initializing ntpshm!!!\n");
		ntp_shm = nullptr;
		return;
	}
	void *p = shmat(id, nullptr, 0);
	if (p == reinterpret_cast<void *>(-1)) {
		fprintf(stderr, "shmat failed: %s\n", strerror(errno));
		ntp_shm = nullptr;
		printf("Error initializing ntpshm!!!\n");
		return;
	}
	ntp_shm = static_cast<volatile shm_time *>(p);
	shm_clear(ntp_shm);
}

int64_t zda_stamp_seconds(const zda_stamp &stamp)
{
	tm t{};
	t.tm_year = stamp.year - 1900;
	t.tm_mon = stamp.month - 1;
	t.tm_mday = stamp.day;
	t.tm_hour = stamp.hour;
	t.tm_min = stamp.minute;
	t.tm_sec = stamp.second;
	t.tm_isdst = 0;
	return static_cast<int64_t>(timegm(&t));
}

void shm_write_sample(volatile shm_time *seg, int64_t clock_sec, int64_t clock_nsec,
                      const timespec &now)
{
	seg->valid = 0;
	// Wraps after 2^32 samples instead of overflowing.
	seg->count = static_cast<int32_t>(static_cast<uint32_t>(seg->count) + 1u);
	seg->clockTimeStampSec = clock_sec;
	seg->clockTimeStampUSec = static_cast<int32_t>(clock_nsec / 1000);
	seg->clockTimeStampNSec = static_cast<uint32_t>(clock_nsec);
	seg->receiveTimeStampSec = now.tv_sec;
	seg->receiveTimeStampUSec = static_cast<int32_t>(now.tv_nsec / 1000);
	seg->receiveTimeStampNSec = static_cast<uint32_t>(now.tv_nsec);
	seg->leap = 0;
	seg->valid = 1;
}

void shm_feed(const zda_stamp *stamp)
{
	if (ntp_shm == nullptr || stamp == nullptr || stamp->valid == 0)
		return;
	timespec now{};
	clock_gettime(CLOCK_REALTIME, &now);

	int64_t sec = zda_stamp_seconds(*stamp);
	int64_t nsec = stamp->nanoseconds;
	if (nsec < 0) {
		sec -= 1;
		nsec += 1000000000;
	} else if (nsec >= 1000000000) {
		sec += nsec / 1000000000;
		nsec %= 1000000000;
	}
	shm_write_sample(ntp_shm, sec, nsec, now);
}
