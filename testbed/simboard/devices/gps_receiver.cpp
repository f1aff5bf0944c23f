// The board's GPS receiver: a MediaTek-class module speaking NMEA 0183 and
// PMTK commands on a UART, with a pulse-per-second output.
//
// Serial line. simboard listens on $KX_ROOT/dev/ttyGPS0 (a Unix stream
// socket, one peer at a time; a new peer replaces the old one). Bytes the
// model sends are the receiver's output; bytes the peer writes are the
// receiver's input. A real line carries 10 bits per byte (start, 8 data,
// stop), so both directions are paced at that rate of the speed in force:
// a byte is handed over only once its last bit would have arrived, never
// earlier. The receiver starts at 9600 baud and changes its speed after a
// valid "$PMTK251,<speed>*CS" line. A socket has no baud rate, so the UART
// side may declare its own ("gps uart SPEED"; 0 = not declared, as with
// qemu's chardev): while the declared speed differs from the receiver's,
// every byte in either direction arrives garbled, as with a baud mismatch,
// and commands are not understood. A byte is sent at the sender's speed in
// force when it starts and garbled when the other end runs at another speed
// when it ends, so a speed change while bytes are still on the line spoils
// them (the UART side must let its output drain before it changes speed;
// "gps state" shows rx_pending, the bytes still on their way in).
//
// Which second the sentences name. The pulse edge marks the start of GPS
// second S; right after it the receiver sends what it knows about S: GGA,
// one GSA per enabled system, the GSV messages of each system, RMC and ZDA,
// all with the time field of S (hhmmss.000). The kernel module takes the
// ZDA as "the pulse just passed was S", so it labels the next pulse S + 1
// and sets the clock to S + 1 at that edge: the appliance is on time.
// Sentences that do not fit in the second at the line's speed (GSV first,
// then the whole second) are left out and counted as overruns, as a
// receiver's output buffer would drop them.
//
// Time. The receiver's GPS time is the host's UTC plus a whole-second
// offset; pulse edges lie on the host's second boundaries.
//
// Control commands (after "gps"):
//   fix 0|1            no fix: GGA quality 0 and no position, RMC "V",
//                      GSA mode 1; the satellites stay in view (GSV)
//   silent 0|1         sends no sentences (pulses go on)
//   pulses 0|1         no pulse edges (sentences go on)
//   offset N | jump N  set / add to the offset in seconds
//   position LAT LON ALT   degrees (south, west negative), metres
//   position move N E  moves it N metres north and E metres east (south,
//                      west negative), as a spoofer drags a position
//   position           -> ok LAT LON ALT (7 decimals)
//   uart SPEED         the UART side's speed, 0 = not declared
//   reset              the receiver restarts: 9600 baud, default systems
//   state              -> ok speed=S uart=U fix=F offset=N silent=B
//                         pulses=B edges=N seconds=N overruns=N
//                         rx_pending=N tx_pending=N peer=B systems=G,R,E,F,C
//   log                -> ok N E1 E2 ...: every command line received,
//                         oldest first, "SPEED:ok:TEXT" or "SPEED:bad:TEXT"
//                         (the receiver's speed when the line ended; TEXT
//                         escaped, blanks as \x20)
//   log clear
#include "board.h"
#include "devices/gps_receiver.h"
#include "kx_path.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int64_t ns_per_s = 1000000000;
constexpr unsigned default_speed = 9600;
constexpr size_t line_max = 255;        // receiver's command buffer
constexpr size_t rx_window = 4096;      // input bytes taken ahead of the line
constexpr size_t log_limit = 1000;
constexpr int64_t batch_ns = 2000000;   // output handed over at most every 2 ms
constexpr int max_late_edges = 5;       // edges reported after a stall

struct PulseHook {
	GpsPulseHook fn;
	void *arg;
};

std::vector<PulseHook> &pulse_hooks()
{
	// Never destroyed: models that hold a hook are destroyed at exit, after
	// this file's statics may already be gone.
	static auto *hooks = new std::vector<PulseHook>;
	return *hooks;
}

