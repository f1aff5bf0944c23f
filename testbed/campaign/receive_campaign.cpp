// The receive path under a noisy serial line, end to end, in virtual time.
//
// A clean receiver stream (receiver_stream.c) passes through the serial
// fault model (line_faults.c) into the kx_pps module on the host layer: its
// serial receive callback and worker, the GGA/ZDA time extraction, pulses
// between the seconds (the hand-off to the system-clock setter), the time
// records the PHY threads take. The lines read from /dev/kx_pps then go
// through nmeafeed's own units: line assembly, dispatch, the ZDA work
// (status files under $KX_ROOT, the NTP segment record).
//
// The oracle is the generator's truth for each second, never the product's
// parsing. At every second every output that appeared is checked against
// it: the label handed over with a pulse, each time record, the published
// fix, every system-clock step, every NTP sample and every rewritten status
// file. An output may be missing for a damaged second (a second lost); it
// must never be wrong.
//
//   receive_campaign [--seconds N] [--seed S] [--rate R] [--late P] [--quiet]
//
// Exit status 0 when no output was wrong and every kind of output was seen
// (a campaign that saw none checked nothing), 1 otherwise, 2 for usage.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <climits>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "kernel_side.h"
#include "line_assembly.h"
#include "line_faults.h"
#include "nmeafeed.h"
#include "ntp_shm.h"
#include "receiver_stream.h"

namespace {

constexpr int64_t kNs = 1000000000;
// Seconds of receiver truth an output may lag behind: the published state
// and the status files may show a value of a few seconds ago when the
// newer lines were damaged; older than this counts as wrong.
constexpr int kRecent = 16;
// The system clock must be on the truth within this after a step.
constexpr int64_t kClockTolerance = 1000000;
// good seconds in a row after which a time record is due every second
constexpr int kSteady = 8;

struct options {
	long seconds = 1000000;
	uint64_t seed = 1;
	double rate = 3e-4;  // fault events per byte
	double late = 0.05;  // seconds whose clock setter runs after the ZDA
	bool quiet = false;
};

enum output_kind {
	OUT_LABEL,
	OUT_RECORD,
	OUT_FIX,
	OUT_CLOCK_STEP,
	OUT_NTP_SAMPLE,
	OUT_NUMSATS,
	OUT_COORDS,
	OUT_ALTITUDE,
	OUT_SATLIST,
	OUT_KINDS
};

const char *const kOutputName[OUT_KINDS] = {
    "pulse label (gGPSTime)", "time record (pps_uart_time)", "published fix (gGPSFix)",
    "system clock step", "NTP sample", "numsats.dat", "coords.dat", "altitude.dat",
    "satellite/SNR lists",
};

// What the receiver said in one second, as the outputs must show it.
struct expected {
	int64_t utc = 0;
	int fix = 0;
	std::string numsats, coords, altitude;
	// (prn, snr) of every satellite in view, per system
	std::vector<std::pair<int, int>> sats[RX_SYSTEMS];
};

// Decimal degrees as the status file carries them: whole degrees, then the
// minutes as ten-thousandths of a degree (truncated).
std::string degrees_text(int32_t e4min)
{
	int32_t v = e4min < 0 ? -e4min : e4min;
	char buf[32];
	snprintf(buf, sizeof buf, "%s%d.%04d", e4min < 0 ? "-" : "", v / 600000,
	         v % 600000 / 60);
	return buf;
}

expected expect_of(const rx_truth &t)
{
	expected e;
	e.utc = t.utc;
	e.fix = t.fix;
	e.numsats = std::to_string(t.sats_used);
	if (t.fix) {
		e.coords = degrees_text(t.lat_e4min) + "," + degrees_text(t.lon_e4min);
		int32_t a = t.alt_dm < 0 ? -t.alt_dm : t.alt_dm;
		e.altitude = (t.alt_dm < 0 ? "-" : "") + std::to_string(a / 10) + "." +
		             std::to_string(a % 10);
	} else {
		// no position: the empty fields read as 0
		e.coords = "0.0,0.0";
		e.altitude = "0";
	}
	for (int s = 0; s < RX_SYSTEMS; s++)
		for (int k = 0; k < t.sys[s].in_view; k++)
			e.sats[s].push_back({t.sys[s].sat[k].prn, t.sys[s].sat[k].snr});
	return e;
}

struct counts {
	uint64_t delivered[OUT_KINDS] = {};
	uint64_t wrong[OUT_KINDS] = {};
	// status values (fix, files) wrong within kRecent seconds after a
	// damaged line whose checksum still matched: beyond what the
	// sentences' 8-bit XOR can reveal (a time output is never excused)
	uint64_t disguised_wrong[OUT_KINDS] = {};
	uint64_t disguised_lines = 0;
	uint64_t seconds = 0, silent_seconds = 0, outages = 0, outage_seconds = 0;
	uint64_t bytes = 0, lines = 0, damaged_lines = 0, damaged_seconds = 0;
	uint64_t lost_seconds = 0, lost_ntp = 0, lost_record = 0;
	uint64_t late_setter = 0, clock_jolts = 0;
};

// ---- the run ---------------------------------------------------------------

struct campaign {
	options opt;
	counts n;
	line_faults faults{};
	uint64_t rng;
	std::string root;

