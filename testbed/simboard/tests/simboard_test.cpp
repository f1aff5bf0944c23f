// The simulation build's hardware access against a running simboard.
#include "kx_i2c.h"
#include "kx_path.h"
#include "simboard_client.h"

#include <gpiod.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <fcntl.h>
#include <string>
#include <vector>
#include <csignal>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class Board : public ::testing::Test {
protected:
	SimBoardRun board;
	void SetUp() override
	{
		ASSERT_TRUE(simboard_start(&board));
	}
	void TearDown() override
	{
		simboard_stop(&board);
	}
	std::string ok(const std::string &cmd)
	{
		std::string rest;
		EXPECT_TRUE(simboard_ok(&board, cmd, &rest)) << cmd;
		return rest;
	}
};

// One line request built the way the programs build theirs.
gpiod_line_request *request_line(unsigned int offset, const char *consumer, bool output,
				 unsigned long debounce_us = 0, int value = 0)
{
	gpiod_chip *chip = gpiod_chip_open(kx_path("/dev/gpiochip0").c_str());
	if (chip == nullptr)
		return nullptr;
	gpiod_line_settings *s = gpiod_line_settings_new();
	if (output) {
		gpiod_line_settings_set_direction(s, GPIOD_LINE_DIRECTION_OUTPUT);
		gpiod_line_settings_set_output_value(s, value ? GPIOD_LINE_VALUE_ACTIVE
							     : GPIOD_LINE_VALUE_INACTIVE);
	} else {
		gpiod_line_settings_set_direction(s, GPIOD_LINE_DIRECTION_INPUT);
		gpiod_line_settings_set_edge_detection(s, GPIOD_LINE_EDGE_FALLING);
		gpiod_line_settings_set_bias(s, GPIOD_LINE_BIAS_PULL_UP);
		gpiod_line_settings_set_debounce_period_us(s, debounce_us);
	}
	gpiod_line_config *lc = gpiod_line_config_new();
	gpiod_line_config_add_line_settings(lc, &offset, 1, s);
	gpiod_request_config *rc = gpiod_request_config_new();
	gpiod_request_config_set_consumer(rc, consumer);
	gpiod_line_request *r = gpiod_chip_request_lines(chip, rc, lc);
	gpiod_request_config_free(rc);
	gpiod_line_config_free(lc);
	gpiod_line_settings_free(s);
	gpiod_chip_close(chip);
	return r;
}

TEST_F(Board, I2cTransfersReachTheLcdAndAreLogged)
{
	int fd = kx_i2c_open(kx_path("/dev/i2c-0").c_str());
	ASSERT_GE(fd, 0);
	ASSERT_EQ(kx_i2c_set_address(fd, 0x3e), 0);
	const unsigned char init[] = {0x00, 0x38};
	EXPECT_EQ(kx_i2c_write(fd, init, 2), 2);
	const unsigned char on[] = {0x00, 0x0c};
	EXPECT_EQ(kx_i2c_write(fd, on, 2), 2);
	const unsigned char ch[] = {0x80, 0x00, 0x40, 'Z'};
	EXPECT_EQ(kx_i2c_write(fd, ch, 4), 4);
	EXPECT_EQ(ok("i2c log 0 0x3e"), "3 w:0038 w:000c w:8000405a");
	EXPECT_EQ(ok("lcd row 0"), "Z                   ");
	kx_i2c_close(fd);
}

TEST_F(Board, AbsentAddressIsNotAcknowledged)
{
	int fd = kx_i2c_open(kx_path("/dev/i2c-0").c_str());
	ASSERT_GE(fd, 0);
	EXPECT_EQ(kx_i2c_set_address(fd, 0x21), 0);  // i2c-dev accepts any address
	unsigned char b[2] = {1, 2};
	errno = 0;
	EXPECT_EQ(kx_i2c_write(fd, b, 2), -1);
	EXPECT_EQ(errno, ENXIO);
	EXPECT_EQ(kx_i2c_read(fd, b, 2), -1);
	EXPECT_EQ(errno, ENXIO);
	EXPECT_EQ(kx_i2c_set_address(fd, 0x80), -1);
	EXPECT_EQ(errno, EINVAL);
	EXPECT_EQ(ok("i2c log 0 0x21"), "2 w!0102 r!");
	kx_i2c_close(fd);
	// Bus 1 has no LCD.
	fd = kx_i2c_open(kx_path("/dev/i2c-1").c_str());
	ASSERT_GE(fd, 0);
	kx_i2c_set_address(fd, 0x3e);
	EXPECT_EQ(kx_i2c_write(fd, b, 1), -1);
	kx_i2c_close(fd);
}

