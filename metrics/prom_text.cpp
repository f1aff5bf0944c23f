#include "prom_text.h"

#include <charconv>
#include <cmath>

namespace {

prom_family &family_of(prom_text &text, const char *name, const char *type, const char *help)
{
	for (prom_family &f : text.families)
		if (f.name == name)
			return f;
	text.families.push_back(prom_family{name, type, help, {}});
	return text.families.back();
}

// HELP texts escape only backslash and line feed.
std::string escape_help(std::string_view help)
{
	std::string out;
	for (char c : help) {
		if (c == '\\')
			out += "\\\\";
		else if (c == '\n')
			out += "\\n";
		else
			out += c;
	}
	return out;
}

} // namespace

void prom_add(prom_text &text, const char *name, const char *type, const char *help,
	      std::optional<double> value, std::vector<prom_label> labels)
{
	prom_family &f = family_of(text, name, type, help);
	if (value && std::isfinite(*value))
		f.samples.push_back(prom_sample{std::move(labels), *value});
}

std::string prom_escape_label(std::string_view value)
{
	std::string out;
	for (char c : value) {
		if (c == '\\')
			out += "\\\\";
		else if (c == '"')
			out += "\\\"";
		else if (c == '\n')
			out += "\\n";
		else
			out += c;
	}
	return out;
}

std::string prom_number(double value)
{
	char buf[32];
	auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
	if (ec != std::errc())
		return "NaN";	// not reached: 32 characters hold any double
	return std::string(buf, end);
}

std::string prom_render(const prom_text &text)
{
	std::string out;
	for (const prom_family &f : text.families) {
		if (f.samples.empty())
			continue;
		out += "# HELP " + f.name + " " + escape_help(f.help) + "\n";
		out += "# TYPE " + f.name + " " + f.type + "\n";
		for (const prom_sample &s : f.samples) {
			out += f.name;
			if (!s.labels.empty()) {
				out += '{';
				for (size_t i = 0; i < s.labels.size(); i++) {
					if (i > 0)
						out += ',';
					out += s.labels[i].name + "=\"" +
					       prom_escape_label(s.labels[i].value) + "\"";
				}
				out += '}';
			}
			out += " " + prom_number(s.value) + "\n";
		}
	}
	return out;
}
