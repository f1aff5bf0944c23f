// ptppin's requests, captured at the device seam: which calls it makes, in
// which order, and the exact bytes of each record.
#include "ptppin.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct ptp_call {
	std::string op; // "open", "ioctl", "close"
	std::string path;
	int fd = -1;
	unsigned long request = 0;
	std::vector<unsigned char> record;
};

std::vector<ptp_call> calls;
int fail_open_errno;             // 0: open succeeds
unsigned long fail_request;      // ioctl request that fails with fail_errno
int fail_errno;
constexpr int fake_fd = 42;

int run(std::vector<const char *> args)
{
	std::vector<char *> argv;
	for (const char *a : args)
		argv.push_back(const_cast<char *>(a));
	argv.push_back(nullptr);
	return ptppin_run(static_cast<int>(args.size()), argv.data());
}

class PtppinTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		calls.clear();
		fail_open_errno = 0;
		fail_request = 0;
		fail_errno = 0;
	}
};

std::vector<unsigned char> bytes_of(const void *p, size_t n)
{
	const auto *b = static_cast<const unsigned char *>(p);
	return {b, b + n};
}

// The 96-byte pin record as the kernel reads it: 64 zero name bytes, then
// index, func, chan and five reserved words, little-endian on this host.
std::vector<unsigned char> pin_record(uint32_t index, uint32_t chan)
{
	std::vector<unsigned char> r(96, 0);
	uint32_t words[3] = {index, 1, chan};
	std::memcpy(&r[64], words, sizeof(words));
	return r;
}

std::vector<unsigned char> extts_record(uint32_t chan, uint32_t flags)
{
	std::vector<unsigned char> r(16, 0);
	uint32_t words[2] = {chan, flags};
	std::memcpy(&r[0], words, sizeof(words));
	return r;
}

} // namespace

int ptp_open(const char *path)
{
	ptp_call c;
	c.op = "open";
	c.path = path;
	calls.push_back(c);
	if (fail_open_errno != 0) {
		errno = fail_open_errno;
		return -1;
	}
	return fake_fd;
}

int ptp_ioctl(int fd, unsigned long request, void *arg)
{
	ptp_call c;
	c.op = "ioctl";
	c.fd = fd;
	c.request = request;
	if (request == 0x40603D07)
		c.record = bytes_of(arg, 96);
	else if (request == 0x40103D02)
		c.record = bytes_of(arg, 16);
	calls.push_back(c);
	if (request == fail_request) {
		errno = fail_errno;
		return -1;
	}
	return 0;
}

int ptp_close(int fd)
{
	ptp_call c;
	c.op = "close";
	c.fd = fd;
	calls.push_back(c);
	return 0;
}

TEST_F(PtppinTest, EnableRoutesPinThenSwitchesRisingEdgeStampsOn)
{
	testing::internal::CaptureStderr();
	EXPECT_EQ(run({"ptppin", "/dev/ptp1", "3", "2", "enable"}), 0);
	EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
	ASSERT_EQ(calls.size(), 4u);
	EXPECT_EQ(calls[0].op, "open");
	EXPECT_EQ(calls[0].path, "/dev/ptp1");
	EXPECT_EQ(calls[1].op, "ioctl");
	EXPECT_EQ(calls[1].fd, fake_fd);
	EXPECT_EQ(calls[1].request, 0x40603D07ul);
	EXPECT_EQ(calls[1].record, pin_record(3, 2));
	EXPECT_EQ(calls[2].op, "ioctl");
	EXPECT_EQ(calls[2].request, 0x40103D02ul);
	EXPECT_EQ(calls[2].record, extts_record(2, 0xB));
	EXPECT_EQ(calls[3].op, "close");
	EXPECT_EQ(calls[3].fd, fake_fd);
}

