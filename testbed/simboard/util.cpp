// Catalogue of device models and small text helpers of simboard.
#include "board.h"

#include <cstdio>
#include <cstdlib>

namespace {

std::vector<SimDeviceType> &catalogue()
{
	static std::vector<SimDeviceType> types;
	return types;
}

std::vector<SimIoModelType> &io_catalogue()
{
	static std::vector<SimIoModelType> types;
	return types;
}

}  // namespace

bool sim_register_io_model(const SimIoModelType &type)
{
	io_catalogue().push_back(type);
	return true;
}

const std::vector<SimIoModelType> &sim_io_model_types()
{
	return io_catalogue();
}

bool sim_register_device(const SimDeviceType &type)
{
	catalogue().push_back(type);
	return true;
}

const std::vector<SimDeviceType> &sim_device_types()
{
	return catalogue();
}

long sim_parse_number(const std::string &word, bool *ok)
{
	char *end = nullptr;
	long v = std::strtol(word.c_str(), &end, 0);
	*ok = !word.empty() && end != nullptr && *end == '\0';
	return v;
}

std::string sim_hex(const uint8_t *data, size_t len)
{
	std::string out;
	char b[3];
	for (size_t i = 0; i < len; i++) {
		std::snprintf(b, sizeof b, "%02x", data[i]);
		out += b;
	}
	return out;
}

std::string sim_escape(const std::string &text)
{
	std::string out;
	char b[5];
	for (unsigned char c : text) {
		if (c == '\\') {
			out += "\\\\";
		} else if (c >= 0x20 && c < 0x7f && c != '"') {
			out += static_cast<char>(c);
		} else {
			std::snprintf(b, sizeof b, "\\x%02x", c);
			out += b;
		}
	}
	return out;
}
