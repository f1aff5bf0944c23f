// simboard: the simulated board of the time server.
//
// Started with KX_ROOT set (or --root DIR), it creates under that directory
// the sockets that stand in for the board's device nodes, dev/i2c-0,
// dev/i2c-1 and dev/gpiochip0, which the simulation build of the programs
// opens instead of the real nodes, and the control socket run/simboard.sock,
// through which tests and the board simulator drive inputs (the button) and
// read what the hardware shows (the LCD rows, GPIO levels and consumers, the
// transfers on a bus). testbed/hwsim/README.md describes the protocols.
//
// One thread and one poll() loop: every message is handled to the end before
// the next, so the board's behaviour depends only on the order of messages
// and on the debounce timers.
#include "board.h"
#include "gpio_chip.h"
#include "kx_path.h"
#include "sim_wire.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

enum Kind { listen_i2c0, listen_i2c1, listen_gpio, listen_control, conn_i2c0, conn_i2c1, conn_gpio,
	    conn_control };

struct Conn {
	int fd;
	Kind kind;
	int addr = 0;             // I2C: selected device address
	std::string in;           // control: bytes of an unfinished line
	int wait_line = -1;       // control: reply held until this line settles
	std::string held_reply;
};

struct Device {
	const SimDeviceType *type;
	std::unique_ptr<SimI2cDevice> model;
};

constexpr size_t log_limit = 20000;

volatile sig_atomic_t stop_requested = 0;
bool quit_requested = false;
std::vector<Conn> conns;
std::vector<Device> devices;
std::vector<std::pair<const SimIoModelType *, std::unique_ptr<SimIoModel>>> io_models;
std::map<std::pair<int, int>, std::deque<std::string>> i2c_log;
std::vector<std::string> socket_paths;

void on_signal(int)
{
	stop_requested = 1;
}

int listen_on(const std::string &path, int type)
{
	sockaddr_un sa{};
	sa.sun_family = AF_UNIX;
	if (path.size() >= sizeof sa.sun_path) {
		std::fprintf(stderr, "simboard: path too long: %s\n", path.c_str());
		return -1;
	}
	std::strcpy(sa.sun_path, path.c_str());
	unlink(path.c_str());
	int fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
	if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) < 0 || listen(fd, 16) < 0) {
		std::fprintf(stderr, "simboard: cannot listen on %s: %s\n", path.c_str(), std::strerror(errno));
		return -1;
	}
	socket_paths.push_back(path);
	return fd;
}

Device *device_at(int bus, int addr)
{
	for (Device &d : devices)
		if (d.type->bus == bus && addr >= d.type->first_addr && addr <= d.type->last_addr)
			return &d;
	return nullptr;
}

void log_transfer(int bus, int addr, char dir, int result, const uint8_t *data, size_t len)
{
	auto &log = i2c_log[{bus, addr}];
	log.push_back(std::string(1, dir) + (result == 0 ? ":" : "!") + sim_hex(data, len));
	if (log.size() > log_limit)
		log.pop_front();
}

void handle_i2c(Conn &c, const uint8_t *msg, size_t len)
{
	int bus = c.kind == conn_i2c0 ? 0 : 1;
	uint8_t reply[kx_sim_msg_max];
	size_t reply_len = 1;
	reply[0] = EINVAL;
	if (len >= 2 && msg[0] == 'A') {
		c.addr = msg[1] & 0x7f;
		reply[0] = 0;
	} else if (len >= 1 && msg[0] == 'W') {
		Device *d = device_at(bus, c.addr);
		int r = d != nullptr ? d->model->on_write(c.addr, msg + 1, len - 1) : ENXIO;
		log_transfer(bus, c.addr, 'w', r, msg + 1, len - 1);
		reply[0] = static_cast<uint8_t>(r);
	} else if (len >= 3 && msg[0] == 'R') {
		size_t want = msg[1] | (static_cast<size_t>(msg[2]) << 8);
		if (want > kx_sim_i2c_max_transfer)
			want = kx_sim_i2c_max_transfer;
		Device *d = device_at(bus, c.addr);
		std::memset(reply + 1, 0xff, want);
		int r = d != nullptr ? d->model->on_read(c.addr, reply + 1, want) : ENXIO;
		log_transfer(bus, c.addr, 'r', r, reply + 1, r == 0 ? want : 0);
		reply[0] = static_cast<uint8_t>(r);
		if (r == 0)
			reply_len += want;
	}
	send(c.fd, reply, reply_len, MSG_NOSIGNAL);
}

std::vector<std::string> words_of(const std::string &line)
{
	std::vector<std::string> w;
	size_t i = 0;
	while (i < line.size()) {
		while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
			i++;
		size_t j = i;
		while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r')
			j++;
		if (j > i)
			w.push_back(line.substr(i, j - i));
		i = j;
	}
	return w;
}

