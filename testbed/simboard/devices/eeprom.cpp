// The identity EEPROM on bus 0: a 24C16-class part, 2 KiB in eight blocks of
// 256 bytes, one device address per block (0x50 to 0x57).
//
// Like the real chip:
// - a write transfer starts with the word address; with more bytes it is a
//   page write: the bytes land in the 16-byte page of the start address and
//   the address wraps inside that page (a longer write overwrites its own
//   first bytes);
// - a write of the word address alone sets the address counter for the
//   following read (the "dummy write" of a random read);
// - a read returns bytes from the address counter on, across blocks, and
//   wraps at the end of the 2 KiB;
// - while the write-protect pin (GPIO chip 0 line 28) is high the chip still
//   acknowledges a write but stores nothing;
// - for 5 ms after a stored write the chip is busy with its internal write
//   cycle and acknowledges nothing;
// - blank bytes read 0xFF.
//
// The contents live in sim/eeprom.bin under the board's root, so they
// survive the programs that write them and a restart of simboard.
//
// Control commands ("eeprom ..."):
//   dump ADDR LEN      ok <hex bytes>
//   load ADDR HEX      stores bytes directly, as a programmer would
//   erase              every byte 0xFF
//   nack on|off        the chip stops (or resumes) acknowledging
//   stats              ok stored=N ignored=N busy=N
#include "board.h"
#include "kx_path.h"
#include "kx_text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>

namespace {

constexpr int first_addr = 0x50;
constexpr int last_addr = 0x57;
constexpr unsigned size = 2048;
constexpr unsigned page = 16;
constexpr int wp_line = 28;
constexpr int64_t write_cycle_ns = 5 * 1000 * 1000;

int64_t monotonic_ns()
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct Eeprom : SimI2cDevice {
	uint8_t mem[size];
	unsigned counter = 0;       // 11-bit address counter
	bool nack = false;
	int64_t busy_until = 0;
	unsigned long stored = 0, ignored = 0, busy = 0;
	std::string path;

	Eeprom()
	{
		std::memset(mem, 0xFF, sizeof mem);
		std::string dir = kx_path("/sim");
		mkdir(dir.c_str(), 0755);
		path = dir + "/eeprom.bin";
		FILE *f = std::fopen(path.c_str(), "rb");
		if (f != nullptr) {
			if (std::fread(mem, 1, sizeof mem, f) != sizeof mem)
				std::memset(mem, 0xFF, sizeof mem);
			std::fclose(f);
		}
	}

	void save()
	{
		std::string tmp = path + ".new";
		FILE *f = std::fopen(tmp.c_str(), "wb");
		if (f == nullptr)
			return;
		bool ok = std::fwrite(mem, 1, sizeof mem, f) == sizeof mem;
		ok = std::fclose(f) == 0 && ok;
		if (ok)
			std::rename(tmp.c_str(), path.c_str());
	}

	// 0 when the chip takes part in a transfer now, else ENXIO.
	int acknowledges()
	{
		if (nack)
			return ENXIO;
		if (monotonic_ns() < busy_until) {
			busy++;
			return ENXIO;
		}
		return 0;
	}

	int on_write(int addr, const uint8_t *data, size_t len) override
	{
		int r = acknowledges();
		if (r != 0 || len == 0)
			return r;
		counter = static_cast<unsigned>((addr - first_addr) << 8 | data[0]);
		if (len == 1)
			return 0;
		if (sim_gpio_level(wp_line) != 0) {
			ignored++;
			return 0;
		}
		unsigned base = counter & ~(page - 1);
		unsigned offset = counter & (page - 1);
		for (size_t i = 1; i < len; i++) {
			mem[base | offset] = data[i];
			offset = (offset + 1) & (page - 1);
		}
		counter = base | offset;
		stored++;
		save();
		busy_until = monotonic_ns() + write_cycle_ns;
		return 0;
	}

	int on_read(int, uint8_t *out, size_t len) override
	{
		int r = acknowledges();
		if (r != 0)
			return r;
		for (size_t i = 0; i < len; i++) {
			out[i] = mem[counter];
			counter = (counter + 1) % size;
		}
		return 0;
	}

	bool range(const std::string &a, const std::string &l, unsigned *at, unsigned *n)
	{
		bool ok1, ok2;
		long av = sim_parse_number(a, &ok1);
		long lv = sim_parse_number(l, &ok2);
		if (!ok1 || !ok2 || av < 0 || lv < 0 || av + lv > static_cast<long>(size))
			return false;
		*at = static_cast<unsigned>(av);
		*n = static_cast<unsigned>(lv);
		return true;
	}

	std::string on_control(const std::vector<std::string> &w) override
	{
		unsigned at, n;
		if (w.size() == 3 && w[0] == "dump" && range(w[1], w[2], &at, &n))
			return "ok " + sim_hex(&mem[at], n);
		if (w.size() == 3 && w[0] == "load" && w[2].size() % 2 == 0 &&
		    range(w[1], std::to_string(w[2].size() / 2), &at, &n)) {
			for (unsigned i = 0; i < n; i++) {
				int hi = kx_hex_digit(w[2][2 * i]), lo = kx_hex_digit(w[2][2 * i + 1]);
				if (hi < 0 || lo < 0)
					return "err bad hex";
			}
			for (unsigned i = 0; i < n; i++)
				mem[at + i] = static_cast<uint8_t>(kx_hex_digit(w[2][2 * i]) * 16 +
								   kx_hex_digit(w[2][2 * i + 1]));
			save();
			return "ok";
		}
		if (w.size() == 1 && w[0] == "erase") {
			std::memset(mem, 0xFF, sizeof mem);
			save();
			return "ok";
		}
		if (w.size() == 2 && w[0] == "nack" && (w[1] == "on" || w[1] == "off")) {
			nack = w[1] == "on";
			return "ok";
		}
		if (w.size() == 1 && w[0] == "stats")
			return "ok stored=" + std::to_string(stored) + " ignored=" + std::to_string(ignored) +
			       " busy=" + std::to_string(busy);
		return "err usage: eeprom dump ADDR LEN | load ADDR HEX | erase | nack on|off | stats";
	}
};

std::unique_ptr<SimI2cDevice> make_eeprom()
{
	return std::make_unique<Eeprom>();
}

}  // namespace

KX_SIM_DEVICE(eeprom, "eeprom", 0, first_addr, last_addr, make_eeprom);
