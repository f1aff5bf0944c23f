#include "sim_socket.h"

#include "sim_wire.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int sim_connect(const char *path)
{
	sockaddr_un sa{};
	sa.sun_family = AF_UNIX;
	if (std::strlen(path) >= sizeof sa.sun_path) {
		errno = ENAMETOOLONG;
		return -1;
	}
	std::strcpy(sa.sun_path, path);
	int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
	if (fd < 0)
		return -1;
	if (connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) < 0) {
		int e = errno;
		close(fd);
		// A socket file left behind by a board that is gone: no device.
		errno = (e == ECONNREFUSED) ? ENXIO : e;
		return -1;
	}
	return fd;
}

ssize_t sim_call(int fd, const void *msg, size_t len, void *reply, size_t cap)
{
	// panelmon's tick signal arrives every 100 ms without SA_RESTART; an
	// interrupted call is simply repeated.
	ssize_t sent;
	do
		sent = send(fd, msg, len, MSG_NOSIGNAL);
	while (sent < 0 && errno == EINTR);
	if (sent < 0) {
		if (errno == EPIPE || errno == ECONNRESET)
			errno = EIO;
		return -1;
	}
	ssize_t n;
	do
		n = recv(fd, reply, cap, 0);
	while (n < 0 && errno == EINTR);
	if (n <= 0) {
		if (n == 0 || errno == ECONNRESET)
			errno = EIO;
		return -1;
	}
	return n;
}

int sim_call_text(int fd, const std::string &msg, std::string *rest)
{
	char buf[512];
	ssize_t n = sim_call(fd, msg.data(), msg.size(), buf, sizeof buf - 1);
	if (n < 0)
		return -1;
	buf[n] = '\0';
	if (std::strncmp(buf, "ok", 2) == 0 && (buf[2] == '\0' || buf[2] == ' ')) {
		if (rest != nullptr)
			*rest = buf[2] == ' ' ? buf + 3 : "";
		return 0;
	}
	int e = EIO;
	if (std::strncmp(buf, "err ", 4) == 0) {
		e = std::atoi(buf + 4);
		if (e <= 0)
			e = EIO;
	}
	errno = e;
	return -1;
}