	// truth: the pulse of UTC second u comes at mono base_mono + (u - base_utc) s
	int64_t base_utc = 0, base_mono = 0;
	int64_t utc = 0;  // the second now
	uint64_t site = 1;
	int fix = 1;
	long fix_left = 0;
	std::vector<expected> recent;  // newest last, at most kRecent
	int steady = 0;                // sent seconds in a row with a fix

	// nmeafeed
	line_assembly assembly{};
	shm_time segment{};
	int32_t published_fix = -1; // what the gpsfix file holds, -1 before it is written
	int32_t sample_count = 0;
	bool sample_this_second = false;
	int64_t disguised_until = INT64_MIN;
	std::string last_disguised;
	std::set<std::string> sent_now, sent_before;  // sentences, without CR LF
	std::string kernel_line;                      // of /dev/kx_pps, being read
	bool lost_record_now = false;
	std::string last_line;
	struct file_state {
		std::string name;
		ino_t ino = 0;
		timespec mtime{};
	};
	std::vector<file_state> files;

	unsigned int clock_steps = 0;
	unsigned int shown[OUT_KINDS] = {};

	uint64_t rand64()
	{
		uint64_t z = (rng += 0x9E3779B97F4A7C15ull);
		z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
		z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
		return z ^ (z >> 31);
	}
	uint64_t below(uint64_t k) { return rand64() % k; }
	bool chance(double p) { return (double)(rand64() >> 11) / 9007199254740992.0 < p; }

	int64_t edge_mono(int64_t u) const { return base_mono + (u - base_utc) * kNs; }
	int64_t truth_real(int64_t mono) const { return base_utc * kNs + (mono - base_mono); }

	// Time never has the excuse: the module and nmeafeed hand out a time
	// only when it follows the previous second's, which a disguised line
	// does not.
	static bool time_output(output_kind k)
	{
		return k == OUT_LABEL || k == OUT_RECORD || k == OUT_CLOCK_STEP || k == OUT_NTP_SAMPLE;
	}

	void wrong(output_kind k, const std::string &what)
	{
		bool disguised = utc <= disguised_until && !time_output(k);
		(disguised ? n.disguised_wrong : n.wrong)[k]++;
		if (opt.quiet || shown[k] >= 5)
			return;
		shown[k]++;
		fprintf(stderr, "WRONG %s at %" PRId64 ": %s\n", kOutputName[k], utc, what.c_str());
		if (disguised)
			fprintf(stderr, "  after the disguised line %s\n", last_disguised.c_str());
	}

	// ---- lines damaged beyond what their checksum shows ----

