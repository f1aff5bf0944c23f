#include "kx_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "kx_file.h"

extern char **environ;

namespace {

constexpr size_t kOutputLimit = 64 * 1024;

long long now_ms()
{
	timespec ts{};
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

// Reads the child's output until it closes its end or the deadline passes.
// Returns false when the deadline passed first.
bool collect(int fd, std::string *output, long long deadline)
{
	char buf[4096];
	for (;;) {
		long long left = deadline - now_ms();
		if (left <= 0)
			return false;
		pollfd p{fd, POLLIN, 0};
		int r = poll(&p, 1, static_cast<int>(left));
		if (r < 0 && errno == EINTR)
			continue;
		if (r <= 0)
			return r == 0 ? false : true;
		ssize_t n = read(fd, buf, sizeof buf);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return true;
		if (output != nullptr && output->size() < kOutputLimit)
			output->append(buf, std::min(static_cast<size_t>(n), kOutputLimit - output->size()));
	}
}

// Waits for the child until the deadline; kills it then (at once when its
// output already ran past the deadline).
int reap(pid_t pid, long long deadline, bool in_time)
{
	if (!in_time)
		kill(pid, SIGKILL);
	int status = 0;
	for (;;) {
		pid_t r = waitpid(pid, &status, in_time ? WNOHANG : 0);
		if (r == pid)
			break;
		if (r < 0 && errno != EINTR)
			return -1;
		if (r == 0 && now_ms() >= deadline) {
			kill(pid, SIGKILL);
			in_time = false;
		} else if (r == 0) {
			usleep(10000);
		}
	}
	// 127 is what the child exits with when the program could not be
	// executed after all (where the spawn cannot report it, as under an
	// emulator that turns vfork into fork): not started, like any other.
	if (!in_time || !WIFEXITED(status) || WEXITSTATUS(status) == 127)
		return -1;
	return WEXITSTATUS(status);
}

} // namespace

int kx_run(const std::vector<std::string> &argv, std::string *output, int timeout_ms)
{
	if (argv.empty())
		return -1;
	int pipefd[2];
	if (pipe2(pipefd, O_CLOEXEC) != 0)
		return -1;
	unique_fd rd(pipefd[0]), wr(pipefd[1]);

	posix_spawn_file_actions_t fa;
	posix_spawn_file_actions_init(&fa);
	posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
	posix_spawn_file_actions_adddup2(&fa, wr.get(), 1);
	posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);

	std::vector<char *> args;
	for (const std::string &a : argv)
		args.push_back(const_cast<char *>(a.c_str()));
	args.push_back(nullptr);

	pid_t pid = -1;
	int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
	posix_spawn_file_actions_destroy(&fa);
	wr.reset();
	if (rc != 0)
		return -1;

	if (output != nullptr)
		output->clear();
	long long deadline = now_ms() + timeout_ms;
	bool in_time = collect(rd.get(), output, deadline);
	return reap(pid, deadline, in_time);
}