TEST_F(PtppinTest, DisableStillRoutesPinAndSwitchesStampsOff)
{
	EXPECT_EQ(run({"ptppin", "/dev/ptp0", "1", "0", "disable"}), 0);
	ASSERT_EQ(calls.size(), 4u);
	EXPECT_EQ(calls[1].request, 0x40603D07ul);
	EXPECT_EQ(calls[1].record, pin_record(1, 0));
	EXPECT_EQ(calls[2].request, 0x40103D02ul);
	EXPECT_EQ(calls[2].record, extts_record(0, 0));
	EXPECT_EQ(calls[3].op, "close");
}

TEST_F(PtppinTest, NonNumericArgumentsAreZero)
{
	EXPECT_EQ(run({"ptppin", "/dev/ptp0", "pin", "x7", "enable"}), 0);
	ASSERT_EQ(calls.size(), 4u);
	EXPECT_EQ(calls[1].record, pin_record(0, 0));
	EXPECT_EQ(calls[2].record, extts_record(0, 0xB));
}

TEST_F(PtppinTest, LeadingDigitsAreTaken)
{
	EXPECT_EQ(run({"ptppin", "/dev/ptp0", "12abc", " 4", "enable"}), 0);
	ASSERT_EQ(calls.size(), 4u);
	EXPECT_EQ(calls[1].record, pin_record(12, 4));
	EXPECT_EQ(calls[2].record, extts_record(4, 0xB));
}

TEST_F(PtppinTest, WrongArgumentsNeverOpenTheDevice)
{
	using args = std::vector<const char *>;
	std::vector<args> cases = {{"ptppin"},
	                           {"ptppin", "/dev/ptp0", "1", "2"},
	                           {"ptppin", "/dev/ptp0", "1", "2", "enable", "x"}};
	for (const char *word : {"Enable", "DISABLE", "on", "", "enable "})  // exact words only
		cases.push_back({"./ptppin", "/dev/ptp0", "1", "2", word});
	for (const args &a : cases) {
		testing::internal::CaptureStderr();
		EXPECT_EQ(run(a), 1) << a.size() << " " << a.back();
		EXPECT_EQ(testing::internal::GetCapturedStderr(),
			  std::string("Usage: ") + a[0] +
			      " /dev/ptpX <pin_index> <channel> <enable|disable>\n");
	}
	EXPECT_TRUE(calls.empty());
}

TEST_F(PtppinTest, OpenFailureReported)
{
	fail_open_errno = EACCES;
	testing::internal::CaptureStderr();
	EXPECT_EQ(run({"ptppin", "/dev/ptp9", "1", "2", "enable"}), 1);
	EXPECT_EQ(testing::internal::GetCapturedStderr(),
		  std::string("open: ") + std::strerror(EACCES) + "\n");
	ASSERT_EQ(calls.size(), 1u);
	EXPECT_EQ(calls[0].op, "open");
}

// A refused request: its message, then the device is closed at once (a
// refused pin function sends no stamp request).
TEST_F(PtppinTest, RefusedRequestClosesAndFails)
{
	struct {
		unsigned long request;
		int err;
		const char *word, *name;
		size_t close_at;
	} cases[] = {{0x40603D07, EOPNOTSUPP, "enable", "PTP_PIN_SETFUNC: ", 2},
	             {0x40103D02, EINVAL, "disable", "PTP_EXTTS_REQUEST: ", 3}};
	for (const auto &c : cases) {
		calls.clear();
		fail_request = c.request;
		fail_errno = c.err;
		testing::internal::CaptureStderr();
		EXPECT_EQ(run({"ptppin", "/dev/ptp0", "1", "2", c.word}), 1);
		EXPECT_EQ(testing::internal::GetCapturedStderr(), c.name + std::string(std::strerror(c.err)) + "\n");
		ASSERT_EQ(calls.size(), c.close_at + 1) << c.name;
		EXPECT_EQ(calls[c.close_at - 1].request, c.request);
		EXPECT_EQ(calls[c.close_at].op, "close");
	}
}
