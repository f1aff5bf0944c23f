// The PTP clock character device through the plain system calls.
#include "ptppin.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

int ptp_open(const char *path)
{
	return open(path, O_RDWR);
}

int ptp_ioctl(int fd, unsigned long request, void *arg)
{
	return ioctl(fd, request, arg);
}

int ptp_close(int fd)
{
	return close(fd);
}
