#include "locator_reply.h"

#include "kx_path.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace {

// Everything one request reads, cleared before the files are read.
struct locator_sources {
	char device_name[80];
	int addr0[4];
	unsigned int mac0[6];
	int ntp_kount;
	int gps_fix;
	char position[40];
	int hour, minute, second;
	int version_x, version_y;
	int addr1[4];
	unsigned int mac1[6];
	char altitude[40];
};

// Opens a fixed path (below KX_ROOT when set) for reading; reports a file
// that cannot be opened.
FILE *open_source(const char *fixed)
{
	std::string path = kx_path(fixed);
	FILE *f = std::fopen(path.c_str(), "r");
	if (f == nullptr)
		std::printf("Error opening: %s\n", path.c_str());
	return f;
}

// The first whitespace-free word of a file, at most 79 (or 39) characters.
// The scanf width keeps the word inside its buffer.
bool read_word79(const char *fixed, char (&buf)[80])
{
	FILE *f = open_source(fixed);
	if (f == nullptr)
		return false;
	if (std::fscanf(f, "%79s", buf) != 1)
		buf[0] = '\0';
	std::fclose(f);
	return true;
}

bool read_word39(const char *fixed, char (&buf)[40])
{
	FILE *f = open_source(fixed);
	if (f == nullptr)
		return false;
	if (std::fscanf(f, "%39s", buf) != 1)
		buf[0] = '\0';
	std::fclose(f);
	return true;
}

// A dotted IPv4 address; numbers after a mismatch stay 0. Returns how many
// numbers were parsed.
int read_ipv4(const char *fixed, int (&addr)[4])
{
	FILE *f = open_source(fixed);
	if (f == nullptr)
		return 0;
	int n = std::fscanf(f, "%d.%d.%d.%d", &addr[0], &addr[1], &addr[2],
			    &addr[3]);
	std::fclose(f);
	return n < 0 ? 0 : n;
}

// The kernel's "aa:bb:cc:dd:ee:ff" interface address; bytes after a
// mismatch stay 0. Returns how many bytes were parsed.
int read_mac(const char *fixed, unsigned int (&mac)[6])
{
	FILE *f = open_source(fixed);
	if (f == nullptr)
		return 0;
	int n = std::fscanf(f, "%x:%x:%x:%x:%x:%x", &mac[0], &mac[1], &mac[2],
			    &mac[3], &mac[4], &mac[5]);
	std::fclose(f);
	return n < 0 ? 0 : n;
}

// One decimal integer; `missing` when the file cannot be opened, 0 when it
// holds no number.
int read_int(const char *fixed, int missing)
{
	FILE *f = open_source(fixed);
	if (f == nullptr)
		return missing;
	int v = 0;
	if (std::fscanf(f, "%d", &v) != 1)
		v = 0;
	std::fclose(f);
	return v;
}

// "v1.X.Y-MX93"; returns how many of X and Y were parsed.
int read_version(const char *fixed, int &x, int &y)
{
	FILE *f = open_source(fixed);
	if (f == nullptr)
		return 0;
	int n = std::fscanf(f, "v1.%d.%d-MX93", &x, &y);
	std::fclose(f);
	return n < 0 ? 0 : n;
}

void put_be32(unsigned char *p, std::uint32_t v)
{
	p[0] = static_cast<unsigned char>(v >> 24);
	p[1] = static_cast<unsigned char>(v >> 16);
	p[2] = static_cast<unsigned char>(v >> 8);
	p[3] = static_cast<unsigned char>(v);
}

// A text into a fixed field: NUL-terminated when shorter than the field,
// otherwise its first `len` bytes without terminator. The field is already
// zero, which also pads it.
void put_text(unsigned char *field, std::size_t len, const char *text)
{
	std::memcpy(field, text, strnlen(text, len));
}

void put_ipv4(unsigned char *p, const int (&addr)[4])
{
	for (int i = 0; i < 4; i++)
		p[i] = static_cast<unsigned char>(addr[i]);
}

void put_mac(unsigned char *p, const unsigned int (&mac)[6])
{
	for (int i = 0; i < 6; i++)
		p[i] = static_cast<unsigned char>(mac[i]);
}

} // namespace

bool locator_is_request(const unsigned char *data, long n)
{
	return n >= 1 && data[0] == locator_request_byte;
}

void locator_build_reply(unsigned char (&reply)[locator_reply_size])
{
	locator_sources s;
	std::memset(&s, 0, sizeof(s));
	std::memset(reply, 0, sizeof(reply));

	read_word79("/etc/device_name", s.device_name);
	read_ipv4("/var/volatile/rundata/addr0.dat", s.addr0);
	read_mac("/sys/class/net/eth0/address", s.mac0);
	s.ntp_kount = read_int("/var/volatile/rundata/ntp_kount", -1);
	s.gps_fix = read_int("/sys/pps_filter/gpsfix", 255);
	read_word39("/var/volatile/rundata/coords.dat", s.position);

	// localtime_r() alone keeps the zone it loaded first; tzset() looks at
	// /etc/localtime again, so a zone changed while the service runs shows
	// in the next reply.
	tzset();
	std::time_t now = std::time(nullptr);
	struct tm local;
	if (localtime_r(&now, &local) != nullptr) {
		s.hour = local.tm_hour;
		s.minute = local.tm_min;
		s.second = local.tm_sec;
	}

	read_version("/etc/version.num", s.version_x, s.version_y);

	unsigned char fix = static_cast<unsigned char>(s.gps_fix);
	reply[reply_type_off] = locator_reply_type;
	put_ipv4(&reply[reply_addr0_off], s.addr0);
	put_mac(&reply[reply_mac0_off], s.mac0);
	reply[reply_version_x_off] = static_cast<unsigned char>(s.version_x);
	reply[reply_version_y_off] = static_cast<unsigned char>(s.version_y);
	reply[reply_fix_off] = fix;
	put_be32(&reply[reply_ntp_kount_off], static_cast<std::uint32_t>(s.ntp_kount));
	if (fix != 0) {
		reply[reply_hour_off] = static_cast<unsigned char>(s.hour);
		reply[reply_minute_off] = static_cast<unsigned char>(s.minute);
		reply[reply_second_off] = static_cast<unsigned char>(s.second);
		put_text(&reply[reply_position_off], reply_position_len, s.position);
	} else {
		put_text(&reply[reply_position_off], reply_position_len, "No Fix");
	}

	put_text(&reply[reply_name_off], reply_name_len, s.device_name);

	// Port 1 has its own buffers, so a missing or short file yields zeros
	// rather than port 0's values.
	read_ipv4("/var/volatile/rundata/addr1.dat", s.addr1);
	read_mac("/sys/class/net/eth1/address", s.mac1);
	put_ipv4(&reply[reply_addr1_off], s.addr1);
	put_mac(&reply[reply_mac1_off], s.mac1);

	// The altitude has its own buffer too: an empty or missing altitude.dat
	// (nmeafeed leaves it empty before the first GGA) gives zeros, not the
	// start of the position text.
	read_word39("/var/volatile/rundata/altitude.dat", s.altitude);
	put_text(&reply[reply_altitude_off], reply_altitude_len, s.altitude);
	reply[reply_last_off] = 0;
}