TEST_F(Board, NoBoardMeansNoDevice)
{
	simboard_stop(&board);
	errno = 0;
	EXPECT_EQ(kx_i2c_open(kx_path("/dev/i2c-0").c_str()), -1);
	EXPECT_EQ(errno, ENOENT);
	EXPECT_EQ(gpiod_chip_open(kx_path("/dev/gpiochip0").c_str()), nullptr);
	EXPECT_EQ(request_line(3, "gps_reset", true), nullptr);
}

TEST_F(Board, RequestsHoldLinesWithConsumersUntilReleased)
{
	gpiod_line_request *r = request_line(3, "gps_reset", true, 0, 1);
	ASSERT_NE(r, nullptr);
	EXPECT_EQ(ok("gpio consumer 3"), "gps_reset");
	EXPECT_EQ(ok("gpio get 3"), "1");
	// A second request of a held line fails with EBUSY.
	errno = 0;
	EXPECT_EQ(request_line(3, "other", false), nullptr);
	EXPECT_EQ(errno, EBUSY);
	EXPECT_EQ(gpiod_line_request_set_value(r, 3, GPIOD_LINE_VALUE_INACTIVE), 0);
	EXPECT_EQ(ok("gpio get 3"), "0");
	EXPECT_EQ(gpiod_line_request_get_value(r, 3), GPIOD_LINE_VALUE_INACTIVE);
	// Offsets outside the request are refused.
	EXPECT_EQ(gpiod_line_request_set_value(r, 4, GPIOD_LINE_VALUE_ACTIVE), -1);
	EXPECT_EQ(gpiod_line_request_get_value(r, 4), GPIOD_LINE_VALUE_ERROR);
	gpiod_line_request_release(r);
	EXPECT_EQ(ok("gpio consumer 3"), "-");
	r = request_line(3, "other", false);
	ASSERT_NE(r, nullptr);
	EXPECT_EQ(ok("gpio consumer 3"), "other");
	gpiod_line_request_release(r);
}

TEST_F(Board, ChipInfo)
{
	gpiod_chip *chip = gpiod_chip_open(kx_path("/dev/gpiochip0").c_str());
	ASSERT_NE(chip, nullptr);
	gpiod_chip_info *info = gpiod_chip_get_info(chip);
	ASSERT_NE(info, nullptr);
	EXPECT_STREQ(gpiod_chip_info_get_name(info), "gpiochip0");
	EXPECT_EQ(gpiod_chip_info_get_num_lines(info), 32u);
	gpiod_chip_info_free(info);
	gpiod_chip_close(chip);
	// An I2C socket is not a GPIO chip.
	EXPECT_EQ(gpiod_chip_open(kx_path("/dev/i2c-0").c_str()), nullptr);
}

