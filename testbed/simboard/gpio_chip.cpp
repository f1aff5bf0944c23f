#include "gpio_chip.h"

#include "board.h"
#include "sim_wire.h"

#include <gpiod.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <map>
#include <sys/socket.h>

namespace {

// The front-panel button pulls line 1 to ground while pressed.
constexpr int button_line = 1;

struct Line {
	int request = 0;         // id of the holding request, 0 when free
	std::string consumer;
	int direction = GPIOD_LINE_DIRECTION_INPUT;
	int edge = GPIOD_LINE_EDGE_NONE;
	int bias = GPIOD_LINE_BIAS_AS_IS;
	bool active_low = false;
	unsigned long debounce_us = 0;
	int out_level = 0;       // physical level driven by an output request
	int outside = -1;        // level driven from outside, -1 floating
	int debounced = 0;       // level as the edge detector last settled it
	int64_t deadline = -1;   // end of a running debounce period
	unsigned long line_seq = 0;
	unsigned long events = 0;  // edge events delivered
};

struct Request {
	int cmd_fd;
	int ev_fd = -1;
	std::vector<int> offsets;
	unsigned long global_seq = 0;
	std::deque<std::string> unsent;  // events before the attach
};

Line lines[kx_sim_gpio_lines];
std::map<int, Request> requests;  // by id
int next_request_id = 1;

int physical_level(const Line &l)
{
	if (l.request != 0 && l.direction == GPIOD_LINE_DIRECTION_OUTPUT)
		return l.out_level;
	if (l.outside >= 0)
		return l.outside;
	if (l.request != 0 && l.bias == GPIOD_LINE_BIAS_PULL_UP)
		return 1;
	return 0;
}

bool detects_edges(const Line &l)
{
	return l.request != 0 && l.direction == GPIOD_LINE_DIRECTION_INPUT;
}

constexpr size_t unsent_limit = 64;

void deliver(Request &r, const std::string &ev)
{
	if (r.ev_fd == -2)
		return;  // the client closed its event connection
	if (r.ev_fd < 0) {
		if (r.unsent.size() < unsent_limit)
			r.unsent.push_back(ev);
		return;
	}
	// A full queue drops the event, as the kernel's event FIFO does.
	send(r.ev_fd, ev.data(), ev.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

void settle(int offset, int64_t now)
{
	Line &l = lines[offset];
	l.deadline = -1;
	int level = physical_level(l);
	if (level == l.debounced)
		return;
	l.debounced = level;
	bool rising = level == 1;
	bool wanted = l.edge == GPIOD_LINE_EDGE_BOTH ||
		      (rising && l.edge == GPIOD_LINE_EDGE_RISING) ||
		      (!rising && l.edge == GPIOD_LINE_EDGE_FALLING);
	if (!wanted)
		return;
	auto it = requests.find(l.request);
	if (it == requests.end())
		return;
	Request &r = it->second;
	// Edge names follow the logical value, as the kernel reports them.
	bool logical_rising = rising != l.active_low;
	char ev[128];
	std::snprintf(ev, sizeof ev, "edge %d %d %" PRId64 " %lu %lu", offset,
		      logical_rising ? GPIOD_EDGE_EVENT_RISING_EDGE : GPIOD_EDGE_EVENT_FALLING_EDGE,
		      now, ++r.global_seq, ++l.line_seq);
	l.events++;
	deliver(r, ev);
}

// The level of a line may have changed: start its debounce period, or with
// no debounce let the edge detector see the change at once.
void level_changed(int offset)
{
	Line &l = lines[offset];
	if (!detects_edges(l)) {
		l.debounced = physical_level(l);
		return;
	}
	int64_t now = sim_now_ns();
	if (l.debounce_us == 0)
		settle(offset, now);
	else if (physical_level(l) != l.debounced || l.deadline >= 0)
		l.deadline = now + static_cast<int64_t>(l.debounce_us) * 1000;
}

void release(int id)
{
	auto it = requests.find(id);
	if (it == requests.end())
		return;
	for (int off : it->second.offsets) {
		lines[off] = Line{.outside = lines[off].outside, .events = lines[off].events};
		lines[off].debounced = physical_level(lines[off]);
	}
	requests.erase(it);
}

std::string err(int e)
{
	return "err " + std::to_string(e);
}

std::string unhex(const std::string &h)
{
	std::string out;
	if (h == "-")
		return out;
	for (size_t i = 0; i + 1 < h.size(); i += 2)
		out += static_cast<char>(std::strtol(h.substr(i, 2).c_str(), nullptr, 16));
	return out;
}

std::string handle_request(int fd, const std::vector<std::string> &w)
{
	if (w.size() < 4)
		return err(EINVAL);
	size_t n = std::strtoul(w[3].c_str(), nullptr, 10);
	if (n == 0 || n > 64 || w.size() != 4 + n)
		return err(EINVAL);
	for (auto &[id, r] : requests)
		if (r.cmd_fd == fd)
			return err(EBUSY);  // one request per connection
	std::vector<Line> wanted;
	std::vector<int> offsets;
	for (size_t i = 0; i < n; i++) {
		int off, dir, edge, bias, drive, al, value;
		unsigned long deb;
		if (std::sscanf(w[4 + i].c_str(), "%d,%d,%d,%d,%d,%d,%lu,%d", &off, &dir, &edge, &bias,
				&drive, &al, &deb, &value) != 8)
			return err(EINVAL);
		if (off < 0 || off >= kx_sim_gpio_lines ||
		    std::find(offsets.begin(), offsets.end(), off) != offsets.end())
			return err(EINVAL);
		// Edge detection only makes sense on an input (the kernel
		// refuses it on outputs).
		if (edge != GPIOD_LINE_EDGE_NONE && dir != GPIOD_LINE_DIRECTION_INPUT)
			return err(EINVAL);
		if (lines[off].request != 0)
			return err(EBUSY);
		Line l = lines[off];
		l.consumer = unhex(w[1]);
		if (l.consumer.empty())
			l.consumer = "?";
		l.direction = dir == GPIOD_LINE_DIRECTION_OUTPUT ? GPIOD_LINE_DIRECTION_OUTPUT
								 : GPIOD_LINE_DIRECTION_INPUT;
		l.edge = edge;
		l.bias = bias;
		l.active_low = al != 0;
		l.debounce_us = deb;
		l.out_level = (value == GPIOD_LINE_VALUE_ACTIVE) != l.active_low ? 1 : 0;
		l.deadline = -1;
		wanted.push_back(l);
		offsets.push_back(off);
	}
	int id = next_request_id++;
	for (size_t i = 0; i < n; i++) {
		Line &l = lines[offsets[i]];
		l = wanted[i];
		l.request = id;
		l.debounced = physical_level(l);
	}
	requests[id] = Request{.cmd_fd = fd, .offsets = offsets};
	return "ok " + std::to_string(id);
}

Request *request_of(int fd)
{
	for (auto &[id, r] : requests)
		if (r.cmd_fd == fd)
			return &r;
	return nullptr;
}

std::vector<std::string> split(const std::string &s)
{
	std::vector<std::string> w;
	size_t i = 0;
	while (i < s.size()) {
		while (i < s.size() && s[i] == ' ')
			i++;
		size_t j = i;
		while (j < s.size() && s[j] != ' ')
			j++;
		if (j > i)
			w.push_back(s.substr(i, j - i));
		i = j;
	}
	return w;
}

const char *name_of(int v, std::initializer_list<std::pair<int, const char *>> names)
{
	for (auto &[k, n] : names)
		if (k == v)
			return n;
	return "?";
}

bool parse_line(const std::string &word, int *offset)
{
	bool ok;
	long v = sim_parse_number(word, &ok);
	if (!ok || v < 0 || v >= kx_sim_gpio_lines)
		return false;
	*offset = static_cast<int>(v);
	return true;
}

}  // namespace

int64_t sim_now_ns()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::string gpio_handle_message(int fd, const std::string &msg)
{
	std::vector<std::string> w = split(msg);
	if (w.empty())
		return err(EINVAL);
	if (w[0] == "info")
		return "ok " + std::to_string(kx_sim_gpio_lines) + " gpiochip0 kx-sim-gpio";
	if (w[0] == "request")
		return handle_request(fd, w);
	if (w[0] == "attach" && w.size() == 2) {
		auto it = requests.find(std::atoi(w[1].c_str()));
		if (it == requests.end() || it->second.ev_fd >= 0)
			return err(EINVAL);
		it->second.ev_fd = fd;
		// The reply goes out before the held-back events (the caller
		// sends it first); queue them behind it.
		std::string reply = "ok";
		send(fd, reply.data(), reply.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
		for (auto &ev : it->second.unsent)
			deliver(it->second, ev);
		it->second.unsent.clear();
		return "";
	}
	Request *r = request_of(fd);
	int off;
	if (w[0] == "release" && w.size() == 1) {
		if (r == nullptr)
			return err(EINVAL);
		for (auto &[id, req] : requests)
			if (&req == r) {
				release(id);
				break;
			}
		return "ok";
	}
	if ((w[0] == "get" && w.size() == 2) || (w[0] == "set" && w.size() == 3)) {
		if (r == nullptr || !parse_line(w[1], &off) ||
		    std::find(r->offsets.begin(), r->offsets.end(), off) == r->offsets.end())
			return err(EINVAL);
		Line &l = lines[off];
		if (w[0] == "get") {
			// Debounced inputs read their settled level.
			int level = (l.direction == GPIOD_LINE_DIRECTION_INPUT && l.debounce_us > 0)
					    ? l.debounced
					    : physical_level(l);
			return std::string("ok ") + ((level != 0) != l.active_low ? "1" : "0");
		}
		if (l.direction != GPIOD_LINE_DIRECTION_OUTPUT)
			return err(EPERM);
		l.out_level = (w[2] == "1") != l.active_low ? 1 : 0;
		return "ok";
	}
	return err(EINVAL);
}

void gpio_connection_closed(int fd)
{
	for (auto &[id, r] : requests) {
		if (r.cmd_fd == fd) {
			release(id);
			return;
		}
		if (r.ev_fd == fd)
			r.ev_fd = -2;  // events go nowhere until the request ends
	}
}

int64_t gpio_next_deadline()
{
	int64_t best = -1;
	for (const Line &l : lines)
		if (l.deadline >= 0 && (best < 0 || l.deadline < best))
			best = l.deadline;
	return best;
}

void gpio_run_timers(int64_t now)
{
	for (int i = 0; i < kx_sim_gpio_lines; i++)
		if (lines[i].deadline >= 0 && lines[i].deadline <= now)
			settle(i, now);
}

bool gpio_settled(int offset)
{
	return lines[offset].deadline < 0;
}

int sim_gpio_level(int offset)
{
	if (offset < 0 || offset >= kx_sim_gpio_lines)
		return 0;
	return physical_level(lines[offset]);
}

void sim_gpio_drive(int offset, int level)
{
	if (offset < 0 || offset >= kx_sim_gpio_lines)
		return;
	lines[offset].outside = level < 0 ? -1 : (level != 0);
	level_changed(offset);
}

std::string gpio_control(const std::vector<std::string> &w, int *wait_line)
{
	*wait_line = -1;
	int off;
	// A trailing "nowait" answers at once instead of after the debounce
	// period, for bounces and glitches shorter than it.
	bool wait = w.back() != "nowait";
	size_t n = wait ? w.size() : w.size() - 1;
	if (w[0] == "button" && n == 2 && (w[1] == "press" || w[1] == "release")) {
		sim_gpio_drive(button_line, w[1] == "press" ? 0 : -1);
		*wait_line = wait ? button_line : -1;
		return "ok";
	}
	if (w.size() < 3 || w[0] != "gpio" || !parse_line(w[2], &off))
		return "err usage: gpio get|consumer|info|events N | gpio set N 0|1 [nowait] | gpio float N [nowait]";
	Line &l = lines[off];
	if (w[1] == "get" && w.size() == 3)
		return "ok " + std::to_string(physical_level(l));
	if (w[1] == "consumer" && w.size() == 3)
		return "ok " + (l.request != 0 ? sim_escape(l.consumer) : std::string("-"));
	if (w[1] == "events" && w.size() == 3)
		return "ok " + std::to_string(l.events);
	if (w[1] == "info" && w.size() == 3) {
		char b[256];
		std::snprintf(b, sizeof b,
			      "ok used=%d direction=%s edge=%s bias=%s active_low=%d debounce_us=%lu level=%d",
			      l.request != 0 ? 1 : 0,
			      l.request == 0 ? "-" : l.direction == GPIOD_LINE_DIRECTION_OUTPUT ? "output" : "input",
			      name_of(l.edge, {{GPIOD_LINE_EDGE_NONE, "none"}, {GPIOD_LINE_EDGE_RISING, "rising"},
					       {GPIOD_LINE_EDGE_FALLING, "falling"}, {GPIOD_LINE_EDGE_BOTH, "both"}}),
			      name_of(l.bias, {{GPIOD_LINE_BIAS_AS_IS, "as-is"}, {GPIOD_LINE_BIAS_DISABLED, "disabled"},
					       {GPIOD_LINE_BIAS_PULL_UP, "pull-up"}, {GPIOD_LINE_BIAS_PULL_DOWN, "pull-down"}}),
			      l.active_low ? 1 : 0, l.debounce_us, physical_level(l));
		return b;
	}
	if (w[1] == "set" && n == 4 && (w[3] == "0" || w[3] == "1")) {
		sim_gpio_drive(off, w[3] == "1");
		*wait_line = wait ? off : -1;
		return "ok";
	}
	if (w[1] == "float" && n == 3) {
		sim_gpio_drive(off, -1);
		*wait_line = wait ? off : -1;
		return "ok";
	}
	return "err usage: gpio get|consumer|info|events N | gpio set N 0|1 [nowait] | gpio float N [nowait]";
}
