// The module and nmeafeed judge a ZDA's time by one rule (the calendar
// floor, the 1024-week rule, the date fields exactly their digits, second
// 60 only at a month's end): every line either side takes, the other takes
// too, for the same second. Checked on every combination of a table of
// field texts (boundaries, lengths, signs, blanks) and on random
// replacements in the digits of true ZDA lines. The module's parser runs on
// the host layer, nmeafeed's code as it is; neither is modelled here.
//
//   zda_one_rule [--random N] [--seed S]     exit status 1 on a disagreement
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "kernel_side.h"
#include "nmeafeed.h"
#include "zda_time.h"

namespace {

std::string with_checksum(const std::string &body)
{
	unsigned sum = 0;
	for (size_t i = 1; i < body.size(); i++)
		sum ^= static_cast<unsigned char>(body[i]);
	char tail[8];
	snprintf(tail, sizeof tail, "*%02X", sum);
	return body + tail;
}

// The label the module should give the pulse after this ZDA, by nmeafeed's
// reading of it, or INT64_MIN when nmeafeed takes no time from it. After
// 23:59:60 the next pulse is the seconds nmeafeed gives 23:59:60 itself
// (the next day's 00:00:00); after any other second, that second + 1.
int64_t nmeafeed_label(const std::string &line)
{
	zda_stamp stamp{};
	int64_t seconds = 0;
	if (!read_zda_stamp(line.c_str(), &stamp) || !zda_time_taken(stamp, &seconds))
		return INT64_MIN;
	return stamp.sent_second == 60 ? seconds : seconds + 1;
}

unsigned long checked, taken, differ;

void compare(const std::string &line)
{
	int64_t module = ks_zda_label(line.data(), line.size());
	int64_t feed = nmeafeed_label(line);
	checked++;
	taken += module != INT64_MIN;
	if (module == feed)
		return;
	if (differ++ < 10)
		fprintf(stderr, "zda_one_rule: %s: module %" PRId64 ", nmeafeed %" PRId64 "\n",
		        line.c_str(), module, feed);
}

uint64_t rng;
uint64_t next_random()
{
	rng ^= rng << 13;
	rng ^= rng >> 7;
	rng ^= rng << 17;
	return rng;
}

} // namespace

int main(int argc, char **argv)
{
	long randoms = 200000;
	rng = 0x9E3779B97F4A7C15ull;
	for (int i = 1; i + 1 < argc; i += 2) {
		if (strcmp(argv[i], "--random") == 0)
			randoms = atol(argv[i + 1]);
		else if (strcmp(argv[i], "--seed") == 0)
			rng += strtoull(argv[i + 1], nullptr, 0) * 0x2545F4914F6CDD1Dull;
	}

	static const char *const times[] = {"000000", "123456", "235958", "235959", "235960",
	                                    "235860", "123460", "240000", "236000", "235961",
	                                    "12345x", " 23456"};
	static const char *const days[] = {"00", "01", "06", "28", "29", "30", "31", "32",
	                                   " 6", "+6", "6", "006", "1:"};
	static const char *const months[] = {"00", "01", "02", "04", "06", "11", "12",
	                                     "13", "1", "012", " 1", "-1"};
	static const char *const years[] = {"1980", "2007", "2024", "2025", "2026", "2027",
	                                    "2028", "2100", "9999", "0000", "202", "20261",
	                                    " 026", "+026"};
	static const char *const tails[] = {",00,00", ""};
	for (const char *t : times)
		for (const char *d : days)
			for (const char *m : months)
				for (const char *y : years)
					for (const char *tail : tails)
						compare(with_checksum(std::string("$GPZDA,") + t + ".000," +
						                      d + "," + m + "," + y + tail));

	// true ZDA lines of random seconds from 1970 to 2100, one to three of
	// their hhmmss and date characters replaced
	static const char kChars[] = "0123456789012345678901234567890123456789,*+- :x";
	for (long i = 0; i < randoms; i++) {
		int64_t t = static_cast<int64_t>(next_random() % 4102444800ull);
		time_t tt = static_cast<time_t>(t);
		struct tm u;
		gmtime_r(&tt, &u);
		char body[64];
		snprintf(body, sizeof body, "$GPZDA,%02d%02d%02d.000,%02d,%02d,%04d,00,00", u.tm_hour,
		         u.tm_min, u.tm_sec, u.tm_mday, u.tm_mon + 1, u.tm_year + 1900);
		std::string line = body;
		int changes = static_cast<int>(next_random() % 4);
		for (int c = 0; c < changes; c++) {
			// columns 7-12 (hhmmss) and 18-27 (the date and its commas)
			size_t pos = next_random() % 16;
			pos = pos < 6 ? 7 + pos : 18 + (pos - 6);
			line[pos] = kChars[next_random() % (sizeof kChars - 1)];
		}
		compare(with_checksum(line));
	}
	printf("zda_one_rule: %lu lines, %lu taken by the module, %lu judged otherwise by nmeafeed\n",
	       checked, taken, differ);
	return differ == 0 && taken > 0 ? 0 : 1;
}
