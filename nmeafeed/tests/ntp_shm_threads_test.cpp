// The NTP segment written by one thread and read by another under the
// mode-1 protocol, in the two orders NTP daemons read it: every sample the
// reader accepts must be one whole sample, never fields of two.
#include <atomic>
#include <cstdio>
#include <thread>

#include <gtest/gtest.h>

#include "ntp_shm.h"

namespace {

constexpr int kSamples = 1000000;
constexpr int64_t kBase = 1796688000;

// Every field of sample i is derived from i.
void write_sample(shm_time *seg, int i)
{
	timespec now{kBase + 3 * i, (i * 7919L) % 1000000000};
	shm_write_sample(seg, kBase + i, (i * 104729L) % 1000000000, now);
}

template <typename T> T load(const T *field)
{
	return __atomic_load_n(field, __ATOMIC_RELAXED);
}

struct copy {
	int32_t count;
	int64_t clock_sec;
	int32_t clock_usec;
	uint32_t clock_nsec;
	int64_t recv_sec;
	int32_t recv_usec;
	uint32_t recv_nsec;
};

// The reader's side of mode 1 as ntpd reads it: count, valid, the fields,
// count again.
bool read_sample(const shm_time *seg, copy *c)
{
	int32_t count = __atomic_load_n(&seg->count, __ATOMIC_ACQUIRE);
	int32_t valid = __atomic_load_n(&seg->valid, __ATOMIC_ACQUIRE);
	c->clock_sec = load(&seg->clockTimeStampSec);
	c->clock_usec = load(&seg->clockTimeStampUSec);
	c->clock_nsec = load(&seg->clockTimeStampNSec);
	// A reader may be held up in the middle of its copy.
	for (int spin = 0; spin < 64; spin++)
		__asm__ __volatile__("" ::: "memory");
	c->recv_sec = load(&seg->receiveTimeStampSec);
	c->recv_usec = load(&seg->receiveTimeStampUSec);
	c->recv_nsec = load(&seg->receiveTimeStampNSec);
	__atomic_thread_fence(__ATOMIC_ACQUIRE);
	c->count = count;
	return valid == 1 && load(&seg->count) == count;
}

// As chronyd reads it: one copy of the record in address order (count,
// the fields, valid among them), then the copy's count compared with the
// segment's, then the copy's valid.
bool copy_sample(const shm_time *seg, copy *c)
{
	c->count = __atomic_load_n(&seg->count, __ATOMIC_ACQUIRE);
	c->clock_sec = load(&seg->clockTimeStampSec);
	c->clock_usec = load(&seg->clockTimeStampUSec);
	for (int spin = 0; spin < 64; spin++)
		__asm__ __volatile__("" ::: "memory");
	c->recv_sec = load(&seg->receiveTimeStampSec);
	c->recv_usec = load(&seg->receiveTimeStampUSec);
	int32_t valid = load(&seg->valid);
	c->clock_nsec = load(&seg->clockTimeStampNSec);
	c->recv_nsec = load(&seg->receiveTimeStampNSec);
	__atomic_thread_fence(__ATOMIC_ACQUIRE);
	return load(&seg->count) == c->count && valid == 1;
}

// The sample's number is half its count (the writer starts from a cleared
// segment and raises count by 2 per sample), and every field must belong
// to it.
::testing::AssertionResult whole(const copy &c)
{
	int i = c.count / 2;
	long clock_nsec = (i * 104729L) % 1000000000;
	long recv_nsec = (i * 7919L) % 1000000000;
	if (c.count % 2 == 0 && c.clock_sec == kBase + i && c.clock_nsec == clock_nsec &&
	    c.clock_usec == clock_nsec / 1000 && c.recv_sec == kBase + 3 * i &&
	    c.recv_nsec == recv_nsec && c.recv_usec == recv_nsec / 1000)
		return ::testing::AssertionSuccess();
	return ::testing::AssertionFailure()
	       << "count " << c.count << ": clock " << c.clock_sec - kBase << " s " << c.clock_nsec
	       << " ns, receive " << c.recv_sec - kBase << " s " << c.recv_nsec << " ns";
}

TEST(ShmThreads, ReaderAcceptsOnlyWholeSamples)
{
	static shm_time seg;
	shm_clear(&seg);
	std::atomic<bool> ready{false}, done{false};
	long accepted = 0, torn = 0;
	copy first_torn{};

	std::thread reader([&] {
		copy c;
		bool chrony_order = false;
		ready.store(true);
		while (!done.load(std::memory_order_acquire)) {
			chrony_order = !chrony_order;
			if (!(chrony_order ? copy_sample(&seg, &c) : read_sample(&seg, &c)) ||
			    c.count == 0)
				continue;
			accepted++;
			if (!whole(c) && torn++ == 0)
				first_torn = c;
		}
	});
	while (!ready.load()) {
	}
	for (int i = 1; i <= kSamples; i++)
		write_sample(&seg, i);
	done.store(true, std::memory_order_release);
	reader.join();

	EXPECT_EQ(torn, 0) << whole(first_torn).message();
	copy last;
	ASSERT_TRUE(read_sample(&seg, &last));
	EXPECT_EQ(last.count, 2 * kSamples);
	EXPECT_TRUE(whole(last));
	RecordProperty("accepted", static_cast<int>(accepted));
	std::printf("%ld samples accepted while writing\n", accepted);
}

} // namespace
