#include "kernel_metrics.h"

#include "kx_path.h"
#include "kx_state.h"
#include "source_text.h"

#include <dirent.h>

#include <memory>
#include <string>

namespace {

std::optional<std::string> attribute(const char *name)
{
	return read_source(kx_path("/sys/pps_filter") + "/" + name);
}

// Attributes shown as "%d\n" or "%lld\n".
std::optional<double> integer_attribute(const char *name)
{
	std::optional<std::string> text = attribute(name);
	if (!text)
		return std::nullopt;
	std::optional<int64_t> v = parse_integer(*text);
	if (!v)
		return std::nullopt;
	return static_cast<double>(*v);
}

std::optional<double> scaled(std::optional<double> v, double divisor)
{
	if (v)
		*v /= divisor;
	return v;
}

// The module's read-only parameter last_count ("%u\n"): the count N of the
// last capture, the oscillator's cycles between the last two pulses.
std::optional<double> last_count()
{
	std::optional<std::string> text =
		read_source(kx_path("/sys/module/kx_pps/parameters/last_count"));
	std::optional<int64_t> v = text ? parse_integer(*text) : std::nullopt;
	if (!v)
		return std::nullopt;
	return static_cast<double>(*v);
}

// freqcorr is "%c%d.%04d\n": a blank or "-", the whole part, four decimals.
std::optional<double> freqcorr()
{
	std::optional<std::string> text = attribute("freqcorr");
	return text ? parse_decimal(*text) : std::nullopt;
}

// The LinuxPPS source of the module, found by its name; its assert file
// reads "SECONDS.NANOSECONDS#SEQUENCE\n", the sequence counting every pulse
// reported since the source was registered.
struct pps_assert {
	std::optional<double> sequence;
	std::optional<double> stamp;
};

pps_assert kx_pps_assert()
{
	pps_assert a;
	std::string dir = kx_path("/sys/class/pps");
	std::unique_ptr<DIR, int (*)(DIR *)> d(opendir(dir.c_str()), closedir);
	if (!d)
		return a;
	while (dirent *e = readdir(d.get())) {
		if (e->d_name[0] == '.')
			continue;
		std::string base = dir + "/" + e->d_name;
		std::optional<std::string> name = read_source(base + "/name");
		if (!name || name->substr(0, name->find('\n')) != "kx-pps")
			continue;
		std::optional<std::string> text = read_source(base + "/assert");
		size_t hash = text ? text->find('#') : std::string::npos;
		if (hash == std::string::npos)
			return a;
		std::optional<int64_t> seq = parse_integer(std::string_view(*text).substr(hash + 1));
		std::optional<double> stamp = parse_decimal(std::string_view(*text).substr(0, hash));
		if (seq)
			a.sequence = static_cast<double>(*seq);
		// 0.000000000 until the first pulse: no pulse, no time
		if (seq && *seq > 0 && stamp)
			a.stamp = stamp;
		return a;
	}
	return a;
}

std::optional<double> known(int v)
{
	return v >= 0 ? std::optional<double>(v) : std::nullopt;
}

// The integrity guard's decision (gnss_state, gnss_reason through the one
// reading of the module's state), when it changed (gnss_since) and what
// each check has detected (gnss_counts, lines "time N").
void collect_guard_metrics(prom_text &out, const KxModuleState &state)
{
	if (state.gnss == KxGnss::absent)
		return;
	static const struct {
		KxGnss gnss;
		const char *word;
	} states[] = {{KxGnss::off, "off"},
		      {KxGnss::qualifying, "qualifying"},
		      {KxGnss::trusted, "trusted"},
		      {KxGnss::suspect, "suspect"}};
	for (const auto &st : states)
		prom_add(out, "kx_gnss_state", "gauge",
			 "1 for the integrity guard's present state of the receiver (off: guard "
			 "switched off; qualifying: not yet trusted; trusted; suspect: held over on "
			 "the oscillator), 0 for the others",
			 st.gnss == state.gnss ? 1 : 0, {{"state", st.word}});

	static const char *const checks[] = {"time", "phase", "drag", "position", "calendar",
					     "leap"};
	const char *reason_help = "1 for the check that made the receiver suspect, 0 for the "
				  "others (all 0 while it is not suspect)";
	if (!state.gnss_reason.empty()) {
		bool named = false;
		for (const char *c : checks) {
			bool now = state.gnss == KxGnss::suspect && state.gnss_reason == c;
			named = named || now;
			prom_add(out, "kx_gnss_suspect_reason", "gauge", reason_help, now ? 1 : 0,
				 {{"reason", c}});
		}
		// a reason this program does not know yet is still shown
		if (state.gnss == KxGnss::suspect && !named && state.gnss_reason != "none")
			prom_add(out, "kx_gnss_suspect_reason", "gauge", reason_help, 1,
				 {{"reason", state.gnss_reason}});
	}

	// 0 before any change: no time to show
	std::optional<double> since = integer_attribute("gnss_since");
	prom_add(out, "kx_gnss_state_since_timestamp_seconds", "gauge",
		 "When the integrity guard's state last changed, seconds since 1970 on the "
		 "appliance's own time scale",
		 since && *since > 0 ? since : std::nullopt);

	std::optional<std::string> counts = attribute("gnss_counts");
	std::string_view rest = counts ? std::string_view(*counts) : std::string_view();
	while (!rest.empty()) {
		size_t end = rest.find('\n');
		std::string_view line = rest.substr(0, end);
		rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
		size_t blank = line.find(' ');
		if (blank == 0 || blank == std::string_view::npos)
			continue;
		std::optional<int64_t> n = parse_integer(line.substr(blank));
		if (n && *n >= 0)
			prom_add(out, "kx_gnss_detections_total", "counter",
				 "Times each of the integrity guard's checks has found the receiver "
				 "disagreeing with the appliance's own time scale since the module was "
				 "loaded",
				 static_cast<double>(*n), {{"check", std::string(line.substr(0, blank))}});
	}
}

} // namespace

