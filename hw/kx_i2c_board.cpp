// The board's I2C access: plain i2c-dev system calls.
#include "kx_i2c.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <unistd.h>

int kx_i2c_open(const char *dev_path)
{
	return open(dev_path, O_RDWR);
}

int kx_i2c_set_address(int fd, int addr)
{
	return ioctl(fd, I2C_SLAVE, addr) < 0 ? -1 : 0;
}

ssize_t kx_i2c_write(int fd, const void *buf, size_t len)
{
	return write(fd, buf, len);
}

ssize_t kx_i2c_read(int fd, void *buf, size_t len)
{
	return read(fd, buf, len);
}

void kx_i2c_close(int fd)
{
	if (fd >= 0)
		close(fd);
}
