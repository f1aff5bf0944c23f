#include "fake_i2c.h"

#include "kx_i2c.h"

#include <cerrno>
#include <cstring>

namespace fake_i2c {

std::vector<transfer> log;
std::map<int, int> selected_address;
std::map<uint16_t, uint8_t> ad9544_regs;
std::map<uint8_t, uint16_t> monitor_regs;
bool bus0_missing, bus1_missing;
bool set_address_fails;
std::vector<int> closed;
std::function<ssize_t(const transfer &, size_t)> override_result;

namespace {
uint16_t ad9544_pointer;
uint8_t monitor_pointer;

bool ends_with(const std::string &s, const char *tail)
{
	size_t n = std::strlen(tail);
	return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

ssize_t decide(const transfer &t)
{
	size_t index = log.size();
	log.push_back(t);
	if (override_result) {
		ssize_t r = override_result(t, index);
		if (r != -2) {
			if (r < 0)
				errno = EREMOTEIO;
			return r;
		}
	}
	return static_cast<ssize_t>(t.bytes.size());
}
}  // namespace

void reset()
{
	log.clear();
	selected_address.clear();
	ad9544_regs.clear();
	monitor_regs.clear();
	bus0_missing = bus1_missing = false;
	set_address_fails = false;
	closed.clear();
	override_result = nullptr;
	ad9544_pointer = 0;
	monitor_pointer = 0;
}

std::vector<std::vector<uint8_t>> writes(int fd)
{
	std::vector<std::vector<uint8_t>> out;
	for (const transfer &t : log)
		if (t.fd == fd && t.is_write)
			out.push_back(t.bytes);
	return out;
}

}  // namespace fake_i2c

using namespace fake_i2c;

int kx_i2c_open(const char *dev_path)
{
	std::string path(dev_path);
	if (ends_with(path, "/dev/i2c-0") && !bus0_missing)
		return BUS0_FD;
	if (ends_with(path, "/dev/i2c-1") && !bus1_missing)
		return BUS1_FD;
	errno = ENOENT;
	return -1;
}

int kx_i2c_set_address(int fd, int addr)
{
	if (set_address_fails || (fd != BUS0_FD && fd != BUS1_FD)) {
		errno = EINVAL;
		return -1;
	}
	selected_address[fd] = addr;
	return 0;
}

ssize_t kx_i2c_write(int fd, const void *buf, size_t len)
{
	const uint8_t *p = static_cast<const uint8_t *>(buf);
	transfer t{fd, true, std::vector<uint8_t>(p, p + len)};
	if (fd != BUS0_FD && fd != BUS1_FD) {
		log.push_back(t);
		errno = EBADF;
		return -1;
	}
	ssize_t r = decide(t);
	if (r != static_cast<ssize_t>(len))
		return r;
	if (fd == BUS0_FD && len >= 2) {
		uint16_t address = static_cast<uint16_t>((p[0] << 8) | p[1]);
		for (size_t i = 2; i < len; i++)
			ad9544_regs[static_cast<uint16_t>(address + i - 2)] = p[i];
		ad9544_pointer = address;
	} else if (fd == BUS1_FD && len >= 1) {
		monitor_pointer = p[0];
		if (len == 3)
			monitor_regs[p[0]] = static_cast<uint16_t>((p[1] << 8) | p[2]);
	}
	return r;
}

ssize_t kx_i2c_read(int fd, void *buf, size_t len)
{
	uint8_t *p = static_cast<uint8_t *>(buf);
	std::vector<uint8_t> bytes(len, 0);
	if (fd == BUS0_FD) {
		for (size_t i = 0; i < len; i++) {
			auto it = ad9544_regs.find(static_cast<uint16_t>(ad9544_pointer + i));
			bytes[i] = it == ad9544_regs.end() ? 0 : it->second;
		}
	} else if (fd == BUS1_FD) {
		uint16_t v = monitor_regs.count(monitor_pointer) ? monitor_regs[monitor_pointer] : 0;
		if (len >= 1)
			bytes[0] = static_cast<uint8_t>(v >> 8);
		if (len >= 2)
			bytes[1] = static_cast<uint8_t>(v & 0xFF);
	} else {
		log.push_back({fd, false, {}});
		errno = EBADF;
		return -1;
	}
	transfer t{fd, false, bytes};
	ssize_t r = decide(t);
	if (r > 0)
		std::memcpy(p, bytes.data(), static_cast<size_t>(r) < len ? static_cast<size_t>(r) : len);
	return r;
}

void kx_i2c_close(int fd)
{
	closed.push_back(fd);
}
