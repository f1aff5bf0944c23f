// NTP shared-memory feed: one sample per ZDA line, pairing the receiver's
// time with the system clock at the moment the line was handled. The NTP
// daemon reads the segment from another process by the mode-1 protocol.
#include "ntp_shm.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ntp_leap.h"

volatile shm_time *ntp_shm = nullptr;

namespace {

// Stores and loads of the fields another process reads while we write.
// Relaxed unless stated: the fence and the release stores order them.
template <typename T> void put(volatile T *field, T value)
{
	__atomic_store_n(field, value, __ATOMIC_RELAXED);
}

} // namespace

void shm_clear(volatile shm_time *seg)
{
	// A restarted daemon finds the segment as the last one left it, maybe
	// with a reader polling it: the sample is withdrawn before it is wiped.
	put(&seg->valid, 0);
	__atomic_thread_fence(__ATOMIC_RELEASE);
	auto *bytes = reinterpret_cast<volatile unsigned char *>(seg);
	for (size_t i = 0; i < sizeof(shm_time); i++)
		put(&bytes[i], static_cast<unsigned char>(0));
	put(&seg->mode, 1);
	put(&seg->leap, 0);
	put(&seg->precision, -20); // 2^-20 s, about a microsecond
	put(&seg->nsamples, 3);
	__atomic_store_n(&seg->valid, 0, __ATOMIC_RELEASE);
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
                      const timespec &now, int32_t leap)
{
	// Mode-1 readers, in another process and maybe on another core, take a
	// sample only when count is the same before and after their copy of the
	// fields and valid is 1. Some (chronyd) take count as part of one copy of
	// the whole record and compare it with the segment's afterwards, so a
	// count raised only before the fields would let a copy that took the
	// new count but an old field pass. count is raised on both sides of the
	// fields (it rises by 2 per sample), and valid is 0 for the whole time
	// in between: a reader whose copy overlaps a field store finds count
	// changed or valid 0.
	//
	// Each step must be visible before the next: valid cleared before count
	// is raised (release store), count before any field (release fence),
	// every field before count is raised again, count before valid is set
	// (release stores). Plain stores give none of this on the board's arm64
	// cores. count wraps after 2^32 instead of overflowing.
	put(&seg->valid, 0);
	auto count = static_cast<uint32_t>(__atomic_load_n(&seg->count, __ATOMIC_RELAXED));
	__atomic_store_n(&seg->count, static_cast<int32_t>(count + 1u), __ATOMIC_RELEASE);
	__atomic_thread_fence(__ATOMIC_RELEASE);
	put(&seg->clockTimeStampSec, clock_sec);
	put(&seg->clockTimeStampUSec, static_cast<int32_t>(clock_nsec / 1000));
	put(&seg->clockTimeStampNSec, static_cast<uint32_t>(clock_nsec));
	put(&seg->receiveTimeStampSec, static_cast<int64_t>(now.tv_sec));
	put(&seg->receiveTimeStampUSec, static_cast<int32_t>(now.tv_nsec / 1000));
	put(&seg->receiveTimeStampNSec, static_cast<uint32_t>(now.tv_nsec));
	put(&seg->leap, leap);
	__atomic_store_n(&seg->count, static_cast<int32_t>(count + 2u), __ATOMIC_RELEASE);
	__atomic_store_n(&seg->valid, 1, __ATOMIC_RELEASE);
}

void shm_feed(const zda_stamp *stamp)
{
	if (ntp_shm == nullptr || stamp == nullptr || stamp->valid == 0)
		return;
	shm_feed_seconds(zda_stamp_seconds(*stamp), stamp->nanoseconds, ntp_sample_leap());
}

void shm_feed_seconds(int64_t sec, int64_t nsec, int32_t leap)
{
	if (ntp_shm == nullptr)
		return;
	timespec now{};
	clock_gettime(CLOCK_REALTIME, &now);
	if (nsec < 0) {
		sec -= 1;
		nsec += 1000000000;
	} else if (nsec >= 1000000000) {
		sec += nsec / 1000000000;
		nsec %= 1000000000;
	}
	shm_write_sample(ntp_shm, sec, nsec, now, leap);
}
