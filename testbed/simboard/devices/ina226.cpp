// The antenna supply monitor at 0x40 on bus 1: the INA226 register set.
//
// Registers are 16 bits, most significant byte first. A write transfer
// sets the register pointer with its first byte and, with two more bytes,
// writes that register (configuration 0x00, calibration 0x05, mask 0x06 and
// alert limit 0x07 are writable). A read transfer returns the register at
// the pointer. Current (0x04) and power (0x03) are set by control commands.
//
// Control commands (after "ina226"):
//   current RAW | power RAW | shunt RAW | bus RAW   set a measurement register
//   get REG                  -> ok 0xHHHH
//   fail none|all|current|power|config|calibration
//        stop acknowledging: every transfer, a pointer write selecting the
//        current or power register, or a write of configuration or
//        calibration
//   state                    -> ok config=0xHHHH calibration=0xHHHH writes=N reads=N
#include "board.h"

#include <cerrno>
#include <cstdio>

namespace {

enum Fail { fail_none, fail_all, fail_current, fail_power, fail_config, fail_calibration };

struct Ina226 : SimI2cDevice {
	uint16_t regs[256] = {};
	uint8_t pointer = 0;
	Fail fail = fail_none;
	unsigned long writes = 0, reads = 0;

	Ina226()
	{
		power_on();
	}

	void power_on()
	{
		for (uint16_t &r : regs)
			r = 0;
		regs[0x00] = 0x4127;  // power-on configuration
		regs[0xFE] = 0x5449;  // manufacturer id "TI"
		regs[0xFF] = 0x2260;  // die id
	}

	int on_write(int, const uint8_t *p, size_t len) override
	{
		if (fail == fail_all || len == 0)
			return fail == fail_all ? ENXIO : 0;
		if ((fail == fail_current && p[0] == 0x04) || (fail == fail_power && p[0] == 0x03))
			return ENXIO;
		if (len >= 3 && ((fail == fail_config && p[0] == 0x00) ||
				 (fail == fail_calibration && p[0] == 0x05)))
			return ENXIO;
		writes++;
		pointer = p[0];
		if (len >= 3) {
			uint16_t v = static_cast<uint16_t>((p[1] << 8) | p[2]);
			if (pointer == 0x00 && (v & 0x8000)) {
				power_on();  // reset bit
			} else if (pointer == 0x00 || pointer == 0x06 || pointer == 0x07) {
				regs[pointer] = v;
			} else if (pointer == 0x05) {
				regs[pointer] = v & 0x7FFF;  // bit 15 is not used
			}
		}
		return 0;
	}

	int on_read(int, uint8_t *out, size_t len) override
	{
		if (fail == fail_all)
			return ENXIO;
		reads++;
		uint16_t v = regs[pointer];
		for (size_t i = 0; i < len; i++)
			out[i] = i == 0 ? static_cast<uint8_t>(v >> 8) : i == 1 ? static_cast<uint8_t>(v) : 0xFF;
		return 0;
	}

	std::string on_control(const std::vector<std::string> &w) override
	{
		static const struct {
			const char *name;
			uint8_t reg;
		} settable[] = {{"shunt", 0x01}, {"bus", 0x02}, {"power", 0x03}, {"current", 0x04}};
		bool ok = true;
		if (w.size() == 2) {
			for (const auto &s : settable)
				if (w[0] == s.name) {
					long v = sim_parse_number(w[1], &ok);
					if (!ok || v < -32768 || v > 0xFFFF)
						return "err bad value";
					regs[s.reg] = static_cast<uint16_t>(v);
					return "ok";
				}
		}
		if (w.size() == 2 && w[0] == "get") {
			long reg = sim_parse_number(w[1], &ok);
			if (!ok || reg < 0 || reg > 0xFF)
				return "err bad register";
			char b[16];
			std::snprintf(b, sizeof b, "ok 0x%04X", regs[reg]);
			return b;
		}
		if (w.size() == 2 && w[0] == "fail") {
			static const char *const names[] = {"none", "all", "current", "power", "config",
							    "calibration"};
			for (int i = 0; i < 6; i++)
				if (w[1] == names[i]) {
					fail = static_cast<Fail>(i);
					return "ok";
				}
		}
		if (w.size() == 1 && w[0] == "state") {
			char b[120];
			std::snprintf(b, sizeof b, "ok config=0x%04X calibration=0x%04X writes=%lu reads=%lu",
				      regs[0x00], regs[0x05], writes, reads);
			return b;
		}
		return "err usage: ina226 current|power|shunt|bus RAW | get REG | "
		       "fail none|all|current|power|config|calibration | state";
	}
};

std::unique_ptr<SimI2cDevice> make_ina226()
{
	return std::make_unique<Ina226>();
}

}  // namespace

KX_SIM_DEVICE(ina226, "ina226", 1, 0x40, 0x40, make_ina226);
