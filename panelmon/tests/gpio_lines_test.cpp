// The front panel's lines and the button's page and reset state machine,
// tick by tick through the simulated board's GPIO chip.
#include "gpio_lines.h"
#include "kx_path.h"
#include "simboard_client.h"

#include <gpiod.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

class PanelGpio : public ::testing::Test {
protected:
	SimBoardRun board;
	char line1[21] = "", line2[21] = "";
	std::string setup_output;

	void SetUp() override
	{
		ASSERT_TRUE(simboard_start(&board));
	}
	void TearDown() override
	{
		gpio_teardown();
		simboard_stop(&board);
	}
	void setup_lines()
	{
		testing::internal::CaptureStdout();
		int r = gpio_setup();
		setup_output = testing::internal::GetCapturedStdout();
		ASSERT_EQ(r, 0) << setup_output;
	}
	std::string ok(const std::string &cmd)
	{
		std::string rest;
		EXPECT_TRUE(simboard_ok(&board, cmd, &rest)) << cmd;
		return rest;
	}
	// The button part of one pass of the daemon's loop.
	void tick()
	{
		if (poll_button_edge() == static_cast<int>(BUTTON_LINE))
			advance_page();
		if (page >= 99)
			render_reset_step(line1, line2);
		if (page <= 98)
			detect_hold();
	}
	void ticks(int n)
	{
		for (int i = 0; i < n; i++)
			tick();
	}
	// The board answers once the 50 ms debounce has run out and the edge
	// is queued, so the next tick sees it.
	void press()
	{
		ok("button press");
	}
	void release()
	{
		ok("button release");
	}
	void click()
	{
		press();
		tick();
		release();
		tick();
	}
	std::string rows() const
	{
		return std::string(line1) + "|" + line2;
	}
	std::string write_script(const char *body)
	{
		std::string dir = kx_path("/root");
		mkdir(dir.c_str(), 0755);
		std::string path = dir + "/resetparms.sh";
		std::ofstream(path) << "#!/bin/sh\n" << body;
		chmod(path.c_str(), 0755);
		return path;
	}
	int script_runs()
	{
		std::ifstream in(kx_path("/ran"));
		int n = 0;
		std::string l;
		while (std::getline(in, l))
			n++;
		return n;
	}
};

const char *const prompt = "Reset to Defaults???|Hold Btn 5 secs     ";
const char *const keep_holding = "Reset to Defaults???|Keep Holding...     ";
const char *const resetting = "Resetting...        |Rebooting...        ";

TEST_F(PanelGpio, SetupRequestsTheSevenLines)
{
	setup_lines();
	EXPECT_EQ(setup_output, "");
	EXPECT_EQ(ok("gpio consumer 0"), "led_3dfix");
	EXPECT_EQ(ok("gpio consumer 27"), "led_2dfix");
	EXPECT_EQ(ok("gpio consumer 1"), "lcd_button");
	EXPECT_EQ(ok("gpio consumer 17"), "3dfix");
	EXPECT_EQ(ok("gpio consumer 21"), "m0");
	EXPECT_EQ(ok("gpio consumer 23"), "m1");
	EXPECT_EQ(ok("gpio consumer 24"), "m2");
	EXPECT_EQ(ok("gpio info 0").substr(0, 37), "used=1 direction=output edge=none bia");
	EXPECT_EQ(ok("gpio get 0"), "0");
	EXPECT_EQ(ok("gpio get 27"), "0");
	for (int line : {1, 17, 21, 23, 24})
		EXPECT_EQ(ok("gpio info " + std::to_string(line)),
			  "used=1 direction=input edge=falling bias=pull-up active_low=0 debounce_us=50000 level=1");
}

TEST_F(PanelGpio, LedsFollowTheirSetters)
{
	setup_lines();
	set_led_3dfix(1);
	EXPECT_EQ(ok("gpio get 0"), "1");
	EXPECT_EQ(ok("gpio get 27"), "0");
	set_led_3dfix(0);
	set_led_2dfix(1);
	EXPECT_EQ(ok("gpio get 0"), "0");
	EXPECT_EQ(ok("gpio get 27"), "1");
}

TEST_F(PanelGpio, LevelsOfButtonAndMPins)
{
	setup_lines();
	EXPECT_EQ(button_level(), 1);
	EXPECT_EQ(m_pin_level(0), 1);
	ok("gpio set 21 0");
	ok("gpio set 24 0");
	EXPECT_EQ(m_pin_level(0), 0);
	EXPECT_EQ(m_pin_level(1), 1);
	EXPECT_EQ(m_pin_level(2), 0);
	press();
	EXPECT_EQ(button_level(), 0);
	release();
	EXPECT_EQ(button_level(), 1);
}

TEST_F(PanelGpio, OnlyTheButtonDeliversEdges)
{
	setup_lines();
	ok("gpio set 17 0");
	ok("gpio set 21 0");
	ok("gpio set 23 0");
	EXPECT_EQ(poll_button_edge(), NO_EDGE);
	press();
	EXPECT_EQ(poll_button_edge(), 1);
	EXPECT_EQ(poll_button_edge(), NO_EDGE);  // one event per press
}

