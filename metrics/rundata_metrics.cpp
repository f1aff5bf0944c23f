#include "rundata_metrics.h"

#include "kx_path.h"
#include "source_text.h"

#include <string>

namespace {

std::optional<std::string> status_file(const char *name)
{
	return read_status_file(kx_path("/var/volatile/rundata") + "/" + name,
				STATUS_FILE_MAX_AGE);
}

std::optional<double> integer_file(const char *name, double divisor = 1.0)
{
	std::optional<std::string> text = status_file(name);
	std::optional<int64_t> v = text ? parse_integer(*text) : std::nullopt;
	if (!v)
		return std::nullopt;
	return static_cast<double>(*v) / divisor;
}

// nmeafeed writes both lists of a system together, twelve "%3d " fields
// each, strongest signal first, 0 where no satellite. They are written only
// while the receiver reports that system, so a system it stopped reporting
// ages out.
void satellite_system(prom_text &out, char letter, const char *system)
{
	std::string sats = std::string(1, letter) + "satlist.dat";
	std::string snrs = std::string(1, letter) + "snrlist.dat";
	std::optional<std::string> sat_text = status_file(sats.c_str());
	std::optional<std::string> snr_text = status_file(snrs.c_str());
	auto prns = sat_text ? parse_integer_list(*sat_text) : std::nullopt;
	auto snr = snr_text ? parse_integer_list(*snr_text) : std::nullopt;

	std::optional<double> seen;
	if (prns) {
		seen = 0;
		for (int64_t prn : *prns)
			if (prn != 0)
				*seen += 1;
	}
	// The average over the satellites actually received (SNR above 0); with
	// none received there is no average to give.
	std::optional<double> average;
	if (snr) {
		double sum = 0;
		int n = 0;
		for (int64_t s : *snr)
			if (s > 0) {
				sum += static_cast<double>(s);
				n++;
			}
		if (n > 0)
			average = sum / n;
	}
	prom_add(out, "kx_gps_satellites_seen", "gauge",
		 "Satellites of the system in view in the receiver's last GSV report (at most 12 listed)",
		 seen, {{"system", system}});
	prom_add(out, "kx_gps_snr_average_dbhz", "gauge",
		 "Average signal-to-noise ratio (C/N0, dB-Hz) of the system's satellites received "
		 "with a signal",
		 average, {{"system", system}});
}

// The AD9544 status word of ad9544bits.dat ("0x%08X"): bits 0-2 the M0, M1
// and inverted M2 status pins, 4-7 bit 0 of the DPLL status registers
// 0x3101, 0x3100, 0x3201, 0x3200, 8-15 and 16-23 the reference status bytes
// of BB (0x3008) and AA (0x3006), 24 and 25 their valid bits.
void clock_chip(prom_text &out)
{
	std::optional<std::string> text = status_file("ad9544bits.dat");
	std::optional<uint32_t> parsed = text ? parse_hex_word(*text) : std::nullopt;
	bool known = parsed.has_value();
	uint32_t word = parsed.value_or(0);
	auto as_value = [&](unsigned shift, uint32_t mask) -> std::optional<double> {
		if (!known)
			return std::nullopt;
		return static_cast<double>((word >> shift) & mask);
	};
	prom_add(out, "kx_clock_chip_status_word", "gauge",
		 "AD9544 status word as panelmon publishes it (ad9544bits.dat)", as_value(0, ~0u));
	static const struct {
		const char *name;
		unsigned bit;
	} bits[] = {
		{"m0", 0},		{"m1", 1},		{"m2_inverted", 2},
		{"dpll_0x3101", 4},	{"dpll_0x3100", 5},	{"dpll_0x3201", 6},
		{"dpll_0x3200", 7},	{"ref_bb_valid", 24},	{"ref_aa_valid", 25},
	};
	for (const auto &b : bits)
		prom_add(out, "kx_clock_chip_status_bit", "gauge",
			 "One bit of the AD9544 status word: status pins, bit 0 of the DPLL "
			 "status registers, reference valid bits",
			 as_value(b.bit, 1), {{"bit", b.name}});
	prom_add(out, "kx_clock_chip_ref_status", "gauge",
		 "AD9544 reference status byte (register 0x3006 for AA, 0x3008 for BB)",
		 as_value(16, 0xFF), {{"ref", "aa"}});
	prom_add(out, "kx_clock_chip_ref_status", "gauge",
		 "AD9544 reference status byte (register 0x3006 for AA, 0x3008 for BB)",
		 as_value(8, 0xFF), {{"ref", "bb"}});
	prom_add(out, "kx_clock_chip_temperature_celsius", "gauge",
		 "AD9544 die temperature, whole degrees Celsius", integer_file("ad9544temp.dat"));
}

} // namespace

void collect_rundata_metrics(prom_text &out)
{
	prom_add(out, "kx_gps_satellites_used", "gauge",
		 "Satellites used in the receiver's fix (GGA)", integer_file("numsats.dat"));
	satellite_system(out, 'g', "gps");
	satellite_system(out, 'l', "glonass");
	satellite_system(out, 'a', "galileo");
	satellite_system(out, 'b', "beidou");

	// panelmon writes the magnitudes, "%d\n" in mA and mW
	prom_add(out, "kx_antenna_current_amperes", "gauge",
		 "GPS antenna supply current (magnitude) from the antenna monitor",
		 integer_file("antenna_current.dat", 1e3));
	prom_add(out, "kx_antenna_power_watts", "gauge",
		 "GPS antenna supply power from the antenna monitor",
		 integer_file("antenna_power.dat", 1e3));
	clock_chip(out);
}