TEST_F(Board, ButtonGivesDebouncedFallingEdges)
{
	gpiod_line_request *r = request_line(1, "lcd_button", false, 50000);
	ASSERT_NE(r, nullptr);
	EXPECT_EQ(ok("gpio info 1"),
		  "used=1 direction=input edge=falling bias=pull-up active_low=0 debounce_us=50000 level=1");
	EXPECT_EQ(gpiod_line_request_get_value(r, 1), GPIOD_LINE_VALUE_ACTIVE);
	EXPECT_EQ(gpiod_line_request_wait_edge_events(r, 0), 0);
	ok("button press");  // replies once the 50 ms have run out
	EXPECT_EQ(gpiod_line_request_wait_edge_events(r, 0), 1);
	EXPECT_EQ(gpiod_line_request_get_value(r, 1), GPIOD_LINE_VALUE_INACTIVE);
	gpiod_edge_event_buffer *buf = gpiod_edge_event_buffer_new(1);
	ASSERT_EQ(gpiod_line_request_read_edge_events(r, buf, 1), 1);
	gpiod_edge_event *ev = gpiod_edge_event_buffer_get_event(buf, 0);
	ASSERT_NE(ev, nullptr);
	EXPECT_EQ(gpiod_edge_event_get_line_offset(ev), 1u);
	EXPECT_EQ(gpiod_edge_event_get_event_type(ev), GPIOD_EDGE_EVENT_FALLING_EDGE);
	EXPECT_EQ(gpiod_edge_event_get_line_seqno(ev), 1u);
	// The release is a rising edge, which is not asked for.
	ok("button release");
	EXPECT_EQ(gpiod_line_request_wait_edge_events(r, 0), 0);
	EXPECT_EQ(gpiod_line_request_get_value(r, 1), GPIOD_LINE_VALUE_ACTIVE);
	// A non-blocking read with nothing queued fails instead of hanging.
	int fd = gpiod_line_request_get_fd(r);
	fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
	EXPECT_EQ(gpiod_line_request_read_edge_events(r, buf, 1), -1);
	EXPECT_EQ(errno, EAGAIN);
	EXPECT_EQ(ok("gpio events 1"), "1");
	gpiod_edge_event_buffer_free(buf);
	gpiod_line_request_release(r);
}

TEST_F(Board, BounceShorterThanTheDebouncePeriodIsSwallowed)
{
	// A glitch low and back, far shorter than the one-second period
	// however slowly this test runs; the second command answers once the
	// period has run out, so no edge can still be on its way.
	gpiod_line_request *r = request_line(21, "m0", false, 1000000);
	ASSERT_NE(r, nullptr);
	ok("gpio set 21 0 nowait");
	ok("gpio float 21");
	EXPECT_EQ(gpiod_line_request_wait_edge_events(r, 0), 0);
	EXPECT_EQ(ok("gpio events 21"), "0");
	gpiod_line_request_release(r);
}

TEST_F(Board, RequestIsReleasedWhenItsProcessEnds)
{
	pid_t pid = fork();
	if (pid == 0) {
		gpiod_line_request *r = request_line(28, "wp_eeprom", true, 0, 1);
		_exit(r != nullptr ? 0 : 1);  // exits holding the request
	}
	int status = 0;
	waitpid(pid, &status, 0);
	ASSERT_EQ(WEXITSTATUS(status), 0);
	// The board sees the connection close; a round trip orders us after it.
	for (int i = 0; i < 100 && ok("gpio consumer 28") != "-"; i++)
		usleep(10000);
	EXPECT_EQ(ok("gpio consumer 28"), "-");
}

TEST_F(Board, ControlErrors)
{
	EXPECT_EQ(simboard_command(&board, "frobnicate").rfind("err", 0), 0u);
	EXPECT_EQ(simboard_command(&board, "gpio get 32").rfind("err", 0), 0u);
	EXPECT_EQ(simboard_command(&board, "dev 0 0x3e rows").rfind("ok", 0), 0u);
	EXPECT_EQ(simboard_command(&board, "dev 0 0x21 rows"), "err no device");
	EXPECT_NE(ok("i2c devices 0").find("0x3e"), std::string::npos);
	EXPECT_EQ(ok("i2c devices 1").find("0x3e"), std::string::npos);
}

}  // namespace