// One satellite in view; snr 0 = seen in the almanac, not tracked.
struct Sat {
	int prn, elevation, azimuth, snr;
};

// GPS, GLONASS, Galileo, Galileo full mode (no satellites of its own), BeiDou:
// the order of the flags of PMTK353.
struct System {
	const char *talker;
	std::vector<Sat> sats;
};

const System systems[5] = {
	{"GP", {{2, 67, 91, 44}, {5, 41, 213, 40}, {12, 58, 302, 45}, {13, 22, 48, 33},
		{15, 12, 160, 27}, {18, 35, 264, 38}, {20, 8, 12, 0}, {24, 74, 137, 46},
		{25, 28, 318, 36}, {29, 15, 197, 30}}},
	{"GL", {{65, 52, 71, 41}, {66, 23, 140, 34}, {72, 61, 339, 43}, {74, 18, 28, 29},
		{81, 44, 228, 39}, {82, 6, 290, 0}}},
	{"GA", {{103, 48, 122, 40}, {107, 26, 58, 35}, {112, 66, 254, 42}, {119, 11, 188, 28},
		{126, 33, 317, 37}}},
	{"GA", {}},
	{"BD", {{201, 55, 150, 39}, {206, 31, 95, 34}, {209, 19, 240, 30}, {214, 62, 12, 41}}},
};

bool valid_speed(long s)
{
	static const long speeds[] = {4800, 9600, 14400, 19200, 38400, 57600, 115200};
	for (long v : speeds)
		if (v == s)
			return true;
	return false;
}

uint8_t checksum(const std::string &body)
{
	uint8_t c = 0;
	for (unsigned char ch : body)
		c ^= ch;
	return c;
}

std::string sentence(const std::string &body)
{
	char tail[8];
	std::snprintf(tail, sizeof tail, "*%02X\r\n", checksum(body));
	return "$" + body + tail;
}

// What arrives at the far end of a byte sent at another speed than the
// receiving side's: never a printable character or a sentence start; line
// ends are kept so that garbled command lines still show up one by one in
// the log.
uint8_t garble(uint8_t b, unsigned *k)
{
	if (b == '\r' || b == '\n')
		return b;
	*k = *k * 1103515245u + 12345u;
	return static_cast<uint8_t>(0x80 | ((b ^ (*k >> 16)) & 0x7f));
}

std::string fmt(const char *format, ...) __attribute__((format(printf, 1, 2)));

std::string fmt(const char *format, ...)
{
	char buf[256];
	va_list ap;
	va_start(ap, format);
	std::vsnprintf(buf, sizeof buf, format, ap);
	va_end(ap);
	return buf;
}

// ddmm.mmmm or dddmm.mmmm and the hemisphere letter.
std::string coordinate(double deg, int deg_digits, char pos, char neg)
{
	long long total = std::llround(std::fabs(deg) * 600000.0);  // 1e-4 minutes
	long long d = total / 600000, rem = total % 600000;
	return fmt("%0*lld%02lld.%04lld,%c", deg_digits, d, rem / 10000, rem % 10000, deg < 0 ? neg : pos);
}

// One direction of the serial line: bytes waiting or on the wire, the head
// byte started at head_start at head_speed.
struct Direction {
	std::deque<uint8_t> q;
	int64_t head_start = 0;
	unsigned head_speed = 0;

	int64_t head_done() const
	{
		return head_start + 10 * ns_per_s / head_speed;
	}
};

struct GpsReceiver : SimIoModel {
	// receiver
	unsigned speed = default_speed;
	bool enabled[5] = {true, true, true, false, false};
	bool fix = true, silent = false, pulses = true;
	long long offset = 0;
	double lat = 48.1173, lon = 11.516667, alt = 545.4;
	std::string cmd;          // command line being assembled
	bool cmd_overlong = false;
	unsigned long long seconds_sent = 0, edges = 0, overruns = 0;

	// line
	unsigned uart = 0;        // declared speed of the UART side, 0 = none
	Direction out, in;
	unsigned garble_k = 1;
	std::string delivered;    // output bytes due, handed over in one send
	int64_t last_flush = 0;
	int64_t out_free_at = 0;  // when the last output byte was through

