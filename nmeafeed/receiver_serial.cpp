#include "receiver_serial.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>

int configure_serial(int fd, int speed)
{
	termios tty{};
	if (tcgetattr(fd, &tty) != 0) {
		printf("Failed to get serial port attribute handle\n");
		return -1;
	}
	if (speed == 9600) {
		if (cfsetispeed(&tty, B9600) != 0 || cfsetospeed(&tty, B9600) != 0) {
			printf("Error setting 9600bps baudrate\n");
			return -1;
		}
	} else if (speed == 115200) {
		if (cfsetispeed(&tty, B115200) != 0 || cfsetospeed(&tty, B115200) != 0) {
			printf("Error setting 115200bps baudrate\n");
			return -1;
		}
	}
	tty.c_cflag &= ~(PARENB | CSTOPB | CSIZE);
	tty.c_cflag |= CLOCAL | CREAD | CS8;
	tty.c_iflag = 0;
	tty.c_oflag = 0;
	tty.c_lflag = 0;
	if (tcsetattr(fd, TCSANOW, &tty) != 0) {
		printf("tcsetattr\n");
		return -1;
	}
	tcflush(fd, TCIOFLUSH);
	return 0;
}

int write_to_receiver(int fd, const void *data, size_t length)
{
	if (write(fd, data, length) <= 0) {
		printf("Error writing to gps module\n");
		return -1;
	}
	return 0;
}
