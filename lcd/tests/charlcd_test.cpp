// CharLcd frame by frame: the bytes of every transfer and the pauses between
// them, against a recording seam.
#include "char_lcd.h"
#include "recording_seam.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class CharLcdTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		unsetenv("KX_ROOT");
		seam_reset();
	}
	// A display after a successful begin, with the events cleared.
	void begun(CharLcd &lcd)
	{
		testing::internal::CaptureStdout();
		ASSERT_EQ(lcd.begin(), 0);
		EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
		mark = seam.events.size();
	}
	size_t mark = 0;
};

TEST_F(CharLcdTest, ConstructionSetsFlagsAndSendsNothing)
{
	CharLcd two(0, 0x3e, 20, 2);
	EXPECT_EQ(two.function_flags, 0x18);
	EXPECT_EQ(two.lines, 2);
	EXPECT_EQ(two.display_control, 0);
	EXPECT_EQ(two.entry_mode, 0);
	EXPECT_LT(two.fd, 0);
	CharLcd one(3, 0x27, 16, 1);
	EXPECT_EQ(one.function_flags, 0x10);
	EXPECT_EQ(one.lines, 1);
	EXPECT_TRUE(seam.events.empty());
}

TEST_F(CharLcdTest, BeginOpensSelectsAndInitialises)
{
	CharLcd lcd(0, 0x3e, 20, 2);
	begun(lcd);
	EXPECT_EQ(seam_events(),
		  "open /dev/i2c-0 | addr 3e | w 00 38 | pause 4500 | w 00 0c | w 00 01 | pause 2000 | "
		  "w 00 06 | w 00 02 | pause 2000");
	EXPECT_EQ(lcd.fd, 7);
	EXPECT_EQ(lcd.display_control, 0x04);
	EXPECT_EQ(lcd.entry_mode, 0x02);
}

TEST_F(CharLcdTest, OneRowDisplayGetsFunctionSet30)
{
	CharLcd lcd(1, 0x3e, 16, 1);
	begun(lcd);
	EXPECT_EQ(seam.events[0], "open /dev/i2c-1");
	EXPECT_EQ(seam.events[2], "w 00 30");
}

TEST_F(CharLcdTest, BeginPathFollowsKxRoot)
{
	setenv("KX_ROOT", "/tmp/somewhere", 1);
	CharLcd lcd(0, 0x3e, 20, 2);
	begun(lcd);
	EXPECT_EQ(seam.events[0], "open /tmp/somewhere/dev/i2c-0");
}

TEST_F(CharLcdTest, MissingBusReportsAndFails)
{
	seam.fail_open = true;
	CharLcd lcd(0, 0x3e, 20, 2);
	testing::internal::CaptureStdout();
	EXPECT_EQ(lcd.begin(), -1);
	EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error opening: /dev/i2c-0\n");
	EXPECT_EQ(seam_events(), "open /dev/i2c-0");
	// Later operations send nothing and report nothing.
	testing::internal::CaptureStdout();
	lcd.set_cursor(0, 0);
	lcd.print("AB", 2);
	lcd.clear();
	lcd.blink_on();
	lcd.close();
	EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
	EXPECT_EQ(seam_events(), "open /dev/i2c-0");
}

TEST_F(CharLcdTest, RefusedAddressReportsAndKeepsDescriptor)
{
	seam.fail_address = true;
	CharLcd lcd(0, 0x3e, 20, 2);
	testing::internal::CaptureStdout();
	EXPECT_EQ(lcd.begin(), -1);
	EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error calling I2C_SLAVE\n");
	EXPECT_EQ(seam_events(), "open /dev/i2c-0 | addr 3e");
	EXPECT_EQ(lcd.fd, 7);
	// Nothing goes out on a descriptor without the controller's address
	// (it would be a general call to every chip on the bus).
	lcd.set_cursor(0, 1);
	lcd.print("AB", 2);
	lcd.command(0x01);
	lcd.write_char('x');
	lcd.home();
	lcd.close();
	EXPECT_EQ(seam_events(), "open /dev/i2c-0 | addr 3e | close 7");
}