TEST_F(PanelGpio, SixPressesCycleThroughTheScreens)
{
	setup_lines();
	int seen[6];
	for (int i = 0; i < 6; i++) {
		click();
		seen[i] = page;
	}
	EXPECT_EQ(std::vector<int>(seen, seen + 6), (std::vector<int>{1, 2, 3, 4, 5, 0}));
	EXPECT_EQ(hold_count, 0);
}

TEST(PageAdvance, ScreensWrapAndResetStepsCountUp)
{
	const int from[] = {0, 4, 5, 6, 50, 97, 98, 99, 100, 101, 103, 2000};
	const int to[] = {1, 5, 0, 0, 0, 0, 99, 100, 101, 102, 104, 2001};
	for (size_t i = 0; i < sizeof from / sizeof from[0]; i++) {
		page = from[i];
		advance_page();
		EXPECT_EQ(page, to[i]) << "from " << from[i];
	}
	page = 0;
}

TEST_F(PanelGpio, TwoPressesBetweenTicksAreTakenOnePerTick)
{
	setup_lines();
	press();
	release();
	press();
	release();
	tick();
	EXPECT_EQ(page, 1);
	tick();
	EXPECT_EQ(page, 2);
	tick();
	EXPECT_EQ(page, 2);
}

TEST_F(PanelGpio, HoldOf49TicksBringsNoPrompt)
{
	setup_lines();
	press();
	ticks(49);
	EXPECT_EQ(page, 1);  // the press itself
	EXPECT_EQ(hold_count, 49);
	release();
	tick();
	EXPECT_EQ(page, 1);
	EXPECT_EQ(hold_count, 0);
}

TEST_F(PanelGpio, HoldOf50TicksOnPage2BringsThePromptThatStays)
{
	setup_lines();
	click();
	click();
	ASSERT_EQ(page, 2);
	press();
	tick();
	EXPECT_EQ(page, 3);  // the press shows the next screen at once
	ticks(48);
	EXPECT_EQ(page, 3);
	tick();  // the 50th held tick
	EXPECT_EQ(page, 99);
	tick();
	EXPECT_EQ(rows(), prompt);
	EXPECT_EQ(hold_count, 0);
	// Holding on, releasing and waiting: the prompt stays.
	ticks(30);
	release();
	ticks(200);
	EXPECT_EQ(page, 99);
	EXPECT_EQ(rows(), prompt);
}

TEST_F(PanelGpio, KeepHoldingThenReleaseReturnsToPage0)
{
	setup_lines();
	page = 99;
	tick();
	ASSERT_EQ(rows(), prompt);
	press();
	tick();
	EXPECT_EQ(page, 100);
	EXPECT_EQ(rows(), keep_holding);
	ticks(19);  // 2 s held
	EXPECT_EQ(page, 100);
	EXPECT_EQ(hold_count, 20);
	release();
	tick();
	EXPECT_EQ(page, 0);
	EXPECT_EQ(hold_count, 0);
	// The prompt texts stay until page 0 is rendered again.
	EXPECT_EQ(rows(), keep_holding);
}

TEST_F(PanelGpio, FiftyHeldTicksInStep100ResetAndRunTheScriptOnce)
{
	write_script("echo ran >> \"$KX_ROOT/ran\"\n");
	setup_lines();
	page = 99;
	tick();
	press();
	ticks(49);
	EXPECT_EQ(page, 100);
	EXPECT_EQ(hold_count, 49);
	tick();  // the 50th
	EXPECT_EQ(page, 101);
	EXPECT_EQ(rows(), keep_holding);
	tick();
	EXPECT_EQ(rows(), resetting);
	EXPECT_EQ(page, 102);
	EXPECT_EQ(script_runs(), 0);
	tick();
	EXPECT_EQ(page, 103);
	EXPECT_EQ(script_runs(), 1);
	EXPECT_EQ(rows(), resetting);
	// Held on, released, pressed again: only the page counts up.
	ticks(10);
	release();
	tick();
	click();
	click();
	EXPECT_EQ(page, 105);
	EXPECT_EQ(script_runs(), 1);
	EXPECT_EQ(rows(), resetting);
}

TEST_F(PanelGpio, FastReleaseAndPressInStep100GoesStraightTo101)
{
	write_script("echo ran >> \"$KX_ROOT/ran\"\n");
	setup_lines();
	page = 99;
	tick();
	press();
	ticks(10);
	ASSERT_EQ(page, 100);
	// Let go and press again between two ticks: a new falling edge.
	release();
	press();
	tick();
	EXPECT_EQ(rows(), resetting);
	EXPECT_EQ(page, 102);
	tick();
	EXPECT_EQ(page, 103);
	EXPECT_EQ(script_runs(), 1);
}