	// sockets
	std::string path;
	int listen_fd = -1, peer = -1;
	long long host_second = 0;  // last host second whose edge was handled

	std::deque<std::string> log;

	int start() override
	{
		path = kx_path("/dev/ttyGPS0");
		sockaddr_un sa{};
		sa.sun_family = AF_UNIX;
		if (path.size() >= sizeof sa.sun_path)
			return -1;
		std::strcpy(sa.sun_path, path.c_str());
		unlink(path.c_str());
		listen_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
		if (listen_fd < 0 || bind(listen_fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) < 0 ||
		    listen(listen_fd, 4) < 0) {
			std::fprintf(stderr, "simboard: cannot listen on %s: %s\n", path.c_str(),
				     std::strerror(errno));
			stop();
			return -1;
		}
		host_second = host_now().tv_sec;
		return 0;
	}

	void stop() override
	{
		if (peer >= 0)
			close(peer);
		if (listen_fd >= 0) {
			close(listen_fd);
			unlink(path.c_str());
		}
		peer = listen_fd = -1;
	}

	static timespec host_now()
	{
		timespec ts;
		clock_gettime(CLOCK_REALTIME, &ts);
		return ts;
	}

	unsigned in_speed() const
	{
		return uart != 0 ? uart : speed;
	}

	// ---- the line, both directions, in time order ----

	void queue(Direction &d, const std::string &bytes, unsigned sender_speed, int64_t now)
	{
		if (d.q.empty()) {
			d.head_start = now;
			d.head_speed = sender_speed;
		}
		d.q.insert(d.q.end(), bytes.begin(), bytes.end());
	}

	// Moves every byte whose last bit has arrived by now to its far end.
	void advance(int64_t now)
	{
		for (;;) {
			bool o = !out.q.empty() && out.head_done() <= now;
			bool i = !in.q.empty() && in.head_done() <= now;
			if (o && i)
				(out.head_done() <= in.head_done() ? i : o) = false;
			if (o)
				deliver_out();
			else if (i)
				deliver_in();
			else
				break;
		}
	}

	void deliver_out()
	{
		uint8_t b = out.q.front();
		bool mismatch = uart != 0 && uart != out.head_speed;
		int64_t done = out.head_done();
		out_free_at = done;
		out.q.pop_front();
		out.head_start = done;
		out.head_speed = speed;
		delivered.push_back(static_cast<char>(mismatch ? garble(b, &garble_k) : b));
	}

	void deliver_in()
	{
		uint8_t b = in.q.front();
		bool mismatch = in.head_speed != speed;
		int64_t done = in.head_done();
		in.q.pop_front();
		in.head_start = done;
		in.head_speed = in_speed();
		receive_byte(mismatch ? garble(b, &garble_k) : b, done);
	}