TEST_F(CharLcdTest, SecondBeginAfterFailureWorks)
{
	seam.fail_open = true;
	CharLcd lcd(0, 0x3e, 20, 2);
	testing::internal::CaptureStdout();
	EXPECT_EQ(lcd.begin(), -1);
	testing::internal::GetCapturedStdout();
	seam.fail_open = false;
	begun(lcd);
	lcd.write_char('A');
	EXPECT_EQ(seam_events(mark), "w 80 00 40 41 | pause 250");
}

// The frames and pauses of each operation on a begun display.
TEST_F(CharLcdTest, InstructionFrames)
{
	struct {
		const char *what;
		int rows;
		void (*ops)(CharLcd &);
		const char *events;
	} cases[] = {
	    {"cursor, two rows (beyond the last row: the last row)", 2,
	     [](CharLcd &l) {
		     for (auto [col, row] : {std::pair{0, 1}, {5, 1}, {19, 0}, {0, 2}, {0, 7}, {0, 0}})
			     l.set_cursor(col, row);
	     },
	     "w 00 c0 | w 00 c5 | w 00 93 | w 00 c0 | w 00 c0 | w 00 80"},
	    {"cursor, four rows; 0x40 + 200 taken as 8 bits", 4,
	     [](CharLcd &l) {
		     for (auto [col, row] : {std::pair{0, 2}, {1, 3}, {0, 9}, {200, 1}})
			     l.set_cursor(col, row);
	     },
	     "w 00 94 | w 00 d5 | w 00 d4 | w 00 88"},
	    {"character and command", 2, [](CharLcd &l) { l.write_char('z'); l.command(0xa5); },
	     "w 80 00 40 7a | pause 250 | w 00 a5"},
	    {"clear and home pause", 2, [](CharLcd &l) { l.clear(); l.home(); },
	     "w 00 01 | pause 2000 | w 00 02 | pause 2000"},
	    {"display control bits keep their values", 2,
	     [](CharLcd &l) {
		     l.cursor_on(); l.blink_on(); l.display_off();
		     l.display_on(); l.cursor_off(); l.blink_off();
	     },
	     "w 00 0e | w 00 0f | w 00 0b | w 00 0f | w 00 0d | w 00 0c"},
	    {"entry mode bits keep their values", 2,
	     [](CharLcd &l) { l.right_to_left(); l.autoscroll_on(); l.left_to_right(); l.autoscroll_off(); },
	     "w 00 04 | w 00 05 | w 00 07 | w 00 06"},
	    {"scroll", 2, [](CharLcd &l) { l.scroll_left(); l.scroll_right(); }, "w 00 18 | w 00 1c"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		seam_reset();
		CharLcd lcd(0, 0x3e, 20, c.rows);
		begun(lcd);
		c.ops(lcd);
		EXPECT_EQ(seam_events(mark), c.events);
		EXPECT_EQ(lcd.display_control, 0x04);
		EXPECT_EQ(lcd.entry_mode, 0x02);
	}
}

TEST_F(CharLcdTest, PrintSendsOneFramePerCharacterWithPause)
{
	CharLcd lcd(0, 0x3e, 20, 2);
	begun(lcd);
	lcd.print("ABC", 2);
	EXPECT_EQ(seam_events(mark), "w 80 00 40 41 | pause 250 | w 80 00 40 42 | pause 250");
	mark = seam.events.size();
	lcd.print("", 0);
	EXPECT_EQ(seam.events.size(), mark);
	// Bytes above 0x7F and NUL are character codes like any other.
	lcd.print("\xdf\0", 2);
	EXPECT_EQ(seam_events(mark), "w 80 00 40 df | pause 250 | w 80 00 40 00 | pause 250");
}

TEST_F(CharLcdTest, PrintLengthIsAByteCount)
{
	CharLcd lcd(0, 0x3e, 20, 2);
	begun(lcd);
	std::string text(300, 'x');
	lcd.print(text.c_str(), 255);
	EXPECT_EQ(seam.events.size() - mark, 510u);
}

TEST_F(CharLcdTest, CloseReleasesOnce)
{
	CharLcd lcd(0, 0x3e, 20, 2);
	begun(lcd);
	lcd.close();
	lcd.close();
	lcd.write_char('A');  // nothing after close
	EXPECT_EQ(seam_events(mark), "close 7");
}

}  // namespace
