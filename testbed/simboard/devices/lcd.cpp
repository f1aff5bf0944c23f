// The front panel's 20x2 character LCD at 0x3E on bus 0: an HD44780-
// compatible controller behind an I2C interface that frames every transfer
// with control bytes.
//
// Control byte: bit 7 (Co) set means one data byte follows and then another
// control byte; clear means every remaining byte of the transfer is data.
// Bit 6 (RS) selects what the data bytes are: 0 instructions, 1 characters
// for display (or character generator) memory.
#include "board.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

constexpr int visible_cols = 20;

// Clear and home keep the controller busy for 1.52 ms; a transfer that
// arrives sooner would be lost on the real display. The model still carries
// it out, and counts it ("early" in "lcd state"), so tests can tell that a
// driver waited long enough.
constexpr int64_t slow_instruction_ns = 1520000;

int64_t monotonic_ns()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct Lcd : SimI2cDevice {
	uint8_t ddram[0x80];
	uint8_t cgram[64] = {};
	bool nack = false;       // the chip stops acknowledging (lcd nack on)
	bool to_cgram = false;   // data goes to character generator memory
	int ac = 0;              // address counter
	bool increment = true;   // entry mode I/D
	bool shift = false;      // entry mode S
	bool display = false, cursor = false, blink = false;
	bool two_line = false, eight_bit = true, big_font = false;
	int display_shift = 0;   // by how many places the window has moved left
	unsigned long instructions = 0, characters = 0;
	unsigned long early = 0;
	int64_t busy_until = 0;

	Lcd()
	{
		std::memset(ddram, ' ', sizeof ddram);
	}

	// Display memory: two lines of 40 (0x00-0x27, 0x40-0x67) or one of 80.
	int next_address(int a, bool up) const
	{
		if (!two_line)
			return up ? (a + 1) % 80 : (a + 79) % 80;
		int line = a & 0x40;
		int col = a & 0x3f;
		if (up) {
			if (++col == 40) {
				col = 0;
				line ^= 0x40;
			}
		} else if (col-- == 0) {
			col = 39;
			line ^= 0x40;
		}
		return line | col;
	}

	void instruction(uint8_t b)
	{
		instructions++;
		if (b & 0x80) {
			to_cgram = false;
			ac = b & 0x7f;
			if (two_line && (ac & 0x3f) >= 40)
				ac = (ac & 0x40) | ((ac & 0x3f) % 40);
			if (!two_line)
				ac %= 80;
		} else if (b & 0x40) {
			to_cgram = true;
			ac = b & 0x3f;
		} else if (b & 0x20) {
			eight_bit = b & 0x10;
			two_line = b & 0x08;
			big_font = b & 0x04;
		} else if (b & 0x10) {
			bool display_move = b & 0x08;
			bool right = b & 0x04;
			if (display_move)
				display_shift += right ? -1 : 1;
			else
				ac = next_address(ac, right);
		} else if (b & 0x08) {
			display = b & 0x04;
			cursor = b & 0x02;
			blink = b & 0x01;
		} else if (b & 0x04) {
			increment = b & 0x02;
			shift = b & 0x01;
		} else if (b & 0x02) {
			busy_until = monotonic_ns() + slow_instruction_ns;
			ac = 0;
			to_cgram = false;
			display_shift = 0;
		} else if (b & 0x01) {
			busy_until = monotonic_ns() + slow_instruction_ns;
			std::memset(ddram, ' ', sizeof ddram);
			ac = 0;
			to_cgram = false;
			display_shift = 0;
			increment = true;
		}
		// 0x00 is no instruction; the controller ignores it.
	}

	void data(uint8_t c)
	{
		characters++;
		if (to_cgram) {
			cgram[ac & 0x3f] = c;
			ac = (ac + (increment ? 1 : 63)) & 0x3f;
			return;
		}
		ddram[ac] = c;
		ac = next_address(ac, increment);
		if (shift)
			display_shift += increment ? 1 : -1;
	}

	std::string row(int r) const
	{
		std::string out;
		if (!display)
			return std::string(visible_cols, ' ');
		int len = two_line ? 40 : 80;
		int base = two_line ? (r == 0 ? 0x00 : 0x40) : 0x00;
		if (!two_line && r != 0)
			return std::string(visible_cols, ' ');
		for (int i = 0; i < visible_cols; i++) {
			int col = ((i + display_shift) % len + len) % len;
			out += static_cast<char>(ddram[base + col]);
		}
		return out;
	}

	int on_write(int, const uint8_t *p, size_t len) override
	{
		if (nack)
			return ENXIO;
		if (busy_until != 0 && monotonic_ns() < busy_until)
			early++;
		size_t i = 0;
		while (i < len) {
			uint8_t control = p[i++];
			bool more = control & 0x80;
			bool rs = control & 0x40;
			if (more) {
				if (i < len) {
					uint8_t b = p[i++];
					rs ? data(b) : instruction(b);
				}
				continue;
			}
			for (; i < len; i++)
				rs ? data(p[i]) : instruction(p[i]);
		}
		return 0;
	}

	// A read returns the busy flag (never busy here) and the address counter.
	int on_read(int, uint8_t *out, size_t len) override
	{
		if (nack)
			return ENXIO;
		std::memset(out, ac & 0x7f, len);
		return 0;
	}

	std::string on_control(const std::vector<std::string> &w) override
	{
		if (w.size() == 1 && w[0] == "rows")
			return "ok \"" + sim_escape(row(0)) + "\" \"" + sim_escape(row(1)) + "\"";
		if (w.size() == 2 && w[0] == "row" && (w[1] == "0" || w[1] == "1"))
			return "ok " + sim_escape(row(w[1][0] - '0'));
		if (w.size() == 1 && w[0] == "state") {
			char b[256];
			std::snprintf(b, sizeof b,
				      "ok display=%d cursor=%d blink=%d increment=%d shift=%d two_line=%d "
				      "eight_bit=%d address=0x%02x display_shift=%d instructions=%lu characters=%lu "
				      "early=%lu",
				      display, cursor, blink, increment, shift, two_line, eight_bit, ac,
				      display_shift, instructions, characters, early);
			return b;
		}
		if (w.size() == 2 && w[0] == "nack" && (w[1] == "on" || w[1] == "off")) {
			nack = w[1] == "on";
			return "ok";
		}
		return "err usage: lcd rows | lcd row 0|1 | lcd state | lcd nack on|off";
	}
};

std::unique_ptr<SimI2cDevice> make_lcd()
{
	return std::make_unique<Lcd>();
}

}  // namespace

KX_SIM_DEVICE(lcd, "lcd", 0, 0x3e, 0x3e, make_lcd);