	void flush(int64_t now)
	{
		last_flush = now;
		if (delivered.empty())
			return;
		if (peer >= 0) {
			ssize_t n = send(peer, delivered.data(), delivered.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
			(void)n;  // a peer that does not read loses bytes, as a host UART overrun
		}
		delivered.clear();
	}

	// Changes of speed apply from now on: the bytes before them are settled.
	void settle(int64_t now)
	{
		advance(now);
		flush(now);
	}

	// ---- receiver input: command lines ----

	void receive_byte(uint8_t b, int64_t when)
	{
		if (b == '\r' || b == '\n') {
			if (!cmd.empty() || cmd_overlong)
				command_line(when);
			cmd.clear();
			cmd_overlong = false;
			return;
		}
		if (cmd.size() < line_max)
			cmd.push_back(static_cast<char>(b));
		else
			cmd_overlong = true;
	}

	static std::string log_text(const std::string &s)
	{
		std::string e = sim_escape(s), out;
		for (char c : e)
			out += c == ' ' ? std::string("\\x20") : std::string(1, c);
		return out;
	}

	void command_line(int64_t when)
	{
		unsigned at = speed;
		bool ok = !cmd_overlong && run_command(cmd, when);
		log.push_back(fmt("%u:%s:", at, ok ? "ok" : "bad") + log_text(cmd));
		if (log.size() > log_limit)
			log.pop_front();
	}

	// "$PMTKnnn,args*CS": the body between $ and *, or "" when it is not a
	// complete sentence with a matching checksum.
	static std::string pmtk_body(const std::string &line)
	{
		size_t star = line.rfind('*');
		if (line.size() < 6 || line[0] != '$' || star == std::string::npos || star + 3 != line.size())
			return "";
		std::string body = line.substr(1, star - 1);
		if (!std::isxdigit(static_cast<unsigned char>(line[star + 1])) ||
		    !std::isxdigit(static_cast<unsigned char>(line[star + 2])) ||
		    std::strtol(line.substr(star + 1).c_str(), nullptr, 16) != checksum(body) ||
		    body.compare(0, 4, "PMTK") != 0)
			return "";
		return body;
	}

	static std::vector<long> numbers(const std::string &body, bool *ok)
	{
		std::vector<long> v;
		size_t i = 4;
		*ok = true;
		while (i <= body.size()) {
			size_t j = body.find(',', i);
			if (j == std::string::npos)
				j = body.size();
			std::string f = body.substr(i, j - i);
			if (f.empty() || f.size() > 9 || f.find_first_not_of("0123456789") != std::string::npos)
				*ok = false;
			v.push_back(std::strtol(f.c_str(), nullptr, 10));
			i = j + 1;
		}
		return v;
	}

	// Acts on one command line; true when the receiver understood it.
	bool run_command(const std::string &line, int64_t when)
	{
		std::string body = pmtk_body(line);
		if (body.empty())
			return false;
		bool ok;
		std::vector<long> v = numbers(body, &ok);
		if (!ok || v.empty())
			return false;
		bool done = false;
		if (v[0] == 251 && v.size() == 2 && (v[1] == 0 || valid_speed(v[1]))) {
			// the receiver switches at once and sends no acknowledgement
			speed = v[1] == 0 ? default_speed : static_cast<unsigned>(v[1]);
			return true;
		}
		if (v[0] == 353 && (v.size() == 4 || v.size() == 6)) {
			bool any = false, flags_ok = true;
			for (size_t k = 1; k < v.size(); k++) {
				flags_ok = flags_ok && (v[k] == 0 || v[k] == 1);
				any = any || v[k] == 1;
			}
			if (flags_ok && any) {
				for (size_t k = 0; k < 5; k++)
					enabled[k] = k + 1 < v.size() && v[k + 1] == 1;
				done = true;
			}
		} else if (v[0] == 256 && v.size() == 2 && (v[1] == 0 || v[1] == 1)) {
			done = true;  // timing mode: the simulated pulse is exact anyway
		}
		// acknowledgement: 3 = done, 1 = invalid command
		std::string ack = sentence(fmt("PMTK001,%ld,%d", v[0], done ? 3 : 1));
		queue(out, ack, speed, when);
		return done;
	}

	// ---- sentences of one second ----

	std::string main_talker() const
	{
		int n = 0, only = 0;
		for (int k = 0; k < 5; k++)
			if (enabled[k] && !systems[k].sats.empty()) {
				n++;
				only = k;
			}
		return n == 1 ? systems[only].talker : "GN";
	}

	// SNR of a tracked satellite this second: a slow wander around its level
	int snr_of(const Sat &s, long long gps_second) const
	{
		if (s.snr == 0)
			return 0;
		long long phase = (gps_second / 3 + s.prn * 7) % 7;
		return s.snr + static_cast<int>(phase) - 3;
	}

	std::vector<int> used_prns(const System &sys, long long gps_second) const
	{
		std::vector<int> used;
		if (!fix)
			return used;
		for (const Sat &s : sys.sats)
			if (snr_of(s, gps_second) >= 25 && s.elevation >= 10 && used.size() < 12)
				used.push_back(s.prn);
		return used;
	}

	std::string gsa(const System &sys, long long gps_second, const std::string &talker) const
	{
		std::vector<int> used = used_prns(sys, gps_second);
		std::string b = talker + "GSA,A," + (fix ? "3" : "1");
		for (size_t k = 0; k < 12; k++)
			b += k < used.size() ? fmt(",%02d", used[k]) : std::string(",");
		b += fix ? ",1.52,0.90,1.22" : ",,,";
		return sentence(b);
	}

	std::string gsv(const System &sys, long long gps_second) const
	{
		std::string out;
		size_t n = sys.sats.size(), msgs = (n + 3) / 4;
		for (size_t m = 0; m < msgs; m++) {
			std::string b = fmt("%sGSV,%zu,%zu,%02zu", sys.talker, msgs, m + 1, n);
			for (size_t k = m * 4; k < n && k < m * 4 + 4; k++) {
				const Sat &s = sys.sats[k];
				b += fmt(",%02d,%02d,%03d,", s.prn, s.elevation, s.azimuth);
				if (int snr = snr_of(s, gps_second))
					b += fmt("%02d", snr);
			}
			out += sentence(b);
		}
		return out;
	}

	// The burst after the edge of gps_second: GGA, GSA, GSV, RMC, ZDA.
	std::string burst(long long gps_second, bool with_gsv) const
	{
		time_t t = static_cast<time_t>(gps_second);
		tm u;
		gmtime_r(&t, &u);
		std::string hms = fmt("%02d%02d%02d.000", u.tm_hour, u.tm_min, u.tm_sec);
		std::string talker = main_talker(), gsas, gsvs;
		size_t used = 0;
		for (int k = 0; k < 5; k++)
			if (enabled[k] && !systems[k].sats.empty()) {
				used += used_prns(systems[k], gps_second).size();
				gsas += gsa(systems[k], gps_second, talker == "GN" ? "GN" : systems[k].talker);
				gsvs += gsv(systems[k], gps_second);
			}
		std::string gga, rmc;
		if (fix) {
			gga = sentence(fmt("%sGGA,%s,%s,%s,1,%02zu,0.90,%.1f,M,46.9,M,,", talker.c_str(),
					   hms.c_str(), coordinate(lat, 2, 'N', 'S').c_str(),
					   coordinate(lon, 3, 'E', 'W').c_str(), used, alt));
			rmc = sentence(fmt("%sRMC,%s,A,%s,%s,0.00,0.00,%02d%02d%02d,,,A", talker.c_str(),
					   hms.c_str(), coordinate(lat, 2, 'N', 'S').c_str(),
					   coordinate(lon, 3, 'E', 'W').c_str(), u.tm_mday, u.tm_mon + 1,
					   u.tm_year % 100));
		} else {
			gga = sentence(fmt("%sGGA,%s,,,,,0,00,,,M,,M,,", talker.c_str(), hms.c_str()));
			rmc = sentence(fmt("%sRMC,%s,V,,,,,0.00,0.00,%02d%02d%02d,,,N", talker.c_str(),
					   hms.c_str(), u.tm_mday, u.tm_mon + 1, u.tm_year % 100));
		}
		std::string zda = sentence(fmt("%sZDA,%s,%02d,%02d,%04d,00,00", talker.c_str(), hms.c_str(),
					       u.tm_mday, u.tm_mon + 1, u.tm_year + 1900));
		return gga + gsas + (with_gsv ? gsvs : "") + rmc + zda;
	}

	// ---- time ----

	void edge(long long host_sec, int64_t edge_ns)
	{
		long long gps_second = host_sec + offset;
		if (pulses) {
			edges++;
			for (const PulseHook &h : pulse_hooks())
				h.fn(h.arg, gps_second, edge_ns);
		}
	}

	void second(long long host_sec, int64_t now, int64_t edge_ns)
	{
		if (silent)
			return;
		// The receiver starts talking at the edge, however late this loop
		// gets there: the line is free from the edge, or once what is
		// still queued is out; what fits before the next edge is the room.
		int64_t byte_ns = 10 * ns_per_s / speed;
		int64_t free_from = out.q.empty() ? out_free_at
			: out.head_done() + static_cast<int64_t>(out.q.size() - 1) * byte_ns;
		free_from = std::max(free_from, edge_ns);
		int64_t left = edge_ns + ns_per_s - free_from;
		size_t room = left > 0 ? static_cast<size_t>(left / byte_ns) : 0;
		std::string b = burst(host_sec + offset, true);
		if (b.size() > room) {
			overruns++;
			b = burst(host_sec + offset, false);
			if (b.size() > room)
				return;
		}
		queue(out, b, speed, std::min(free_from, now));
		seconds_sent++;
	}

	int64_t next_edge(int64_t now) const
	{
		timespec h = host_now();
		return now + (ns_per_s - h.tv_nsec);
	}

	// ---- simboard hooks ----

	void add_pollfds(std::vector<pollfd> &pfds) override
	{
		pfds.push_back({listen_fd, POLLIN, 0});
		if (peer >= 0)
			pfds.push_back({in.q.size() < rx_window ? peer : -1, POLLIN, 0});
	}

	void polled(const pollfd *pfds, size_t count) override
	{
		if (count >= 2 && pfds[1].revents != 0)
			read_peer();
		if (count >= 1 && (pfds[0].revents & POLLIN))
			accept_peer();
	}

	void accept_peer()
	{
		int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
		if (fd < 0)
			return;
		if (peer >= 0)
			close(peer);
		peer = fd;
		in.q.clear();  // the old peer's bytes still on the way are gone with it
	}

	// Takes what the peer has written, up to the window, onto the line.
	void read_peer()
	{
		int64_t now = sim_now_ns();
		settle(now);
		while (peer >= 0 && in.q.size() < rx_window) {
			char buf[rx_window];
			ssize_t n = recv(peer, buf, rx_window - in.q.size(), MSG_DONTWAIT);
			if (n > 0) {
				queue(in, std::string(buf, static_cast<size_t>(n)), in_speed(), now);
				continue;
			}
			if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
				close(peer);
				peer = -1;
			}
			break;
		}
	}

