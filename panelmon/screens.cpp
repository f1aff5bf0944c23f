#include "screens.h"

#include "kx_path.h"
#include "value_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>

int32_t time_known_flag = 0;
int32_t holdover_value = 0;
char fix_text[4] = "";
bool gnss_suspect = false;
char gnss_alarm[16] = "";

namespace {

constexpr char RUNDATA[] = "/var/volatile/rundata/";

std::string rundata(const char *name)
{
	return kx_path((std::string(RUNDATA) + name).c_str());
}

// The text of a value file, empty when it is missing.
void read_text(const std::string &path, char *text, size_t size)
{
	read_value_file(path.c_str(), text, size);
}

// Up to four white-space separated decimal integers at the start of `text`,
// like "%d %d %d %d": stops at the first text that is not a number. Values
// beyond the 32-bit range are clamped. Returns how many were taken.
int parse_four(const char *text, int32_t *out)
{
	const char *p = text;
	int n = 0;
	while (n < 4) {
		char *end = nullptr;
		errno = 0;
		long long v = std::strtoll(p, &end, 10);
		if (end == p)
			break;
		out[n++] = static_cast<int32_t>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
		p = end;
	}
	return n;
}

}  // namespace

void format_row(char *row, const char *format, ...)
{
	va_list ap;
	va_start(ap, format);
	std::vsnprintf(row, ROW_SIZE, format, ap);
	va_end(ap);
}

void time_text(char *row, bool running)
{
	int h = 0, m = 0, s = 0;
	if (running) {
		std::time_t now = std::time(nullptr);
		std::tm local;
		// localtime_r need not look at the zone again; the appliance's
		// scripts may change it while the daemon runs.
		tzset();
		if (localtime_r(&now, &local) != nullptr) {
			h = local.tm_hour;
			m = local.tm_min;
			s = local.tm_sec;
		}
	}
	format_row(row, "    %02d:%02d:%02d UTC    ", h, m, s);
}

int time_mode_from_text(const char *text)
{
	int32_t mode = parse_number(text);
	return mode == TIME_MODE_PEER || mode == TIME_MODE_MANUAL ? mode : TIME_MODE_GPS;
}

int read_time_mode()
{
	char text[VALUE_TEXT_MAX + 1];
	read_value_file(kx_path("/etc/time_mode").c_str(), text, sizeof text);
	return time_mode_from_text(text);
}

int32_t snr_average()
{
	static const char *const lists[] = {"gsnrlist.dat", "asnrlist.dat", "bsnrlist.dat",
					    "lsnrlist.dat"};
	int32_t slot[16] = {};
	int n = 0;
	for (const char *name : lists) {
		char text[VALUE_TEXT_MAX + 1];
		if (read_value_file(rundata(name).c_str(), text, sizeof text) != 0)
			continue;
		parse_four(text, slot + n);
		n += 4;
	}
	if (n == 0)
		return 0;
	for (int i = 1; i < n; i++)
		for (int j = i; j < n; j++)
			if (slot[i - 1] < slot[j])
				std::swap(slot[i - 1], slot[j]);
	// Summed in 64 bits so that absurd list values cannot overflow.
	int64_t sum = int64_t{slot[0]} + slot[1] + slot[2] + slot[3];
	return static_cast<int32_t>(sum / 4);
}

void render_page0(char *line1, char *line2)
{
	char text[VALUE_TEXT_MAX + 1];
	switch (read_time_mode()) {
	case TIME_MODE_PEER:
		time_text(line1, true);
		if (read_number_file(rundata("chrony_peer_status").c_str()) == 1)
			format_row(line2, "Peer NTP: Synced     ");
		else if (read_number_file(rundata("peer_holdover_expired").c_str()) == 1)
			format_row(line2, "Peer Holdovr Expired");
		else
			format_row(line2, "Peer Unsynced: %5d",
				   read_number_file(rundata("time_since_peer_synced").c_str()));
		break;
	case TIME_MODE_MANUAL: {
		bool set = read_value_file(rundata("manual_time_set").c_str(), text, sizeof text) == 0 &&
			   text[0] == '1';
		time_text(line1, set);
		format_row(line2, "%20s", "  Manual Time Mode  ");
		break;
	}
	default: {
		time_text(line1, read_number_file(kx_path("/sys/pps_filter/gps_time_set").c_str()) > 0);
		int32_t average = snr_average();
		if (gnss_suspect) {
			// The receiver disagrees with the appliance's own time scale:
			// the unit holds over on its oscillator whatever the fix says.
			// The reason in capitals, cut to the row ("POSITION" fits).
			char reason[sizeof gnss_alarm];
			size_t n = std::strlen(gnss_alarm);
			for (size_t i = 0; i <= n; i++)
				reason[i] = static_cast<char>(
					std::toupper(static_cast<unsigned char>(gnss_alarm[i])));
			format_row(line2, "GPS SUSPECT %-8.8s", reason);
		} else if (holdover_value == 0)
			format_row(line2, "GPS:%3s  SNR Ave=%2d ", fix_text, average);
		else if (time_known_flag == 1)
			format_row(line2, "Holdover: %d sec      ", holdover_value);
		else
			format_row(line2, "Holdover: Expired    ");
		break;
	}
	}
}

void render_info_page(int page, char *line1, char *line2)
{
	// File texts are right-aligned in their fields; a longer text widens the
	// field and the row is cut at 20 characters.
	static const char *const files[][2] = {
		{"addr0.dat", "addr1.dat"},
		{"mask0.dat", "mask1.dat"},
		{"gw0.dat", "gw1.dat"},
		{"mac0.dat", "mac1.dat"},
	};
	char a[VALUE_TEXT_MAX + 1], b[VALUE_TEXT_MAX + 1];
	if (page >= 1 && page <= 4) {
		read_text(rundata(files[page - 1][0]), a, sizeof a);
		read_text(rundata(files[page - 1][1]), b, sizeof b);
	}
	switch (page) {
	case 1:
		format_row(line1, "IP0: %15s", a);
		format_row(line2, "IP1: %15s", b);
		break;
	case 2:
		format_row(line1, "MK0: %15s", a);
		format_row(line2, "MK1: %15s", b);
		break;
	case 3:
		format_row(line1, "GW0: %15s", a);
		format_row(line2, "GW1: %15s", b);
		break;
	case 4:
		format_row(line1, "M0:%17s", a);
		format_row(line2, "M1:%17s", b);
		break;
	case 5:
		read_text(rundata("numsats.dat"), a, sizeof a);
		format_row(line1, "GPS Lock:%3s Sats=%2s", fix_text, a);
		format_row(line2, "SNR Average=%2d      ", snr_average());
		break;
	default:
		break;
	}
}
