// I2C access of the simulation build: each descriptor is a connection to the
// socket that simboard puts where the device node would be.
#include "kx_i2c.h"

#include "sim_socket.h"
#include "sim_wire.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

int kx_i2c_open(const char *dev_path)
{
	return sim_connect(dev_path);
}

int kx_i2c_set_address(int fd, int addr)
{
	// i2c-dev accepts any 7-bit address; only the transfers find out
	// whether a chip answers.
	if (addr < 0 || addr > 0x7f) {
		errno = EINVAL;
		return -1;
	}
	unsigned char msg[2] = {'A', static_cast<unsigned char>(addr)};
	unsigned char reply[1];
	if (sim_call(fd, msg, sizeof msg, reply, sizeof reply) < 1)
		return -1;
	if (reply[0] != 0) {
		errno = reply[0];
		return -1;
	}
	return 0;
}

ssize_t kx_i2c_write(int fd, const void *buf, size_t len)
{
	if (len > kx_sim_i2c_max_transfer)
		len = kx_sim_i2c_max_transfer;
	unsigned char msg[kx_sim_msg_max];
	msg[0] = 'W';
	if (len > 0)
		std::memcpy(msg + 1, buf, len);
	unsigned char reply[1];
	if (sim_call(fd, msg, len + 1, reply, sizeof reply) < 1)
		return -1;
	if (reply[0] != 0) {
		errno = reply[0];
		return -1;
	}
	return static_cast<ssize_t>(len);
}

ssize_t kx_i2c_read(int fd, void *buf, size_t len)
{
	if (len > kx_sim_i2c_max_transfer)
		len = kx_sim_i2c_max_transfer;
	unsigned char msg[3] = {'R', static_cast<unsigned char>(len & 0xff),
				static_cast<unsigned char>(len >> 8)};
	unsigned char reply[kx_sim_msg_max];
	ssize_t n = sim_call(fd, msg, sizeof msg, reply, sizeof reply);
	if (n < 1)
		return -1;
	if (reply[0] != 0) {
		errno = reply[0];
		return -1;
	}
	size_t got = static_cast<size_t>(n - 1);
	if (got > len)
		got = len;
	std::memcpy(buf, reply + 1, got);
	return static_cast<ssize_t>(got);
}

void kx_i2c_close(int fd)
{
	if (fd >= 0)
		close(fd);
}