	int64_t next_deadline() override
	{
		int64_t now = sim_now_ns();
		int64_t d = next_edge(now);
		for (const Direction *dir : {&out, &in})
			if (!dir->q.empty())
				d = std::min(d, std::max(dir->head_done(), last_flush + batch_ns));
		return d;
	}

	void run_timers(int64_t now) override
	{
		settle(now);
		timespec h = host_now();
		long long cur = h.tv_sec;
		// The host clock was stepped: back, the next edge is the next
		// boundary; far ahead, only the boundary just passed counts.
		if (cur < host_second)
			host_second = cur;
		else if (cur - host_second > max_late_edges)
			host_second = cur - 1;
		while (host_second < cur) {
			host_second++;
			int64_t edge_ns = now - (cur - host_second) * ns_per_s - h.tv_nsec;
			edge(host_second, edge_ns);
			if (host_second == cur)
				second(host_second, now, edge_ns);
		}
		flush(now);
	}

	std::string on_control(const std::vector<std::string> &w) override
	{
		// What the peer wrote before this command is on the line before it.
		if (peer >= 0)
			read_peer();
		int64_t now = sim_now_ns();
		settle(now);
		bool ok = true;
		long v = w.size() == 2 ? sim_parse_number(w[1], &ok) : 0;
		bool flag = ok && (v == 0 || v == 1);
		if (w.size() == 2 && w[0] == "fix" && flag)
			fix = v == 1;
		else if (w.size() == 2 && w[0] == "silent" && flag)
			silent = v == 1;
		else if (w.size() == 2 && w[0] == "pulses" && flag)
			pulses = v == 1;
		else if (w.size() == 2 && w[0] == "offset" && ok)
			offset = v;
		else if (w.size() == 2 && w[0] == "jump" && ok)
			offset += v;
		else if (w.size() == 2 && w[0] == "uart" && ok && (v == 0 || (v >= 300 && v <= 4000000)))
			uart = static_cast<unsigned>(v);
		else if (w.size() == 1 && w[0] == "reset")
			reset();
		else if (w.size() == 4 && w[0] == "position" && w[1] == "move")
			return move(w[2], w[3]);
		else if (w.size() == 4 && w[0] == "position")
			return position(w);
		else if (w.size() == 1 && w[0] == "position")
			return fmt("ok %.7f %.7f %.1f", lat, lon, alt);
		else if (w.size() == 1 && w[0] == "state")
			return state();
		else if (w.size() == 1 && w[0] == "log")
			return log_reply();
		else if (w.size() == 2 && w[0] == "log" && w[1] == "clear")
			log.clear();
		else
			return "err usage: gps fix|silent|pulses 0|1 | offset|jump N | position [LAT LON ALT] | "
			       "position move NORTH EAST | "
			       "uart SPEED | reset | state | log [clear]";
		return "ok";
	}