bool bus_and_addr(const std::vector<std::string> &w, size_t at, int *bus, int *addr)
{
	bool ok1, ok2;
	if (w.size() < at + 2)
		return false;
	long b = sim_parse_number(w[at], &ok1);
	long a = sim_parse_number(w[at + 1], &ok2);
	if (!ok1 || !ok2 || b < 0 || b > 1 || a < 0 || a > 0x7f)
		return false;
	*bus = static_cast<int>(b);
	*addr = static_cast<int>(a);
	return true;
}

std::string i2c_control(const std::vector<std::string> &w)
{
	int bus, addr;
	if (w.size() == 3 && w[1] == "devices") {
		bool ok;
		long b = sim_parse_number(w[2], &ok);
		std::string out = "ok";
		char buf[8];
		for (const Device &d : devices)
			if (ok && d.type->bus == b)
				for (int a = d.type->first_addr; a <= d.type->last_addr; a++) {
					std::snprintf(buf, sizeof buf, " 0x%02x", a);
					out += buf;
				}
		return out;
	}
	if (w.size() == 4 && (w[1] == "log" || w[1] == "clear") && bus_and_addr(w, 2, &bus, &addr)) {
		auto &log = i2c_log[{bus, addr}];
		if (w[1] == "clear") {
			log.clear();
			return "ok";
		}
		std::string out = "ok " + std::to_string(log.size());
		for (const std::string &e : log)
			out += " " + e;
		return out;
	}
	return "err usage: i2c devices BUS | i2c log BUS ADDR | i2c clear BUS ADDR";
}

std::string control(Conn &c, const std::string &line)
{
	std::vector<std::string> w = words_of(line);
	if (w.empty())
		return "err empty command";
	if (w[0] == "ping")
		return "ok";
	if (w[0] == "quit") {
		quit_requested = true;
		return "ok";
	}
	if (w[0] == "gpio" || w[0] == "button")
		return gpio_control(w, &c.wait_line);
	if (w[0] == "i2c")
		return i2c_control(w);
	int bus, addr;
	if (w[0] == "dev") {
		if (w.size() < 4 || !bus_and_addr(w, 1, &bus, &addr))
			return "err usage: dev BUS ADDR command...";
		Device *d = device_at(bus, addr);
		if (d == nullptr)
			return "err no device";
		return d->model->on_control(std::vector<std::string>(w.begin() + 3, w.end()));
	}
	for (Device &d : devices)
		if (w[0] == d.type->name)
			return d.model->on_control(std::vector<std::string>(w.begin() + 1, w.end()));
	for (auto &m : io_models)
		if (w[0] == m.first->name)
			return m.second->on_control(std::vector<std::string>(w.begin() + 1, w.end()));
	return "err unknown command: " + w[0];
}

void reply_line(Conn &c, const std::string &text)
{
	std::string out = text + "\n";
	// Control clients read their replies; a blocking send keeps them whole.
	size_t done = 0;
	while (done < out.size()) {
		ssize_t n = send(c.fd, out.data() + done, out.size() - done, MSG_NOSIGNAL);
		if (n <= 0)
			return;
		done += static_cast<size_t>(n);
	}
}

// Runs the complete lines a control client has sent, stopping at a command
// whose reply waits for a debounce period, so replies keep their order.
void run_control_lines(Conn &c)
{
	while (c.wait_line < 0 && !quit_requested) {
		size_t nl = c.in.find('\n');
		if (nl == std::string::npos)
			return;
		std::string line = c.in.substr(0, nl);
		c.in.erase(0, nl + 1);
		std::string reply = control(c, line);
		if (c.wait_line >= 0 && !gpio_settled(c.wait_line)) {
			c.held_reply = reply;
			return;
		}
		c.wait_line = -1;
		reply_line(c, reply);
	}
}

bool service(Conn &c)
{
	uint8_t buf[kx_sim_msg_max];
	ssize_t n = recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
	if (n < 0)
		return errno == EAGAIN || errno == EINTR;
	if (n == 0)
		return false;
	switch (c.kind) {
	case conn_i2c0:
	case conn_i2c1:
		handle_i2c(c, buf, static_cast<size_t>(n));
		break;
	case conn_gpio: {
		std::string reply = gpio_handle_message(c.fd, std::string(reinterpret_cast<char *>(buf),
									  static_cast<size_t>(n)));
		if (!reply.empty())
			send(c.fd, reply.data(), reply.size(), MSG_NOSIGNAL);
		break;
	}
	case conn_control:
		c.in.append(reinterpret_cast<char *>(buf), static_cast<size_t>(n));
		if (c.in.size() > 65536)
			return false;  // not a line-based client
		run_control_lines(c);
		break;
	default:
		break;
	}
	return true;
}

void close_conn(size_t i)
{
	if (conns[i].kind == conn_gpio)
		gpio_connection_closed(conns[i].fd);
	close(conns[i].fd);
	conns.erase(conns.begin() + static_cast<long>(i));
}

void release_held_replies()
{
	for (Conn &c : conns)
		if (c.kind == conn_control && c.wait_line >= 0 && gpio_settled(c.wait_line)) {
			c.wait_line = -1;
			reply_line(c, c.held_reply);
			run_control_lines(c);
		}
}