	// "$", a body of printable ASCII without "*", "*", two hex digits
	// equal to the body's XOR, and nothing after: a sentence as far as
	// anything in it can tell
	static bool checksum_holds(const std::string &s)
	{
		size_t star = s.find('*');
		if (s.empty() || s[0] != '$' || star == std::string::npos || star + 3 != s.size())
			return false;
		unsigned sum = 0;
		for (size_t i = 1; i < star; i++) {
			if (s[i] < 32 || s[i] > 126)
				return false;
			sum ^= (unsigned char)s[i];
		}
		char hex[3] = {s[star + 1], s[star + 2], 0};
		char *end;
		unsigned long v = strtoul(hex, &end, 16);
		return *end == 0 && isxdigit((unsigned char)hex[0]) && v == sum;
	}

	// A line of /dev/kx_pps that is not a sentence as sent, yet holds one
	// whose checksum matches (from its first "$", as the module reads it,
	// or from its last, as nmeafeed does): the damage cannot be seen.
	void look_for_disguise(const std::string &line)
	{
		if (sent_now.count(line) || sent_before.count(line))
			return;
		size_t first = line.find('$'), last = line.rfind('$');
		if (first == std::string::npos)
			return;
		for (size_t from : {first, last}) {
			std::string s = line.substr(from);
			if (!checksum_holds(s))
				continue;
			// the hex digits' case is no damage: both are read alike
			for (size_t i = s.size() - 2; i < s.size(); i++)
				s[i] = (char)toupper((unsigned char)s[i]);
			if (sent_now.count(s) || sent_before.count(s))
				return;
			n.disguised_lines++;
			disguised_until = utc + kRecent;
			last_disguised = std::to_string(utc) + ": " + printable(line);
			if (!opt.quiet && n.disguised_lines <= 10)
				fprintf(stderr, "DISGUISED at %" PRId64 ": %s\n", utc,
				        printable(line).c_str());
			return;
		}
	}

	// ---- oracle ----

	bool fix_was_sent(int32_t f)
	{
		for (const expected &e : recent)
			if (e.fix == f)
				return true;
		return false;
	}

	bool text_was_sent(std::string expected::*field, const std::string &text)
	{
		for (const expected &e : recent)
			if (e.*field == text)
				return true;
		return false;
	}

	bool sat_was_sent(int s, int prn, int snr)
	{
		for (const expected &e : recent)
			for (const auto &p : e.sats[s])
				if (p.first == prn && p.second == snr)
					return true;
		return false;
	}

	// ---- kernel side ----

	void check_clock()
	{
		unsigned int steps = ks_clock_steps();
		if (steps == clock_steps)
			return;
		n.delivered[OUT_CLOCK_STEP] += steps - clock_steps;
		clock_steps = steps;
		int64_t off = ks_real_ns() - truth_real(ks_mono_ns());
		if (off > kClockTolerance || off < -kClockTolerance)
			wrong(OUT_CLOCK_STEP, "clock set " + std::to_string(off) + " ns off the truth");
	}

	void pulse()
	{
		int64_t edge = edge_mono(utc);
		if (ks_mono_ns() > edge) {
			fprintf(stderr, "campaign: second %" PRId64 " overran its pulse\n", utc);
			exit(2);
		}
		ks_advance_to(edge);
		int64_t label;
		if (ks_pulse(&label)) {
			n.delivered[OUT_LABEL]++;
			if (label != utc)
				wrong(OUT_LABEL, "pulse labelled " + std::to_string(label));
		}
	}

	void check_kernel_outputs(bool sent)
	{
		bool record = false;
		for (int idx = 0; idx < 2; idx++) {
			int64_t sec;
			int32_t f;
			if (!ks_take_record(idx, &sec, &f))
				continue;
			record = true;
			if (idx == 0)
				n.delivered[OUT_RECORD]++;
			if (sec != utc + 1 || (f != 0 && !fix_was_sent(f)))
				wrong(OUT_RECORD, "record for " + std::to_string(sec) + " fix " +
				                      std::to_string(f) + " on channel " +
				                      std::to_string(idx));
		}
		int32_t f = ks_published_fix();
		if (f != 0) {
			n.delivered[OUT_FIX]++;
			if (!fix_was_sent(f))
				wrong(OUT_FIX, "fix " + std::to_string(f) + ", receiver sent " +
				                   std::to_string(recent.back().fix));
		}
		if (sent && steady >= kSteady && !record) {
			n.lost_record++;
			lost_record_now = true;
		}
	}