	void reset()
	{
		speed = default_speed;
		const bool defaults[5] = {true, true, true, false, false};
		std::copy(defaults, defaults + 5, enabled);
		cmd.clear();
		cmd_overlong = false;
	}

	std::string position(const std::vector<std::string> &w)
	{
		char *e1, *e2, *e3;
		double a = std::strtod(w[1].c_str(), &e1), b = std::strtod(w[2].c_str(), &e2),
		       c = std::strtod(w[3].c_str(), &e3);
		if (*e1 || *e2 || *e3 || !(a >= -90 && a <= 90) || !(b >= -180 && b <= 180) ||
		    !(c > -1000 && c < 100000))
			return "err bad position";
		lat = a;
		lon = b;
		alt = c;
		return "ok";
	}

	// On the mean Earth sphere: a metre north is the same angle everywhere,
	// a metre east grows with the latitude. Longitude wraps at 180 degrees;
	// a move past a pole is refused.
	std::string move(const std::string &north, const std::string &east)
	{
		constexpr double earth_radius_m = 6371008.8;
		constexpr double deg_per_rad = 180.0 / M_PI;
		char *e1, *e2;
		double n = std::strtod(north.c_str(), &e1), e = std::strtod(east.c_str(), &e2);
		if (*e1 || *e2 || north.empty() || east.empty() || !std::isfinite(n) ||
		    !std::isfinite(e) || std::fabs(n) > 1e7 || std::fabs(e) > 1e7)
			return "err bad move";
		double a = lat + n / earth_radius_m * deg_per_rad;
		if (!(a > -90 && a < 90))
			return "err bad move";
		double b = lon + e / (earth_radius_m * std::cos(lat / deg_per_rad)) * deg_per_rad;
		b = std::remainder(b, 360.0);
		lat = a;
		lon = b == -180 ? 180 : b;
		return "ok";
	}