int64_t next_deadline()
{
	int64_t deadline = gpio_next_deadline();
	for (auto &m : io_models) {
		int64_t d = m.second->next_deadline();
		if (d >= 0 && (deadline < 0 || d < deadline))
			deadline = d;
	}
	return deadline;
}

void run_timers()
{
	int64_t now = sim_now_ns();
	gpio_run_timers(now);
	for (auto &m : io_models)
		m.second->run_timers(now);
}

int run_board()
{
	while (!stop_requested && !quit_requested) {
		std::vector<pollfd> pfds;
		for (const Conn &c : conns)
			pfds.push_back({c.fd, POLLIN, 0});
		size_t count = pfds.size();
		std::vector<size_t> io_first;
		for (auto &m : io_models) {
			io_first.push_back(pfds.size());
			m.second->add_pollfds(pfds);
		}
		io_first.push_back(pfds.size());
		int timeout = -1;
		int64_t deadline = next_deadline();
		if (deadline >= 0) {
			int64_t left = deadline - sim_now_ns();
			timeout = left <= 0 ? 0 : static_cast<int>((left + 999999) / 1000000);
		}
		int r = poll(pfds.data(), pfds.size(), timeout);
		if (r < 0 && errno != EINTR) {
			std::perror("simboard: poll");
			return 1;
		}
		if (r > 0)
			for (size_t i = 0; i < io_models.size(); i++)
				io_models[i].second->polled(pfds.data() + io_first[i], io_first[i + 1] - io_first[i]);
		run_timers();
		release_held_replies();
		if (r <= 0)
			continue;
		std::vector<bool> closed(count, false);
		for (size_t i = 0; i < count; i++) {
			if (pfds[i].revents == 0)
				continue;
			Conn &c = conns[i];
			if (c.kind <= listen_control) {
				int fd = accept4(c.fd, nullptr, nullptr, SOCK_CLOEXEC);
				if (fd >= 0)
					conns.push_back({fd, static_cast<Kind>(c.kind + conn_i2c0)});
				continue;
			}
			if (!service(conns[i]))
				closed[i] = true;
		}
		for (size_t i = count; i-- > 0;)
			if (closed[i])
				close_conn(i);
		run_timers();
		release_held_replies();
	}
	return 0;
}

bool board_running(const std::string &control_path)
{
	sockaddr_un sa{};
	sa.sun_family = AF_UNIX;
	if (control_path.size() >= sizeof sa.sun_path)
		return false;
	std::strcpy(sa.sun_path, control_path.c_str());
	int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
	bool live = fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
	if (fd >= 0)
		close(fd);
	return live;
}

}  // namespace

int main(int argc, char **argv)
{
	kx_unbuffered_output();
	if (argc == 3 && std::strcmp(argv[1], "--root") == 0) {
		setenv("KX_ROOT", argv[2], 1);
	} else if (argc != 1) {
		std::fprintf(stderr, "usage: simboard [--root DIR]   (or KX_ROOT=DIR simboard)\n");
		return 2;
	}
	const char *root = std::getenv("KX_ROOT");
	if (root == nullptr || root[0] == '\0') {
		std::fprintf(stderr, "simboard: set KX_ROOT or pass --root DIR\n");
		return 2;
	}
	mkdir(kx_path("/dev").c_str(), 0755);
	mkdir(kx_path("/run").c_str(), 0755);
	std::string control_path = kx_path("/run/simboard.sock");
	if (board_running(control_path)) {
		std::fprintf(stderr, "simboard: a board already runs under %s\n", root);
		return 1;
	}

	struct sigaction sa{};
	sa.sa_handler = on_signal;
	sigaction(SIGTERM, &sa, nullptr);
	sigaction(SIGINT, &sa, nullptr);
	signal(SIGPIPE, SIG_IGN);

	for (const SimDeviceType &t : sim_device_types())
		devices.push_back({&t, t.make()});
	for (const SimIoModelType &t : sim_io_model_types())
		io_models.emplace_back(&t, t.make());

	struct {
		const char *path;
		int type;
		Kind kind;
	} listeners[] = {
		{"/dev/i2c-0", SOCK_SEQPACKET, listen_i2c0},
		{"/dev/i2c-1", SOCK_SEQPACKET, listen_i2c1},
		{"/dev/gpiochip0", SOCK_SEQPACKET, listen_gpio},
		{"/run/simboard.sock", SOCK_STREAM, listen_control},  // last: ready
	};
	int status = 0;
	size_t started = 0;
	for (; started < io_models.size(); started++)
		if (io_models[started].second->start() < 0) {
			status = 1;
			break;
		}
	for (auto &l : listeners) {
		if (status != 0)
			break;
		int fd = listen_on(kx_path(l.path), l.type);
		if (fd < 0) {
			status = 1;
			break;
		}
		conns.push_back({fd, l.kind});
	}
	if (status == 0) {
		std::printf("simboard ready\n");
		status = run_board();
	}
	while (started-- > 0)
		io_models[started].second->stop();
	for (const std::string &p : socket_paths)
		unlink(p.c_str());
	for (Conn &c : conns)
		close(c.fd);
	return status;
}
