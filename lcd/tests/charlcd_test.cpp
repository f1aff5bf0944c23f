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

TEST_F(CharLcdTest, ConstructionSetsFieldsAndSendsNothing)
{
	CharLcd two(0, 0x3e, 20, 2);
	EXPECT_EQ(two.i2c_address, 0x3e);
	EXPECT_EQ(two.function_flags, 0x18);
	EXPECT_EQ(two.display_control, 0);
	EXPECT_EQ(two.entry_mode, 0);
	EXPECT_EQ(two.rows, 2);
	EXPECT_EQ(two.cols, 20);
	EXPECT_EQ(two.lines, 2);
	EXPECT_EQ(two.bus, 0);
	EXPECT_LT(two.fd, 0);
	CharLcd one(3, 0x27, 16, 1);
	EXPECT_EQ(one.function_flags, 0x10);
	EXPECT_EQ(one.lines, 1);
	EXPECT_EQ(one.bus, 3);
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

TEST_F(CharLcdTest, SetCursorAddresses)
{
	CharLcd lcd(0, 0x3e, 20, 2);
	begun(lcd);
	lcd.set_cursor(0, 1);
	lcd.set_cursor(5, 1);
	lcd.set_cursor(19, 0);
	lcd.set_cursor(0, 2);  // beyond the last row: the last row
	lcd.set_cursor(0, 7);
	lcd.set_cursor(0, 0);
	EXPECT_EQ(seam_events(mark), "w 00 c0 | w 00 c5 | w 00 93 | w 00 c0 | w 00 c0 | w 00 80");
}

TEST_F(CharLcdTest, SetCursorRowsThreeAndFourAndByteWrap)
{
	CharLcd lcd(0, 0x3e, 20, 4);
	begun(lcd);
	lcd.set_cursor(0, 2);
	lcd.set_cursor(1, 3);
	lcd.set_cursor(0, 9);
	lcd.set_cursor(200, 1);  // 0x40 + 200 taken as 8 bits = 0x08
	EXPECT_EQ(seam_events(mark), "w 00 94 | w 00 d5 | w 00 d4 | w 00 88");
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

TEST_F(CharLcdTest, WriteCharAndCommand)
{
	CharLcd lcd(0, 0x3e, 20, 2);
	begun(lcd);
	lcd.write_char('z');
	lcd.command(0xa5);
	EXPECT_EQ(seam_events(mark), "w 80 00 40 7a | pause 250 | w 00 a5");
}

TEST_F(CharLcdTest, ClearAndHomePause)
{
	CharLcd lcd(0, 0x3e, 20, 2);
	begun(lcd);
	lcd.clear();
	lcd.home();
	EXPECT_EQ(seam_events(mark), "w 00 01 | pause 2000 | w 00 02 | pause 2000");
}

TEST_F(CharLcdTest, DisplayControlBitsKeepTheirValues)
{
	CharLcd lcd(0, 0x3e, 20, 2);
	begun(lcd);
	lcd.cursor_on();
	lcd.blink_on();
	lcd.display_off();
	lcd.display_on();
	lcd.cursor_off();
	lcd.blink_off();
	EXPECT_EQ(seam_events(mark), "w 00 0e | w 00 0f | w 00 0b | w 00 0f | w 00 0d | w 00 0c");
	EXPECT_EQ(lcd.display_control, 0x04);
}

TEST_F(CharLcdTest, EntryModeBitsKeepTheirValues)
{
	CharLcd lcd(0, 0x3e, 20, 2);
	begun(lcd);
	lcd.right_to_left();
	lcd.autoscroll_on();
	lcd.left_to_right();
	lcd.autoscroll_off();
	EXPECT_EQ(seam_events(mark), "w 00 04 | w 00 05 | w 00 07 | w 00 06");
	EXPECT_EQ(lcd.entry_mode, 0x02);
}

TEST_F(CharLcdTest, ScrollInstructions)
{
	CharLcd lcd(0, 0x3e, 20, 2);
	begun(lcd);
	lcd.scroll_left();
	lcd.scroll_right();
	EXPECT_EQ(seam_events(mark), "w 00 18 | w 00 1c");
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
