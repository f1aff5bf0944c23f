#include "chrony_metrics.h"

#include "kx_file.h"
#include "kx_path.h"
#include "source_text.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <vector>

extern char **environ;

namespace {

// chronyc gives up on a silent chronyd by itself after some seconds; this
// cap only keeps a stuck chronyc from holding the next run.
constexpr int CHRONYC_CAP_MS = 5000;

std::vector<std::string_view> split(std::string_view line, char sep)
{
	std::vector<std::string_view> fields;
	for (;;) {
		size_t at = line.find(sep);
		fields.push_back(line.substr(0, at));
		if (at == std::string_view::npos)
			return fields;
		line.remove_prefix(at + 1);
	}
}

// The leap status as chronyd's NTP replies carry it.
std::optional<double> leap_number(std::string_view text)
{
	static const char *const names[] = {"Normal", "Insert second", "Delete second",
					    "Not synchronised"};
	for (int i = 0; i < 4; i++)
		if (text == names[i])
			return i;
	return std::nullopt;
}

int64_t monotonic_ms()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// chronyc's standard output, or nothing when it could not be started, failed
// or did not finish within the cap (it is then killed).
std::optional<std::string> run_chronyc()
{
	int pipe_fds[2];
	if (pipe2(pipe_fds, O_CLOEXEC) != 0)
		return std::nullopt;
	unique_fd from_child(pipe_fds[0]);
	unique_fd to_parent(pipe_fds[1]);

	std::string socket = kx_path("/run/chrony/chronyd.sock");
	const char *argv[] = {"chronyc", "-n", "-c", "-h", socket.c_str(), "tracking", nullptr};
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_adddup2(&actions, to_parent.get(), STDOUT_FILENO);
	posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
	pid_t pid;
	int err = posix_spawnp(&pid, "chronyc", &actions, nullptr, const_cast<char **>(argv),
			       environ);
	posix_spawn_file_actions_destroy(&actions);
	to_parent.reset();
	if (err != 0)
		return std::nullopt;

	std::string out;
	bool complete = false;
	int64_t deadline = monotonic_ms() + CHRONYC_CAP_MS;
	for (;;) {
		int64_t left = deadline - monotonic_ms();
		if (left <= 0)
			break;
		pollfd p{from_child.get(), POLLIN, 0};
		int r = poll(&p, 1, static_cast<int>(left));
		if (r < 0 && errno == EINTR)
			continue;
		if (r <= 0)
			break;
		char buf[1024];
		ssize_t n = read(from_child.get(), buf, sizeof buf);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0) {
			complete = n == 0;
			break;
		}
		out.append(buf, static_cast<size_t>(n));
	}
	if (!complete)
		kill(pid, SIGKILL);
	int status = 0;
	while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
	}
	if (!complete || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
		return std::nullopt;
	return out;
}

std::optional<double> number(std::string_view field)
{
	return parse_decimal(field);
}

} // namespace

void add_chrony_tracking(prom_text &out, std::string_view line)
{
	while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
		line.remove_suffix(1);
	// Reference ID, name, stratum, reference time, system time, last
	// offset, RMS offset, frequency, residual frequency, skew, root delay,
	// root dispersion, update interval, leap status
	std::vector<std::string_view> f = split(line, ',');
	if (f.size() != 14)
		return;
	std::optional<double> ref_time = number(f[3]);
	if (ref_time && *ref_time == 0)
		ref_time.reset();	// never updated: no reference time
	auto ppm = [](std::optional<double> v) {
		if (v)
			*v /= 1e6;	// a division rounds 12.5 ppm to exactly 1.25e-05
		return v;
	};

	prom_add(out, "kx_chrony_tracking_info", "gauge",
		 "chronyd's reference and leap status as text (value always 1)", 1.0,
		 {{"reference_id", std::string(f[0])},
		  {"reference_name", std::string(f[1])},
		  {"leap_status", std::string(f[13])}});
	prom_add(out, "kx_chrony_stratum", "gauge",
		 "Stratum chronyd serves (0 while it has no reference)", number(f[2]));
	prom_add(out, "kx_chrony_reference_timestamp_seconds", "gauge",
		 "Time of chronyd's last clock update from its reference, seconds since 1970", ref_time);
	prom_add(out, "kx_chrony_system_time_offset_seconds", "gauge",
		 "Offset chronyd is correcting in the system clock; positive: the system clock is "
		 "slow of NTP time",
		 number(f[4]));
	prom_add(out, "kx_chrony_last_offset_seconds", "gauge",
		 "Offset estimated at chronyd's last clock update", number(f[5]));
	prom_add(out, "kx_chrony_rms_offset_seconds", "gauge",
		 "Long-term average (RMS) of chronyd's offset estimates", number(f[6]));
	prom_add(out, "kx_chrony_frequency_ratio", "gauge",
		 "Frequency error of the system clock chronyd compensates (ppm x 1e-6); negative: "
		 "the clock would run slow",
		 ppm(number(f[7])));
	prom_add(out, "kx_chrony_residual_frequency_ratio", "gauge",
		 "Residual frequency of the reference against chronyd's estimate (ppm x 1e-6)",
		 ppm(number(f[8])));
	prom_add(out, "kx_chrony_skew_ratio", "gauge",
		 "Estimated error bound of the frequency (ppm x 1e-6)", ppm(number(f[9])));
	prom_add(out, "kx_chrony_root_delay_seconds", "gauge",
		 "Total round-trip delay to the stratum-1 reference", number(f[10]));
	prom_add(out, "kx_chrony_root_dispersion_seconds", "gauge",
		 "Total dispersion accumulated to the stratum-1 reference (grows in holdover)",
		 number(f[11]));
	prom_add(out, "kx_chrony_update_interval_seconds", "gauge",
		 "Interval between chronyd's last two clock updates", number(f[12]));
	prom_add(out, "kx_chrony_leap_status", "gauge",
		 "chronyd's leap status: 0 normal, 1 insert second, 2 delete second, "
		 "3 not synchronised",
		 leap_number(f[13]));
}

void collect_chrony_metrics(prom_text &out)
{
	std::optional<std::string> text = run_chronyc();
	if (!text)
		return;
	add_chrony_tracking(out, std::string_view(*text).substr(0, text->find('\n')));
}
