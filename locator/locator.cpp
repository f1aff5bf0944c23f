// locator: answers discovery datagrams on UDP port 7372.
//
// Management tools find the unit by sending a datagram whose first byte is
// 0xA1; each gets one 80-byte reply with the unit's identity and state. The
// service answers at most one request every 50 ms so that a flood of
// requests cannot take the CPU from the timing daemons; further requests
// wait in the socket.
#include "kx_file.h"
#include "kx_path.h"
#include "locator_reply.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// At boot another service may still hold the port: the failure is reported
// and the bind tried again every second until the port is ours, so the
// service never runs on unbound, answering nobody.
unique_fd open_locator_socket()
{
	sockaddr_in addr{};
	addr.sin_family = AF_INET;
	addr.sin_addr.s_addr = htonl(INADDR_ANY);
	addr.sin_port = htons(locator_port);
	for (;;) {
		unique_fd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
		if (fd.valid() &&
		    bind(fd.get(), reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0) {
			int flags = fcntl(fd.get(), F_GETFL, 0);
			if (flags >= 0)
				fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK);
			return fd;
		}
		std::printf("Error binding socket\n");
		sleep(1);
	}
}

void answer(int fd, const sockaddr_in &from)
{
	unsigned char reply[locator_reply_size];
	locator_build_reply(reply);
	ssize_t sent = sendto(fd, reply, sizeof(reply), 0,
			      reinterpret_cast<const sockaddr *>(&from), sizeof(from));
	int err = errno;
	std::uint32_t a = ntohl(from.sin_addr.s_addr);
	std::printf("Locator Sent %d bytes to: %d.%d.%d.%d\n", static_cast<int>(sent),
		    static_cast<int>((a >> 24) & 0xFF), static_cast<int>((a >> 16) & 0xFF),
		    static_cast<int>((a >> 8) & 0xFF), static_cast<int>(a & 0xFF));
	if (sent < 0)
		std::printf("Errno=%d\n", err);
}

void sleep_50ms()
{
	struct timespec ts = {0, 50 * 1000 * 1000};
	while (nanosleep(&ts, &ts) < 0 && errno == EINTR) {
	}
}

} // namespace

int main()
{
	kx_unbuffered_output();
	std::printf("Locator Service Started\n");
	unique_fd sock = open_locator_socket();
	int fd = sock.get();

	static unsigned char request[locator_max_request];
	for (;;) {
		sockaddr_in from{};
		socklen_t fromlen = sizeof(from);
		ssize_t n = recvfrom(fd, request, sizeof(request), 0,
				     reinterpret_cast<sockaddr *>(&from), &fromlen);
		if (locator_is_request(request, n))
			answer(fd, from);
		sleep_50ms();
	}
}
