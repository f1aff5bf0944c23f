#include "simboard_client.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool read_ready_line(int fd)
{
	std::string got;
	for (int waited = 0; waited < 10000;) {
		pollfd p{fd, POLLIN, 0};
		if (poll(&p, 1, 100) <= 0) {
			waited += 100;
			continue;
		}
		char c;
		if (read(fd, &c, 1) != 1)
			return false;
		got += c;
		if (c == '\n')
			return got == "simboard ready\n";
	}
	return false;
}

int connect_control(const std::string &path)
{
	sockaddr_un sa{};
	sa.sun_family = AF_UNIX;
	if (path.size() >= sizeof sa.sun_path)
		return -1;
	std::strcpy(sa.sun_path, path.c_str());
	int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
	if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0)
		return fd;
	if (fd >= 0)
		close(fd);
	return -1;
}

}  // namespace

bool simboard_start(SimBoardRun *b, const std::string &root)
{
	b->root = root;
	b->own_root = false;
	if (b->root.empty()) {
		char tmpl[] = "/tmp/kxsim.XXXXXX";
		if (mkdtemp(tmpl) == nullptr)
			return false;
		b->root = tmpl;
		b->own_root = true;
	}
	setenv("KX_ROOT", b->root.c_str(), 1);
	int out[2];
	if (pipe2(out, O_CLOEXEC) < 0)
		return false;
	b->pid = fork();
	if (b->pid == 0) {
		dup2(out[1], 1);
		execl(KX_SIMBOARD_PATH, "simboard", "--root", b->root.c_str(), static_cast<char *>(nullptr));
		_exit(127);
	}
	close(out[1]);
	bool ready = b->pid > 0 && read_ready_line(out[0]);
	close(out[0]);
	if (ready)
		b->control_fd = connect_control(b->root + "/run/simboard.sock");
	if (b->control_fd < 0) {
		simboard_stop(b);
		return false;
	}
	return true;
}

std::string simboard_command(SimBoardRun *b, const std::string &command)
{
	if (b->control_fd < 0)
		return "";
	std::string line = command + "\n";
	if (send(b->control_fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size()))
		return "";
	for (;;) {
		size_t nl = b->pending.find('\n');
		if (nl != std::string::npos) {
			std::string reply = b->pending.substr(0, nl);
			b->pending.erase(0, nl + 1);
			return reply;
		}
		pollfd p{b->control_fd, POLLIN, 0};
		if (poll(&p, 1, 10000) <= 0)
			return "";
		char buf[4096];
		ssize_t n = recv(b->control_fd, buf, sizeof buf, 0);
		if (n <= 0)
			return "";
		b->pending.append(buf, static_cast<size_t>(n));
	}
}

bool simboard_ok(SimBoardRun *b, const std::string &command, std::string *rest)
{
	std::string reply = simboard_command(b, command);
	if (reply != "ok" && reply.rfind("ok ", 0) != 0)
		return false;
	if (rest != nullptr)
		*rest = reply.size() > 3 ? reply.substr(3) : "";
	return true;
}

void simboard_stop(SimBoardRun *b)
{
	if (b->control_fd >= 0) {
		simboard_command(b, "quit");
		close(b->control_fd);
		b->control_fd = -1;
	}
	if (b->pid > 0) {
		int status;
		int waited = 0;
		while (waitpid(b->pid, &status, WNOHANG) == 0) {
			if (waited >= 3000) {
				kill(b->pid, SIGKILL);
				waitpid(b->pid, &status, 0);
				break;
			}
			usleep(10000);
			waited += 10;
		}
		b->pid = -1;
	}
	if (b->own_root && !b->root.empty()) {
		std::error_code ec;
		std::filesystem::remove_all(b->root, ec);
		b->own_root = false;
	}
}

std::string simboard_unescape(const std::string &text)
{
	std::string out;
	for (size_t i = 0; i < text.size(); i++) {
		if (text[i] != '\\' || i + 1 >= text.size()) {
			out += text[i];
			continue;
		}
		if (text[i + 1] == 'x' && i + 3 < text.size()) {
			out += static_cast<char>(std::strtol(text.substr(i + 2, 2).c_str(), nullptr, 16));
			i += 3;
		} else {
			out += text[i + 1];
			i++;
		}
	}
	return out;
}