namespace {

// The LCD model decodes the controller's frames as the real one would.
class LcdModel : public Board {
protected:
	int fd = -1;
	void SetUp() override
	{
		Board::SetUp();
		fd = kx_i2c_open(kx_path("/dev/i2c-0").c_str());
		ASSERT_GE(fd, 0);
		ASSERT_EQ(kx_i2c_set_address(fd, 0x3e), 0);
	}
	void TearDown() override
	{
		kx_i2c_close(fd);
		Board::TearDown();
	}
	void send(std::initializer_list<int> bytes)
	{
		std::vector<unsigned char> b(bytes.begin(), bytes.end());
		ASSERT_EQ(kx_i2c_write(fd, b.data(), b.size()), static_cast<ssize_t>(b.size()));
	}
	void instr(int b)
	{
		send({0x00, b});
	}
	void text(const char *s)
	{
		for (; *s; s++)
			send({0x80, 0x00, 0x40, static_cast<unsigned char>(*s)});
	}
	void init()
	{
		for (int b : {0x38, 0x0c, 0x01, 0x06, 0x02})
			instr(b);
	}
	std::string rows()
	{
		return ok("lcd rows");
	}
};

TEST_F(LcdModel, DisplayOffShowsNothingUntilSwitchedOn)
{
	instr(0x38);
	text("hidden");
	EXPECT_EQ(rows(), "\"                    \" \"                    \"");
	instr(0x0c);
	EXPECT_EQ(ok("lcd row 0"), "hidden              ");
}

TEST_F(LcdModel, SecondRowStartsAt0x40AndFirstRowWrapsIntoIt)
{
	init();
	instr(0xc0);
	text("two");
	instr(0x80 | 38);  // the last two cells of row 0's 40-cell line
	text("abcd");      // wraps to the start of row 1
	EXPECT_EQ(ok("lcd row 1"), "cdo                 ");
	EXPECT_EQ(ok("lcd row 0"), "                    ");  // 38, 39 are off screen
}

// Address handling, each case on a freshly initialised display.
TEST_F(LcdModel, AddressMovesOnRowZero)
{
	struct {
		const char *what;
		std::function<void()> ops;
		const char *row0;
	} cases[] = {
	    {"clear blanks and resets address and direction",
	     [&] { text("xyz"); instr(0x04); instr(0x01); text("ab"); }, "ab                  "},
	    {"home keeps the text and returns the address", [&] { text("hello"); instr(0x02); text("J"); },
	     "Jello               "},
	    {"decrement writes leftwards", [&] { instr(0x80 | 4); instr(0x04); text("abc"); },
	     "  cba               "},
	    {"cursor shift moves the address only",
	     [&] { text("ab"); instr(0x10); text("Z"); instr(0x14); text("q"); }, "aZ q                "},
	    {"character generator writes leave the display alone",
	     [&] { text("keep"); instr(0x40); text("\x1f\x11\x11\x1f"); instr(0x80 | 4); text("!"); },
	     "keep!               "},
	};
	for (const auto &c : cases) {
		init();
		c.ops();
		EXPECT_EQ(ok("lcd row 0"), c.row0) << c.what;
	}
}

TEST_F(LcdModel, AutoscrollShiftsTheWindow)
{
	init();
	instr(0x80 | 20);
	instr(0x07);  // increment and shift
	text("XY");
	EXPECT_EQ(ok("lcd row 0"), "                  XY");
	instr(0x18);  // display shift left once more
	EXPECT_EQ(ok("lcd row 0"), "                 XY ");
	instr(0x1c);  // and right again
	EXPECT_EQ(ok("lcd row 0"), "                  XY");
	instr(0x1c);
	instr(0x1c);  // the window is back at 0: both off screen
	EXPECT_EQ(ok("lcd row 0"), "                    ");
}

TEST_F(LcdModel, ControlByteWithoutContinuationCarriesManyDataBytes)
{
	init();
	send({0x40, 'm', 'u', 'l', 't', 'i'});
	send({0x00, 0xc0, 0x0c});  // two instructions in one frame
	send({0x80, 0xc2, 0x40, 'x'});
	EXPECT_EQ(rows(), "\"multi               \" \"  x                 \"");
}

TEST_F(LcdModel, NonPrintableCodesAreEscaped)
{
	init();
	send({0x40, 0xdf, '\\', '"', 0x00});
	EXPECT_EQ(ok("lcd row 0"), "\\xdf\\\\\\x22\\x00                ");
	EXPECT_EQ(simboard_unescape(ok("lcd row 0")), std::string("\xdf\\\"\0", 4) + std::string(16, ' '));
}

TEST_F(LcdModel, OneLineModeUsesEightyCells)
{
	instr(0x30);
	instr(0x0c);
	instr(0x01);
	text("single");
	EXPECT_EQ(rows(), "\"single              \" \"                    \"");
}

TEST_F(LcdModel, StateReportsTheControlBits)
{
	init();
	instr(0x0f);
	instr(0x05);
	std::string state = ok("lcd state");
	EXPECT_EQ(state.substr(0, state.find(" early=")),
		  "display=1 cursor=1 blink=1 increment=0 shift=1 two_line=1 eight_bit=1 address=0x00 "
		  "display_shift=0 instructions=7 characters=0");
}

TEST_F(LcdModel, CountsTransfersThatDoNotWaitForClearOrHome)
{
	instr(0x01);
	usleep(2000);
	text("a");
	instr(0x02);
	usleep(2000);
	text("b");
	EXPECT_NE(ok("lcd state").find(" early=0"), std::string::npos);
	// At once: the controller would still be busy. A test descheduled for
	// the whole 1.52 ms between the two transfers would miss it, so it
	// tries a few times.
	bool early = false;
	for (int i = 0; i < 20 && !early; i++) {
		instr(0x01);
		text("c");
		early = ok("lcd state").find(" early=0") == std::string::npos;
	}
	EXPECT_TRUE(early);
}

TEST_F(LcdModel, TwoClientsShareOneDisplay)
{
	init();
	int other = kx_i2c_open(kx_path("/dev/i2c-0").c_str());
	ASSERT_GE(other, 0);
	ASSERT_EQ(kx_i2c_set_address(other, 0x3e), 0);
	const unsigned char go_row1[] = {0x00, 0xc0};
	const unsigned char ch[] = {0x80, 0x00, 0x40, 'B'};
	kx_i2c_write(other, go_row1, 2);
	kx_i2c_write(other, ch, 4);
	kx_i2c_close(other);
	text("A");  // continues where the other client left the address
	EXPECT_EQ(ok("lcd row 1"), "BA                  ");
}

}  // namespace