	// ---- nmeafeed side ----

	void check_sample()
	{
		if (segment.count == sample_count)
			return;
		sample_count = segment.count;
		n.delivered[OUT_NTP_SAMPLE]++;
		sample_this_second = true;
		if (segment.valid != 1 || segment.clockTimeStampSec != utc ||
		    segment.clockTimeStampUSec != 0 || segment.clockTimeStampNSec != 0)
			wrong(OUT_NTP_SAMPLE, "sample " + std::to_string(segment.clockTimeStampSec) +
			                          "." + std::to_string(segment.clockTimeStampNSec) +
			                          " valid " + std::to_string(segment.valid) +
			                          " from line " + printable(last_line));
	}

	static std::string printable(const std::string &s)
	{
		std::string o;
		for (unsigned char c : s) {
			char b[8];
			if (c >= 32 && c < 127)
				o += (char)c;
			else {
				snprintf(b, sizeof b, "<%02X>", c);
				o += b;
			}
		}
		return o;
	}

	// The module's fix where nmeafeed reads it (/sys/pps_filter/gpsfix):
	// its NTP samples are written only while it is above 0.
	void publish_module_fix()
	{
		int32_t fix = ks_published_fix();
		if (fix == published_fix)
			return;
		FILE *f = fopen((root + "/sys/pps_filter/gpsfix").c_str(), "w");
		if (!f) {
			perror("gpsfix");
			exit(2);
		}
		fprintf(f, "%d\n", fix);
		fclose(f);
		published_fix = fix;
	}

	void drain_nmea()
	{
		static uint8_t buf[16384];
		size_t got = ks_read_nmea(buf, sizeof buf);
		publish_module_fix();
		for (size_t i = 0; i < got; i++) {
			if (buf[i] != '\n') {
				kernel_line += (char)buf[i];
			} else {
				look_for_disguise(kernel_line);
				kernel_line.clear();
			}
		}
		// as nmeafeed's read loop takes them
		for (size_t i = 0; i < got; i++) {
			size_t length = 0;
			const char *line = line_assembly_push(&assembly, (char)buf[i], &length);
			if (!line)
				continue;
			last_line.assign(line, length);
			handle_line(line, length);
			line_assembly_reset(&assembly);
			check_sample();
		}
	}

	std::string rundata(const std::string &name) const
	{
		return root + "/var/volatile/rundata/" + name;
	}

	// true when the file was replaced since last seen; text gets its content
	bool changed(file_state &f, std::string *text)
	{
		struct stat st;
		if (stat(rundata(f.name).c_str(), &st) != 0)
			return false;
		if (st.st_ino == f.ino && st.st_mtim.tv_sec == f.mtime.tv_sec &&
		    st.st_mtim.tv_nsec == f.mtime.tv_nsec)
			return false;
		f.ino = st.st_ino;
		f.mtime = st.st_mtim;
		text->clear();
		if (FILE *fp = fopen(rundata(f.name).c_str(), "r")) {
			char b[256];
			size_t k;
			while ((k = fread(b, 1, sizeof b, fp)) > 0)
				text->append(b, k);
			fclose(fp);
		}
		return true;
	}

	static std::vector<int> numbers(const std::string &text)
	{
		std::vector<int> v;
		const char *p = text.c_str();
		char *end;
		for (;;) {
			long x = strtol(p, &end, 10);
			if (end == p)
				break;
			v.push_back((int)x);
			p = end;
		}
		return v;
	}

