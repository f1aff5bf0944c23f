#include "char_lcd.h"

#include "kx_i2c.h"
#include "kx_path.h"

#include <cstdio>

namespace {

// Display-memory address of the first cell of each row.
constexpr uint8_t row_offsets[4] = {0x00, 0x40, 0x14, 0x54};

constexpr unsigned int char_pause_us = 250;
constexpr unsigned int clear_pause_us = 2000;      // clear and home take 1.52 ms
constexpr unsigned int function_pause_us = 4500;   // first instruction after power-up

}  // namespace

CharLcd::CharLcd(uint8_t bus_, uint8_t address, uint8_t cols_, uint8_t rows_)
	: i2c_address(address),
	  function_flags(rows_ < 2 ? 0x10 : 0x18),
	  display_control(0),
	  entry_mode(0),
	  rows(rows_),
	  cols(cols_),
	  lines(rows_),
	  fd(-1),
	  bus(bus_),
	  ready(false)
{
}

int32_t CharLcd::begin()
{
	char path[19];
	std::snprintf(path, sizeof path, "/dev/i2c-%d", static_cast<int>(bus));
	std::string dev = kx_path(path);
	ready = false;
	fd = kx_i2c_open(dev.c_str());
	if (fd < 0) {
		std::printf("Error opening: %s\n", dev.c_str());
		return -1;
	}
	if (kx_i2c_set_address(fd, i2c_address) < 0) {
		std::printf("Error calling I2C_SLAVE\n");
		return -1;
	}
	ready = true;
	command(0x20 | function_flags);
	lcd_pause_us(function_pause_us);
	display_control = 0x04;
	command(0x08 | display_control);
	command(0x01);
	lcd_pause_us(clear_pause_us);
	entry_mode = 0x02;
	command(0x04 | entry_mode);
	command(0x02);
	lcd_pause_us(clear_pause_us);
	return 0;
}

void CharLcd::set_cursor(uint8_t col, uint8_t row)
{
	if (row >= rows)
		row = rows - 1;
	command(0x80 | static_cast<uint8_t>(row_offsets[row & 3] + col));
}

void CharLcd::print(const char *text, uint8_t length)
{
	for (unsigned int i = 0; i < length; i++)
		write_char(static_cast<uint8_t>(text[i]));
}

// Control byte 0x80 (another control byte follows) with an empty
// instruction, then 0x40 (last control byte, display data) and the code.
void CharLcd::write_char(uint8_t c)
{
	if (!ready)
		return;
	const uint8_t frame[4] = {0x80, 0x00, 0x40, c};
	kx_i2c_write(fd, frame, sizeof frame);
	lcd_pause_us(char_pause_us);
}

// Control byte 0x00: one instruction follows.
void CharLcd::command(uint8_t instruction)
{
	if (!ready)
		return;
	const uint8_t frame[2] = {0x00, instruction};
	kx_i2c_write(fd, frame, sizeof frame);
}

void CharLcd::close()
{
	// Registered at exit; closing twice must not hit a reused descriptor.
	if (fd >= 0)
		kx_i2c_close(fd);
	fd = -1;
	ready = false;
}

void CharLcd::clear()
{
	if (!ready)
		return;
	command(0x01);
	lcd_pause_us(clear_pause_us);
}

void CharLcd::home()
{
	if (!ready)
		return;
	command(0x02);
	lcd_pause_us(clear_pause_us);
}

void CharLcd::display_off()
{
	display_control &= ~0x04;
	command(0x08 | display_control);
}

void CharLcd::display_on()
{
	display_control |= 0x04;
	command(0x08 | display_control);
}

void CharLcd::cursor_off()
{
	display_control &= ~0x02;
	command(0x08 | display_control);
}

void CharLcd::cursor_on()
{
	display_control |= 0x02;
	command(0x08 | display_control);
}

void CharLcd::blink_off()
{
	display_control &= ~0x01;
	command(0x08 | display_control);
}

void CharLcd::blink_on()
{
	display_control |= 0x01;
	command(0x08 | display_control);
}

void CharLcd::scroll_left()
{
	command(0x18);
}

void CharLcd::scroll_right()
{
	command(0x1C);
}

void CharLcd::left_to_right()
{
	entry_mode |= 0x02;
	command(0x04 | entry_mode);
}

void CharLcd::right_to_left()
{
	entry_mode &= ~0x02;
	command(0x04 | entry_mode);
}

void CharLcd::autoscroll_on()
{
	entry_mode |= 0x01;
	command(0x04 | entry_mode);
}

void CharLcd::autoscroll_off()
{
	entry_mode &= ~0x01;
	command(0x04 | entry_mode);
}
