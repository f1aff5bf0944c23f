#include "recording_seam.h"

#include "char_lcd.h"
#include "kx_i2c.h"

#include <cerrno>
#include <cstdio>

RecordingSeam seam;

void seam_reset()
{
	seam = RecordingSeam{};
}

std::string seam_events(size_t from)
{
	std::string out;
	for (size_t i = from; i < seam.events.size(); i++)
		out += (out.empty() ? "" : " | ") + seam.events[i];
	return out;
}

int kx_i2c_open(const char *dev_path)
{
	seam.events.push_back(std::string("open ") + dev_path);
	if (seam.fail_open) {
		errno = ENOENT;
		return -1;
	}
	return seam.next_fd;
}

int kx_i2c_set_address(int, int addr)
{
	char b[16];
	std::snprintf(b, sizeof b, "addr %02x", addr);
	seam.events.push_back(b);
	if (seam.fail_address) {
		errno = EBUSY;
		return -1;
	}
	return 0;
}

ssize_t kx_i2c_write(int fd, const void *buf, size_t len)
{
	std::string e = fd == seam.next_fd ? "w" : "w(fd " + std::to_string(fd) + ")";
	char b[4];
	for (size_t i = 0; i < len; i++) {
		std::snprintf(b, sizeof b, " %02x", static_cast<const unsigned char *>(buf)[i]);
		e += b;
	}
	seam.events.push_back(e);
	return static_cast<ssize_t>(len);
}

ssize_t kx_i2c_read(int, void *, size_t)
{
	seam.events.push_back("read");
	return -1;
}

void kx_i2c_close(int fd)
{
	seam.events.push_back("close " + std::to_string(fd));
}

void lcd_pause_us(unsigned int us)
{
	seam.events.push_back("pause " + std::to_string(us));
}