	void check_status_files()
	{
		std::string text;
		static const struct {
			output_kind kind;
			std::string expected::*field;
		} plain[] = {{OUT_NUMSATS, &expected::numsats},
		             {OUT_COORDS, &expected::coords},
		             {OUT_ALTITUDE, &expected::altitude}};
		for (int i = 0; i < 3; i++) {
			if (!changed(files[i], &text))
				continue;
			n.delivered[plain[i].kind]++;
			if (!text_was_sent(plain[i].field, text))
				wrong(plain[i].kind, "\"" + printable(text) + "\", receiver sent \"" +
				                         recent.back().*plain[i].field + "\"");
		}
		for (int s = 0; s < RX_SYSTEMS; s++) {
			std::string sats, snrs;
			bool a = changed(files[3 + 2 * s], &sats);
			bool b = changed(files[4 + 2 * s], &snrs);
			if (!a && !b)
				continue;
			n.delivered[OUT_SATLIST]++;
			std::vector<int> prn = numbers(sats), snr = numbers(snrs);
			// position k of both lists is one satellite the receiver saw
			bool ok = prn.size() == 12 && snr.size() == 12;
			size_t k = 0;
			for (; ok && k < 12; k++)
				ok = (prn[k] == 0 && snr[k] == 0) || sat_was_sent(s, prn[k], snr[k]);
			if (!ok)
				wrong(OUT_SATLIST, files[3 + 2 * s].name + " \"" + printable(sats) +
				                       "\" / \"" + printable(snrs) + "\" (position " +
				                       std::to_string(k) + ")");
		}
	}

	// ---- the receiver's behaviour over time ----

	void next_fix()
	{
		if (fix_left-- > 0)
			return;
		uint64_t r = below(10);
		if (r < 6) {
			fix = 1;
			fix_left = 200 + (long)below(3000);
		} else if (r < 8) {
			fix = 2;
			fix_left = 50 + (long)below(1000);
		} else {
			fix = 0;
			fix_left = 5 + (long)below(120);
		}
	}

	// The receiver is off: no pulse, no sentence. Half the time for a
	// minute or two, half the time until a few minutes before the end of
	// a month (so the run crosses months, years and leap days).
	void outage()
	{
		int64_t off;
		if (below(2)) {
			off = 6 + (int64_t)below(120);
		} else {
			int y, mo, d, hh, mm, ss;
			rx_civil(utc + 86400, &y, &mo, &d, &hh, &mm, &ss);
			int64_t month_end = mo == 12 ? rx_utc_of(y + 1, 1, 1, 0, 0, 0)
			                             : rx_utc_of(y, mo + 1, 1, 0, 0, 0);
			off = month_end - (int64_t)(30 + below(900)) - utc;
		}
		n.outages++;
		n.outage_seconds += (uint64_t)off;
		utc += off;
		ks_advance_to(edge_mono(utc) - kNs / 2);
		ks_run_work();
		check_clock();
		steady = 0;
		site = rand64();  // the appliance may have moved
	}

	// The system clock thrown off (an administrator, a bad NTP source):
	// the clock setter must bring it back, to the right second.
	void jolt_clock()
	{
		int64_t off = (int64_t)(100 + below(600000)) * 1000000;
		if (below(2))
			off = -off;
		ks_set_real_ns(truth_real(ks_mono_ns()) + off);
		n.clock_jolts++;
	}

