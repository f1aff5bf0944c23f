// libFuzzer target: arbitrary file contents (and missing files) for every
// source the reply is built from, checked against the reply's invariants
// under AddressSanitizer and UndefinedBehaviorSanitizer.
//
// Input layout: byte 0 is a bit mask of missing files (bits 0..7 for the
// first eight sources, bit 0 of byte 1 for the last two); the rest is split
// at 0x00 bytes into the contents of the sources in order.
#include "locator_reply.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const sources[] = {
	"/etc/device_name",
	"/var/volatile/rundata/addr0.dat",
	"/sys/class/net/eth0/address",
	"/var/volatile/rundata/ntp_kount",
	"/sys/pps_filter/gpsfix",
	"/var/volatile/rundata/coords.dat",
	"/etc/version.num",
	"/var/volatile/rundata/addr1.dat",
	"/sys/class/net/eth1/address",
	"/var/volatile/rundata/altitude.dat",
};
constexpr int source_count = 10;

std::string root;

void put_file(const std::string &path, const uint8_t *data, size_t n)
{
	FILE *f = std::fopen(path.c_str(), "wb");
	if (f == nullptr)
		std::abort();
	if (n > 0 && std::fwrite(data, 1, n, f) != n)
		std::abort();
	std::fclose(f);
}

// The bytes of a text field up to its first NUL and zeros after it.
void check_text_field(const unsigned char *field, size_t len)
{
	size_t i = 0;
	while (i < len && field[i] != 0)
		i++;
	for (; i < len; i++)
		if (field[i] != 0)
			std::abort();
}

const char *const dirs[] = {
	"/etc", "/var", "/var/volatile", "/var/volatile/rundata", "/sys", "/sys/class",
	"/sys/class/net", "/sys/class/net/eth0", "/sys/class/net/eth1", "/sys/pps_filter",
};

// Leaves no tree behind in /tmp.
void remove_tree()
{
	for (const char *src : sources)
		unlink((root + src).c_str());
	for (int i = sizeof(dirs) / sizeof(dirs[0]) - 1; i >= 0; i--)
		rmdir((root + dirs[i]).c_str());
	rmdir(root.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	char tmpl[] = "/tmp/locator_fuzz.XXXXXX";
	if (mkdtemp(tmpl) == nullptr)
		std::abort();
	root = tmpl;
	for (const char *dir : dirs)
		mkdir((root + dir).c_str(), 0755);
	std::atexit(remove_tree);
	setenv("KX_ROOT", root.c_str(), 1);
	// The "Error opening" lines are not what is under test here.
	if (std::freopen("/dev/null", "w", stdout) == nullptr)
		std::abort();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	unsigned missing = 0;
	if (size >= 2) {
		missing = data[0] | (data[1] & 3u) << 8;
		data += 2;
		size -= 2;
	}
	const uint8_t *p = data;
	const uint8_t *end = data + size;
	for (int i = 0; i < source_count; i++) {
		const uint8_t *q = static_cast<const uint8_t *>(std::memchr(p, 0, end - p));
		if (q == nullptr)
			q = end;
		std::string path = root + sources[i];
		if (missing & (1u << i))
			unlink(path.c_str());
		else
			put_file(path, p, q - p);
		p = q < end ? q + 1 : end;
	}

	// Exactly 80 bytes on the heap, so a write beyond the reply is caught.
	auto *reply = static_cast<unsigned char (*)[locator_reply_size]>(
		std::malloc(locator_reply_size));
	locator_build_reply(*reply);
	const unsigned char *r = *reply;
	if (r[reply_type_off] != locator_reply_type || r[reply_last_off] != 0)
		std::abort();
	if (r[reply_fix_off] == 0 &&
	    (r[reply_hour_off] | r[reply_minute_off] | r[reply_second_off]) != 0)
		std::abort();
	if (r[reply_fix_off] == 0 && std::memcmp(&r[reply_position_off], "No Fix", 7) != 0)
		std::abort();
	if ((missing & (1u << 3)) &&
	    std::memcmp(&r[reply_ntp_kount_off], "\xff\xff\xff\xff", 4) != 0)
		std::abort();
	if ((missing & (1u << 4)) && r[reply_fix_off] != 255)
		std::abort();
	if ((missing & (1u << 7)) && std::memcmp(&r[reply_addr1_off], "\0\0\0\0", 4) != 0)
		std::abort();
	if ((missing & (1u << 9)) && std::memcmp(&r[reply_altitude_off], "\0\0\0\0\0\0\0", 7) != 0)
		std::abort();
	check_text_field(&r[reply_position_off], reply_position_len);
	check_text_field(&r[reply_name_off], reply_name_len);
	check_text_field(&r[reply_altitude_off], reply_altitude_len);
	std::free(reply);

	// The request test on the datagram itself.
	bool asks = locator_is_request(data, static_cast<long>(size));
	if (asks != (size >= 1 && data[0] == 0xA1))
		std::abort();
	return 0;
}
