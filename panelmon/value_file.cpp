#include "value_file.h"

#include "kx_file.h"

#include <cctype>
#include <cstdio>
#include <cstring>

int read_value_file(const char *path, char *text, size_t size)
{
	if (size == 0)
		return -1;
	text[0] = '\0';
	std::FILE *f = std::fopen(path, "r");
	if (f == nullptr)
		return -1;
	size_t limit = size - 1 < VALUE_TEXT_MAX ? size - 1 : VALUE_TEXT_MAX;
	size_t n = 0;
	while (n < limit) {
		int c = std::fgetc(f);
		if (c == EOF)
			break;
		text[n++] = static_cast<char>(c);
		if (c == '\n')
			break;
	}
	text[n] = '\0';
	std::fclose(f);
	return 0;
}

void write_value_file(const char *path, const char *text)
{
	kx_replace_file(path, text);
}

void write_attribute(const char *path, const char *text)
{
	std::FILE *f = std::fopen(path, "w");
	if (f == nullptr)
		return;
	std::fwrite(text, 1, std::strlen(text), f);
	std::fclose(f);
}

int32_t parse_number(const char *text)
{
	const char *p = text;
	while (std::isspace(static_cast<unsigned char>(*p)))
		p++;
	bool negative = false;
	if (*p == '+' || *p == '-') {
		negative = *p == '-';
		p++;
	}
	int64_t value = 0;
	while (std::isdigit(static_cast<unsigned char>(*p))) {
		if (value <= INT64_C(0x7FFFFFFF) + 1)
			value = value * 10 + (*p - '0');
		p++;
	}
	if (negative)
		value = -value;
	if (value > INT32_MAX)
		return INT32_MAX;
	if (value < INT32_MIN)
		return INT32_MIN;
	return static_cast<int32_t>(value);
}

int32_t read_number_file(const char *path)
{
	char text[VALUE_TEXT_MAX + 1];
	read_value_file(path, text, sizeof text);
	return parse_number(text);
}