	void receiver_second(bool silent)
	{
		static char clean[8192];
		static uint8_t hit[8192], damaged[16384];
		rx_line lines[RX_LINES_MAX];
		int nlines = 0;

		next_fix();
		rx_truth t;
		rx_truth_make(&t, utc, fix, site);
		recent.push_back(expect_of(t));
		if (recent.size() > kRecent)
			recent.erase(recent.begin());

		pulse();
		bool late = chance(opt.late);
		if (!late)
			ks_run_work();
		check_clock();

		sample_this_second = false;
		if (!silent) {
			size_t len = rx_stream_second(&t, clean, sizeof clean, lines, &nlines);
			memset(hit, 0, len);
			size_t got = lf_apply(&faults, (const uint8_t *)clean, len, damaged,
			                      sizeof damaged, hit);
			bool any = false;
			sent_before.swap(sent_now);
			sent_now.clear();
			for (int i = 0; i < nlines; i++) {
				sent_now.insert(std::string(clean + lines[i].off, lines[i].len - 2));
				bool d = memchr(hit + lines[i].off, 1, lines[i].len) != nullptr;
				n.damaged_lines += d;
				any = any || d;
			}
			n.bytes += len;
			n.lines += (uint64_t)nlines;
			n.damaged_seconds += any;
			n.seconds++;
			steady = t.fix ? steady + 1 : 0;
			// a second worker of the system queue takes the receive work
			// while the clock setter still waits for its turn
			ks_receive(damaged, got, late);
			n.late_setter += late;
		} else {
			n.silent_seconds++;
			steady = 0;
		}
		ks_run_work();
		check_clock();
		check_kernel_outputs(!silent);
		drain_nmea();
		check_status_files();
		if (!silent) {
			bool lost = false;
			if (!sample_this_second) {
				n.lost_ntp++;
				lost = true;
			}
			n.lost_seconds += lost || lost_record_now;
		}
		lost_record_now = false;
		ks_forget();
		utc++;
	}

	void set_up()
	{
		rng = opt.seed * 0x2545F4914F6CDD1Dull + 7;
		lf_init(&faults, opt.seed, opt.rate);

		const char *r = getenv("KX_ROOT");
		if (r && *r) {
			root = r;
		} else {
			// on the board the run data is a tmpfs: so here, where there is one
			std::string tmpl = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
			tmpl += "/kx-campaign-XXXXXX";
			if (!mkdtemp(tmpl.data())) {
				perror("mkdtemp");
				exit(2);
			}
			root = tmpl;
			setenv("KX_ROOT", root.c_str(), 1);
		}
		std::filesystem::create_directories(root + "/var/volatile/rundata");
		std::filesystem::create_directories(root + "/sys/pps_filter");
		files = {{"numsats.dat"}, {"coords.dat"}, {"altitude.dat"}};
		for (char c : std::string("glab")) {
			files.push_back({std::string(1, c) + "satlist.dat"});
			files.push_back({std::string(1, c) + "snrlist.dat"});
		}

		// A year's end a few minutes ahead; the system clock 3.5 s off.
		utc = base_utc = rx_utc_of(2026, 12, 31, 23, 55, 0);
		ks_load(base_utc * kNs + 3 * kNs + kNs / 2);
		base_mono = ks_mono_ns() + kNs;

		line_assembly_reset(&assembly);
		nmeafeed_reset_state();
		shm_clear(&segment);
		ntp_shm = &segment;
		sample_count = segment.count;
	}

	void tear_down()
	{
		ntp_shm = nullptr;
		ks_unload();
		if (!getenv("KX_CAMPAIGN_KEEP") && root.find("/kx-campaign-") != std::string::npos)
			std::filesystem::remove_all(root);
	}

	void run()
	{
		while ((long)n.seconds < opt.seconds) {
			if (chance(1.0 / 5000)) {
				outage();
				continue;
			}
			if (chance(1.0 / 4000))
				jolt_clock();
			if (chance(1.0 / 3000)) {
				long quiet = 1 + (long)below(12);
				while (quiet-- > 0)
					receiver_second(true);
				continue;
			}
			receiver_second(false);
		}
	}
};

[[noreturn]] void usage()
{
	fprintf(stderr, "usage: receive_campaign [--seconds N] [--seed S] [--rate R] [--late P] "
	                "[--quiet]\n");
	exit(2);
}

options parse(int argc, char **argv)
{
	options o;
	for (int i = 1; i < argc; i++) {
		std::string a = argv[i];
		if (a == "--quiet") {
			o.quiet = true;
			continue;
		}
		if (i + 1 >= argc)
			usage();
		char *end;
		const char *v = argv[++i];
		if (a == "--seconds")
			o.seconds = strtol(v, &end, 10);
		else if (a == "--seed")
			o.seed = strtoull(v, &end, 0);
		else if (a == "--rate")
			o.rate = strtod(v, &end);
		else if (a == "--late")
			o.late = strtod(v, &end);
		else
			usage();
		if (*end || o.seconds < 1 || o.rate < 0 || o.rate > 1 || o.late < 0 || o.late > 1)
			usage();
	}
	return o;
}

} // namespace

