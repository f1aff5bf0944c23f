// The Prometheus text exposition format, as node-exporter's textfile
// collector reads it: per metric family one "# HELP" and one "# TYPE" line,
// then its samples, one per line.
//
// The one rule every source of kxmetrics relies on: a value that could not
// be read is never written. node-exporter keeps no stale value, so a series
// that is missing from the file is missing from the scrape, which an alert
// can see; a 0 standing in for "unknown" would look like a real reading. A
// family without any sample is left out whole, HELP and TYPE included.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct prom_label {
	std::string name;
	std::string value;
};

struct prom_sample {
	std::vector<prom_label> labels;
	double value;
};

struct prom_family {
	std::string name;
	std::string type;	// "gauge" or "counter"
	std::string help;
	std::vector<prom_sample> samples;
};

// The families in the order of their first mention.
struct prom_text {
	std::vector<prom_family> families;
};

// Adds one sample to the family `name` (made on first use). An empty value,
// or one that is not a finite number, adds nothing.
void prom_add(prom_text &text, const char *name, const char *type, const char *help,
	      std::optional<double> value, std::vector<prom_label> labels = {});

// The whole file: every family that has samples, each line ending in LF.
std::string prom_render(const prom_text &text);

// A label value as it stands between the double quotes (backslash, double
// quote and line feed escaped).
std::string prom_escape_label(std::string_view value);

// A sample value: the shortest text that reads back as the same double.
std::string prom_number(double value);
