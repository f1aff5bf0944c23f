// Serial set-up of the receiver port (on a pseudo-terminal) and writes.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "receiver_serial.h"
#include "test_sentences.h"

namespace {

class PtyTest : public testing::Test {
protected:
	void SetUp() override
	{
		master_ = posix_openpt(O_RDWR | O_NOCTTY);
		ASSERT_GE(master_, 0);
		ASSERT_EQ(grantpt(master_), 0);
		ASSERT_EQ(unlockpt(master_), 0);
		slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
		ASSERT_GE(slave_, 0);
		// Start from a cooked 7E2 port at 4800 bps with echo.
		termios t{};
		ASSERT_EQ(tcgetattr(slave_, &t), 0);
		t.c_cflag = (t.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB;
		t.c_lflag |= ICANON | ECHO | ISIG;
		t.c_iflag |= ICRNL;
		t.c_oflag |= OPOST;
		cfsetispeed(&t, B4800);
		cfsetospeed(&t, B4800);
		ASSERT_EQ(tcsetattr(slave_, TCSANOW, &t), 0);
	}
	void TearDown() override
	{
		close(slave_);
		close(master_);
	}
	termios attrs() const
	{
		termios t{};
		EXPECT_EQ(tcgetattr(slave_, &t), 0);
		return t;
	}
	static void expect_raw_8n1(const termios &t)
	{
		EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
		EXPECT_EQ(t.c_cflag & PARENB, 0u);
		EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
		EXPECT_NE(t.c_cflag & CREAD, 0u);
		EXPECT_NE(t.c_cflag & CLOCAL, 0u);
		EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
		EXPECT_EQ(t.c_iflag & ICRNL, 0u);
		EXPECT_EQ(t.c_oflag & OPOST, 0u);
	}
	int master_ = -1;
	int slave_ = -1;
};

TEST_F(PtyTest, OtherSpeedKeepsTheSpeedButMakesThePortRaw)
{
	// Input waiting on the port is discarded.
	ASSERT_EQ(write(master_, "stale", 5), 5);
	std::string out = captured([&] { EXPECT_EQ(configure_serial(slave_, 4800), 0); });
	EXPECT_EQ(out, "");
	termios t = attrs();
	expect_raw_8n1(t);
	EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B4800));
	EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B4800));
	int flags = fcntl(slave_, F_GETFL);
	fcntl(slave_, F_SETFL, flags | O_NONBLOCK);
	char buf[8];
	EXPECT_EQ(read(slave_, buf, sizeof buf), -1) << "pending input was flushed";
}

TEST_F(PtyTest, ReceiverSpeeds)
{
	ASSERT_EQ(configure_serial(slave_, 9600), 0);
	termios t = attrs();
	expect_raw_8n1(t);
	EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
	ASSERT_EQ(configure_serial(slave_, 115200), 0);
	t = attrs();
	EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B115200));
	EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
}

TEST(ReceiverSerial, NotATerminal)
{
	int p[2];
	ASSERT_EQ(pipe(p), 0);
	std::string out = captured([&] { EXPECT_EQ(configure_serial(p[0], 9600), -1); });
	EXPECT_EQ(out, "Failed to get serial port attribute handle\n");
	close(p[0]);
	close(p[1]);
}

TEST(ReceiverSerial, Writes)
{
	int p[2];
	ASSERT_EQ(pipe(p), 0);
	const char cmd[] = "$PMTK101*32\r\n";
	EXPECT_EQ(write_to_receiver(p[1], cmd, sizeof cmd - 1), 0);
	char buf[32] = {};
	EXPECT_EQ(read(p[0], buf, sizeof buf), static_cast<ssize_t>(sizeof cmd - 1));
	EXPECT_STREQ(buf, cmd);
	std::string out = captured([&] { EXPECT_EQ(write_to_receiver(p[1], cmd, 0), -1); });
	EXPECT_EQ(out, "Error writing to gps module\n") << "nothing moved";
	close(p[1]);
	close(p[0]);
	out = captured([&] { EXPECT_EQ(write_to_receiver(-1, cmd, 3), -1); });
	EXPECT_EQ(out, "Error writing to gps module\n") << "bad descriptor";
}

} // namespace