int main(int argc, char **argv)
{
	campaign c;
	c.opt = parse(argc, argv);

	// nmeafeed prints a line per ZDA; the figures go where stdout went
	fflush(stdout);
	int report_fd = dup(1);
	FILE *report = report_fd >= 0 ? fdopen(report_fd, "w") : nullptr;
	if (!report || !freopen("/dev/null", "w", stdout)) {
		perror("stdout");
		return 2;
	}

	auto start = std::chrono::steady_clock::now();
	c.set_up();
	c.run();
	c.tear_down();
	double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

	const counts &n = c.n;
	uint64_t wrong = 0;
	bool unseen = false;
	fprintf(report, "receive-path campaign: seed %" PRIu64 ", %.2g fault events per byte\n",
	        c.opt.seed, c.opt.rate);
	fprintf(report, "  receiver seconds   %" PRIu64 " sent (%" PRIu64 " bytes), %" PRIu64
	                " silent, %" PRIu64 " outages (%" PRIu64 " s off)\n",
	        n.seconds, n.bytes, n.silent_seconds, n.outages, n.outage_seconds);
	fprintf(report, "  schedule           clock setter after the ZDA in %" PRIu64
	                " seconds, system clock thrown off %" PRIu64 " times\n",
	        n.late_setter, n.clock_jolts);
	fprintf(report, "  fault events      ");
	for (int k = 0; k < LF_KINDS; k++)
		fprintf(report, " %s %" PRIu64 "%s", lf_kind_name((lf_kind)k), c.faults.events[k],
		        k + 1 < LF_KINDS ? "," : "\n");
	fprintf(report, "  damaged lines      %" PRIu64 " of %" PRIu64 " (%.3f%%), in %" PRIu64
	                " seconds\n",
	        n.damaged_lines, n.lines, n.lines ? 100.0 * n.damaged_lines / n.lines : 0.0,
	        n.damaged_seconds);
	fprintf(report, "  seconds lost       %" PRIu64 " (no NTP sample %" PRIu64
	                ", no time record with a steady fix %" PRIu64 ")\n",
	        n.lost_seconds, n.lost_ntp, n.lost_record);
	fprintf(report, "  disguised lines    %" PRIu64
	                " (damaged, yet printable and their checksum matched)\n",
	        n.disguised_lines);
	fprintf(report, "  %-30s %12s %8s %10s\n", "output", "delivered", "wrong",
	        "disguised");
	uint64_t disguised = 0;
	for (int k = 0; k < OUT_KINDS; k++) {
		fprintf(report, "  %-30s %12" PRIu64 " %8" PRIu64 " %10" PRIu64 "\n",
		        kOutputName[k], n.delivered[k], n.wrong[k], n.disguised_wrong[k]);
		wrong += n.wrong[k];
		disguised += n.disguised_wrong[k];
		unseen = unseen || n.delivered[k] == 0;
	}
	fprintf(report, "  wrong outputs      %" PRIu64 ", and %" PRIu64
	                " after a disguised line\n",
	        wrong, disguised);
	fprintf(report, "  run time           %.1f s (%.0f receiver seconds per second)\n", secs,
	        secs > 0 ? n.seconds / secs : 0.0);
	if (unseen)
		fprintf(report, "  an output never appeared: nothing was checked for it\n");
	if (c.opt.rate > 0 && n.damaged_lines == 0)
		fprintf(report, "  no line was damaged\n");
	fclose(report);
	return wrong || unseen || (c.opt.rate > 0 && n.damaged_lines == 0) ? 1 : 0;
}
