#include "kernel_metrics.h"

#include "kx_path.h"
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

	prom_add(out, "kx_gps_fix", "gauge",
		 "GPS fix quality the module has qualified: 0 none, 1 GPS, 2 differential",
		 integer_attribute("gpsfix"));
	prom_add(out, "kx_gps_time_known", "gauge",
		 "1 while the time is known: a fix, or holdover within the holdover limit",
		 integer_attribute("timeknown"));
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
}