void collect_kernel_metrics(prom_text &out)
{
	prom_add(out, "kx_loop_freqcorr", "gauge",
		 "Correction the discipline loop applies to the oscillator's DAC, in units of 2^26 "
		 "(the DAC spans -32 to +32; 0 is mid-scale; /sys/pps_filter/freqcorr)",
		 freqcorr());
	prom_add(out, "kx_loop_last_count", "gauge",
		 "Oscillator cycles the discipline loop counted between the last two pulses it "
		 "captured, accepted or not (nominal 25000000; "
		 "/sys/module/kx_pps/parameters/last_count)",
		 last_count());
	prom_add(out, "kx_loop_paused", "gauge",
		 "1 while the discipline loop is paused (/sys/pps_filter/pause)",
		 integer_attribute("pause"));

	pps_assert a = kx_pps_assert();
	prom_add(out, "kx_pps_pulses_total", "counter",
		 "Pulses the module has reported to its LinuxPPS source kx-pps since it was loaded",
		 a.sequence);
	prom_add(out, "kx_pps_last_pulse_timestamp_seconds", "gauge",
		 "System time of the last pulse reported to LinuxPPS, seconds since 1970", a.stamp);

	KxModuleState state = kx_read_module_state();
	prom_add(out, "kx_gps_fix", "gauge",
		 "GPS fix quality the module has qualified: 0 none, 1 GPS, 2 differential",
		 known(state.fix));
	prom_add(out, "kx_gps_time_known", "gauge",
		 "1 while the time is known: a fix, or holdover within the holdover limit",
		 known(state.time_known));
	prom_add(out, "kx_gps_time_set", "gauge",
		 "1 once a pulse has followed a GPS time decoded with a fix since the module was loaded",
		 integer_attribute("gps_time_set"));
	prom_add(out, "kx_gps_holdover_seconds", "gauge",
		 "Seconds without a fix since the fix was last present (0 while it is present)",
		 integer_attribute("holdover_time"));
	prom_add(out, "kx_gps_holdover_limit_seconds", "gauge",
		 "Holdover limit after which the time is no longer known; 0 means no limit",
		 integer_attribute("holdover_setting"));

	const char *phy_help = "Last correction stepped into the port's PHY clock, in seconds";
	prom_add(out, "kx_phy_delta_seconds", "gauge", phy_help,
		 scaled(integer_attribute("phy_delta1"), 1e9), {{"port", "0"}});
	prom_add(out, "kx_phy_delta_seconds", "gauge", phy_help,
		 scaled(integer_attribute("phy_delta2"), 1e9), {{"port", "1"}});

	collect_guard_metrics(out, state);
}
