// Driver of the front panel's 20x2 character LCD.
//
// The controller speaks the HD44780 instruction set behind an I2C interface
// that frames every transfer with control bytes. The driver holds one open
// /dev/i2c-N descriptor with the controller's address selected, and sends
// each instruction or character as one write. It never reads the display, so
// it cannot poll the busy flag; it pauses after every operation that the
// controller needs time for instead.
#pragma once

#include <cstdint>

class CharLcd {
public:
	CharLcd(uint8_t bus, uint8_t address, uint8_t cols, uint8_t rows);

	// Opens the bus, selects the controller and initialises the display
	// (two-line mode, display on, cleared, left to right, cursor home).
	// 0, or -1 after printing what failed.
	int32_t begin();

	void set_cursor(uint8_t col, uint8_t row);
	void print(const char *text, uint8_t length);
	void write_char(uint8_t c);
	void command(uint8_t instruction);
	void close();

	void clear();
	void home();
	void display_off();
	void display_on();
	void cursor_off();
	void cursor_on();
	void blink_off();
	void blink_on();
	void scroll_left();
	void scroll_right();
	void left_to_right();
	void right_to_left();
	void autoscroll_on();
	void autoscroll_off();

	uint8_t i2c_address;
	uint8_t function_flags;   // 0x10 8-bit interface, | 0x08 two-line mode
	uint8_t display_control;  // 0x04 display on, 0x02 cursor, 0x01 blink
	uint8_t entry_mode;       // 0x02 increment, 0x01 shift the display
	uint8_t rows;
	uint8_t cols;
	uint8_t lines;
	int32_t fd;
	int32_t bus;
	// Set by a successful begin. Until then nothing is sent: after a
	// refused I2C_SLAVE the descriptor would still address device 0, the
	// bus's general call, which every chip on the bus listens to.
	bool ready;
};

// Pause between transfers; the unit tests replace it to record the pauses.
void lcd_pause_us(unsigned int us);