namespace {

TEST_F(Board, CommandsBehindAHeldReplyWaitForIt)
{
	gpiod_line_request *r = request_line(1, "lcd_button", false, 50000);
	ASSERT_NE(r, nullptr);
	// Two commands in one go: the event count is taken only after the
	// press's debounce period has run out.
	EXPECT_EQ(simboard_command(&board, "button press\ngpio events 1"), "ok");
	EXPECT_EQ(simboard_command(&board, "ping"), "ok 1");  // the second reply
	EXPECT_EQ(simboard_command(&board, "gpio get 1"), "ok");  // ping's reply
	EXPECT_EQ(simboard_command(&board, "ping"), "ok 0");
	gpiod_line_request_release(r);
}

}  // namespace

namespace {

void on_alarm(int)
{
}

// panelmon's 100 ms tick signal is installed without SA_RESTART; calls into
// the simulated board must survive being interrupted.
TEST_F(Board, TransfersSurviveASignalStorm)
{
	struct sigaction sa{};
	sa.sa_handler = on_alarm;  // no SA_RESTART
	struct sigaction old{};
	sigaction(SIGALRM, &sa, &old);
	itimerval fast{{0, 200}, {0, 200}};
	setitimer(ITIMER_REAL, &fast, nullptr);
	int fd = kx_i2c_open(kx_path("/dev/i2c-0").c_str());
	ASSERT_GE(fd, 0);
	kx_i2c_set_address(fd, 0x3e);
	gpiod_line_request *r = request_line(1, "lcd_button", false, 50000);
	ASSERT_NE(r, nullptr);
	int failures = 0;
	const unsigned char ch[] = {0x80, 0x00, 0x40, 'x'};
	for (int i = 0; i < 2000; i++) {
		if (kx_i2c_write(fd, ch, sizeof ch) != 4)
			failures++;
		if (gpiod_line_request_get_value(r, 1) != GPIOD_LINE_VALUE_ACTIVE)
			failures++;
	}
	itimerval off{};
	setitimer(ITIMER_REAL, &off, nullptr);
	sigaction(SIGALRM, &old, nullptr);
	EXPECT_EQ(failures, 0);
	EXPECT_EQ(ok("i2c log 0 0x3e").substr(0, 5), "2000 ");
	gpiod_line_request_release(r);
	kx_i2c_close(fd);
}

}  // namespace
