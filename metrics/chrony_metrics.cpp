#include "chrony_metrics.h"

#include "kx_chronyc.h"
#include "source_text.h"

#include <vector>

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
	std::string text;
	if (kx_chronyc({"tracking"}, &text, CHRONYC_CAP_MS) != 0)
		return;
	add_chrony_tracking(out, std::string_view(text).substr(0, text.find('\n')));
}
