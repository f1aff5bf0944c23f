// The AD9544 clock synthesiser at 0x48 on bus 0, as far as panelmon sees it.
//
// A register file of 16-bit addresses: a write transfer carries the address
// (most significant byte first) and then data for consecutive registers; a
// read transfer returns consecutive registers from the address last written.
// The product id 0x0120 sits at 0x0004-0x0005. Writing 0x81 to 0x0000 (soft
// reset) restores the configuration registers; 0x01 to 0x000F is the IO
// update, counted. The status registers (0x3000 up: temperature at 0x3003,
// reference status at 0x3006 and 0x3008, DPLL status at 0x3100, 0x3101,
// 0x3200, 0x3201) are read-only for the bus and set by control commands.
// Every transfer is also in simboard's I2C log ("i2c log 0 0x48").
//
// Control commands (after "ad9544"):
//   set REG BYTE...      store bytes from REG up (any register, status too)
//   get REG [COUNT]      -> ok HEX
//   pins M0 M1 M2        drive the chip's M0-M2 status pins (GPIO 21, 23, 24)
//                        0 or 1 each
//   nack on|off          the chip stops / starts acknowledging transfers
//   state                -> ok io_updates=N soft_resets=N skew=D
#include "board.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int register_space = 0x4000;
constexpr int status_base = 0x3000;
constexpr int m_pin_offsets[3] = {21, 23, 24};

struct Ad9544 : SimI2cDevice {
	uint8_t regs[register_space];
	int pointer = 0;
	bool nack = false;
	unsigned long io_updates = 0, soft_resets = 0;

	Ad9544()
	{
		std::memset(regs, 0, sizeof regs);
		reset_configuration();
	}

	void reset_configuration()
	{
		std::memset(regs, 0, status_base);
		regs[0x0003] = 0x05;  // chip type
		regs[0x0004] = 0x20;  // product id 0x0120, little-endian
		regs[0x0005] = 0x01;
		regs[0x000C] = 0x56;  // vendor id
		regs[0x000D] = 0x04;
	}

	int on_write(int, const uint8_t *p, size_t len) override
	{
		if (nack)
			return ENXIO;
		if (len < 2)
			return 0;  // an address half: acknowledged, nothing set
		pointer = ((p[0] << 8) | p[1]) % register_space;
		for (size_t i = 2; i < len; i++) {
			int a = (pointer + static_cast<int>(i) - 2) % register_space;
			if (a >= status_base)
				continue;
			regs[a] = p[i];
			if (a == 0x0000 && (p[i] & 0x81) == 0x81) {
				soft_resets++;
				reset_configuration();
			} else if (a == 0x000F && (p[i] & 0x01)) {
				io_updates++;
				regs[a] = 0;  // self-clearing
			}
		}
		return 0;
	}

	int on_read(int, uint8_t *out, size_t len) override
	{
		if (nack)
			return ENXIO;
		for (size_t i = 0; i < len; i++)
			out[i] = regs[(pointer + static_cast<int>(i)) % register_space];
		return 0;
	}

	int32_t skew() const
	{
		uint32_t v = regs[0x086E] | (regs[0x086F] << 8) | (regs[0x0870] << 16);
		return static_cast<int32_t>(v << 8) >> 8;  // sign-extend 24 bits
	}

	std::string on_control(const std::vector<std::string> &w) override
	{
		bool ok = true;
		if (w.size() >= 3 && w[0] == "set") {
			long reg = sim_parse_number(w[1], &ok);
			if (!ok || reg < 0 || reg + static_cast<long>(w.size()) - 2 > register_space)
				return "err bad register";
			for (size_t i = 2; i < w.size(); i++) {
				long v = sim_parse_number(w[i], &ok);
				if (!ok || v < 0 || v > 0xff)
					return "err bad byte";
				regs[reg + static_cast<long>(i) - 2] = static_cast<uint8_t>(v);
			}
			return "ok";
		}
		if ((w.size() == 2 || w.size() == 3) && w[0] == "get") {
			long reg = sim_parse_number(w[1], &ok);
			long count = 1;
			if (ok && w.size() == 3)
				count = sim_parse_number(w[2], &ok);
			if (!ok || reg < 0 || count < 1 || reg + count > register_space)
				return "err bad register";
			return "ok " + sim_hex(regs + reg, static_cast<size_t>(count));
		}
		if (w.size() == 4 && w[0] == "pins") {
			for (int i = 0; i < 3; i++)
				if (w[i + 1] != "0" && w[i + 1] != "1")
					return "err usage: ad9544 pins 0|1 0|1 0|1";
			for (int i = 0; i < 3; i++)
				sim_gpio_drive(m_pin_offsets[i], w[i + 1] == "1");
			return "ok";
		}
		if (w.size() == 2 && w[0] == "nack" && (w[1] == "on" || w[1] == "off")) {
			nack = w[1] == "on";
			return "ok";
		}
		if (w.size() == 1 && w[0] == "state") {
			char b[120];
			std::snprintf(b, sizeof b, "ok io_updates=%lu soft_resets=%lu skew=%d",
				      io_updates, soft_resets, skew());
			return b;
		}
		return "err usage: ad9544 set REG BYTE... | get REG [N] | pins M0 M1 M2 | nack on|off | state";
	}
};

std::unique_ptr<SimI2cDevice> make_ad9544()
{
	return std::make_unique<Ad9544>();
}

}  // namespace

KX_SIM_DEVICE(ad9544, "ad9544", 0, 0x48, 0x48, make_ad9544);