TEST_F(PanelGpio, MissingScriptLeavesTheDaemonAtPage103)
{
	setup_lines();
	page = 102;
	tick();
	EXPECT_EQ(page, 103);
	tick();
	EXPECT_EQ(page, 103);
}

TEST_F(PanelGpio, ScriptPathWithAQuoteRunsOnce)
{
	// The path is handed to the shell quoted, whatever the root holds.
	simboard_stop(&board);
	std::string root = "/tmp/kx it's.XXXXXX";
	ASSERT_NE(mkdtemp(root.data()), nullptr);
	ASSERT_TRUE(simboard_start(&board, root));
	write_script("echo ran >> \"$KX_ROOT/ran\"\n");
	page = 102;
	tick();
	EXPECT_EQ(script_runs(), 1);
	simboard_stop(&board);
	std::filesystem::remove_all(root);
}

// One line held elsewhere before panelmon starts: the message of its step,
// and the lines after it stay unrequested.
struct FailureCase {
	unsigned int offset;
	const char *message;
	int requested_before;
};

void PrintTo(const FailureCase &c, std::ostream *os)
{
	*os << "line " << c.offset;
}

class SetupFailure : public PanelGpio, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SetupFailure, StopsAtTheFirstFailedLine)
{
	const FailureCase &c = GetParam();
	gpiod_line_request *other = request_output_line(c.offset, "other");
	ASSERT_NE(other, nullptr);
	testing::internal::CaptureStdout();
	EXPECT_EQ(gpio_setup(), -1);
	EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
	const unsigned int order[] = {0, 27, 1, 17, 21, 23, 24};
	const char *labels[] = {"led_3dfix", "led_2dfix", "lcd_button", "3dfix", "m0", "m1", "m2"};
	for (int i = 0; i < 7; i++) {
		std::string consumer = ok("gpio consumer " + std::to_string(order[i]));
		if (i < c.requested_before)
			EXPECT_EQ(consumer, labels[i]);
		else if (order[i] == c.offset)
			EXPECT_EQ(consumer, "other");
		else
			EXPECT_EQ(consumer, "-");
	}
	gpiod_line_request_release(other);
}

INSTANTIATE_TEST_SUITE_P(
	EachLine, SetupFailure,
	::testing::Values(FailureCase{0, "Failed requesting line led_3dfix", 0},
			  FailureCase{27, "Failed requesting line led_2dfix", 1},
			  FailureCase{1, "Failed requesting line lcdbutton", 2},
			  FailureCase{17, "Failed requesting line 3dfix", 3},
			  FailureCase{21, "Failed requesting line m_ad9544_m0", 4},
			  FailureCase{23, "Failed requesting line m_ad9544_m1", 5},
			  FailureCase{24, "Failed requesting line m_ad9544_m2", 6}),
	[](const ::testing::TestParamInfo<FailureCase> &info) {
		return "line" + std::to_string(info.param.offset);
	});

TEST_F(PanelGpio, FailedButtonRequestDoesNotCrashTheLoop)
{
	gpiod_line_request *other = request_input_line(BUTTON_LINE, "other");
	ASSERT_NE(other, nullptr);
	testing::internal::CaptureStdout();
	EXPECT_EQ(gpio_setup(), -1);
	EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed requesting line lcdbutton");
	// The button counts as released and gives no edges; the M pins were
	// never requested and read 1; the LEDs still work.
	press();
	EXPECT_EQ(button_level(), 1);
	EXPECT_EQ(poll_button_edge(), NO_EDGE);
	EXPECT_EQ(m_pin_level(0), 1);
	EXPECT_EQ(m_pin_level(2), 1);
	ticks(60);
	EXPECT_EQ(page, 0);
	EXPECT_EQ(hold_count, 0);
	set_led_2dfix(1);
	EXPECT_EQ(ok("gpio get 27"), "1");
	gpiod_line_request_release(other);
}

TEST_F(PanelGpio, NoChipAtAll)
{
	simboard_stop(&board);
	testing::internal::CaptureStdout();
	EXPECT_EQ(gpio_setup(), -1);
	EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed requesting line led_3dfix");
	set_led_3dfix(1);
	set_led_2dfix(1);
	EXPECT_EQ(button_level(), 1);
	EXPECT_EQ(m_pin_level(1), 1);
	EXPECT_EQ(poll_button_edge(), NO_EDGE);
	ticks(5);
	EXPECT_EQ(page, 0);
}

TEST_F(PanelGpio, EdgeReadErrorCountsAsNoPress)
{
	setup_lines();
	// The chip goes away under the held requests: the request's
	// descriptor turns readable and the read fails.
	simboard_stop(&board);
	testing::internal::CaptureStdout();
	EXPECT_EQ(poll_button_edge(), NO_EDGE);
	EXPECT_EQ(testing::internal::GetCapturedStdout(), "error reading edge events\n");
	EXPECT_EQ(button_level(), 1);  // a failed read counts as released
	EXPECT_EQ(m_pin_level(0), 1);
}

}  // namespace