	std::string state() const
	{
		std::string sys;
		for (int k = 0; k < 5; k++)
			sys += std::string(k ? "," : "") + (enabled[k] ? "1" : "0");
		return fmt("ok speed=%u uart=%u fix=%d offset=%lld silent=%d pulses=%d edges=%llu "
			   "seconds=%llu overruns=%llu rx_pending=%zu tx_pending=%zu peer=%d systems=%s",
			   speed, uart, fix, offset, silent, pulses, edges, seconds_sent, overruns,
			   in.q.size(), out.q.size(), peer >= 0, sys.c_str());
	}

	std::string log_reply() const
	{
		std::string r = "ok " + std::to_string(log.size());
		for (const std::string &e : log)
			r += " " + e;
		return r;
	}
};

std::unique_ptr<SimIoModel> make_gps_receiver()
{
	return std::make_unique<GpsReceiver>();
}

}  // namespace

void gps_pulse_hook_add(GpsPulseHook hook, void *arg)
{
	pulse_hooks().push_back({hook, arg});
}

void gps_pulse_hook_remove(GpsPulseHook hook, void *arg)
{
	auto &h = pulse_hooks();
	for (size_t i = h.size(); i-- > 0;)
		if (h[i].fn == hook && h[i].arg == arg)
			h.erase(h.begin() + static_cast<long>(i));
}

KX_SIM_IO_MODEL(gps_receiver, "gps", make_gps_receiver);
