#include "source_text.h"

#include "kx_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ctime>

namespace {

bool is_blank(char c)
{
	return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trim(std::string_view t)
{
	while (!t.empty() && is_blank(t.front()))
		t.remove_prefix(1);
	while (!t.empty() && is_blank(t.back()))
		t.remove_suffix(1);
	return t;
}

} // namespace

std::optional<std::string> read_source(const std::string &path)
{
	unique_fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
	if (!fd.valid())
		return std::nullopt;
	std::string text;
	char buf[4096];
	while (text.size() < sizeof buf) {
		ssize_t n = read(fd.get(), buf, sizeof buf - text.size());
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0)
			return std::nullopt;
		if (n == 0)
			break;
		text.append(buf, static_cast<size_t>(n));
	}
	return text;
}

std::optional<std::string> read_status_file(const std::string &path, double max_age)
{
	struct stat st;
	if (stat(path.c_str(), &st) != 0)
		return std::nullopt;
	timespec now;
	clock_gettime(CLOCK_REALTIME, &now);
	double age = static_cast<double>(now.tv_sec - st.st_mtim.tv_sec) +
		     static_cast<double>(now.tv_nsec - st.st_mtim.tv_nsec) * 1e-9;
	// A file dated ahead of the clock was written before the clock was set
	// back; its writer replaces it within a second, so it counts as fresh.
	if (age > max_age)
		return std::nullopt;
	return read_source(path);
}

std::optional<int64_t> parse_integer(std::string_view text)
{
	text = trim(text);
	if (!text.empty() && text.front() == '+')
		text.remove_prefix(1);
	int64_t value = 0;
	auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
	if (text.empty() || ec != std::errc() || end != text.data() + text.size())
		return std::nullopt;
	return value;
}

std::optional<double> parse_decimal(std::string_view text)
{
	text = trim(text);
	// digits, at most one point, an optional leading sign: no exponent, no
	// "nan" or "inf", which no source of the appliance writes
	size_t digits = 0, points = 0;
	for (size_t i = 0; i < text.size(); i++) {
		char c = text[i];
		if (c >= '0' && c <= '9')
			digits++;
		else if (c == '.')
			points++;
		else if (!((c == '-' || c == '+') && i == 0))
			return std::nullopt;
	}
	if (digits == 0 || points > 1)
		return std::nullopt;
	std::string copy(text);
	return std::strtod(copy.c_str(), nullptr);
}

std::optional<uint32_t> parse_hex_word(std::string_view text)
{
	text = trim(text);
	if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
		return std::nullopt;
	text.remove_prefix(2);
	uint32_t value = 0;
	auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
	if (ec != std::errc() || end != text.data() + text.size())
		return std::nullopt;
	return value;
}

std::optional<std::vector<int64_t>> parse_integer_list(std::string_view text)
{
	std::vector<int64_t> values;
	text = trim(text);
	while (!text.empty()) {
		size_t end = 0;
		while (end < text.size() && !is_blank(text[end]))
			end++;
		std::optional<int64_t> v = parse_integer(text.substr(0, end));
		if (!v)
			return std::nullopt;
		values.push_back(*v);
		text = trim(text.substr(end));
	}
	if (values.empty())
		return std::nullopt;
	return values;
}
