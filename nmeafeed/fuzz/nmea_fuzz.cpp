// libFuzzer target over the sentence library.
//
// Input that begins with "$" is a sentence: it goes through validation,
// classification, every parser and the scanner with each parser's format.
// Any other input is "FORMAT\nSENTENCE": nmea_scan runs with that format
// (up to 24 characters, any bytes, so unknown format characters are reached
// too) over the sentence, with a destination for every position.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "nmea_parser.h"

namespace {

const char *const kFormats[] = {"tTcfdfdffDfd",        "tTfdfdiiffcfci_", "tciiiiiiiiiiiiifff",
                                "tfdfdTc;c",           "tTfffffff",       "tiii;iiiiiiiiiiiiiiii",
                                "tiff",                "tTDsc_;fid"};

// One destination, large and aligned enough for any format character.
union destination {
	char type[NMEA_TYPE_SIZE];
	nmea_time_of_day time;
	nmea_date date;
	nmea_fixed fixed;
	int32_t integer;
	char character;
	char text[NMEA_FIELD_SIZE];
};

void run_parsers(const char *s)
{
	nmea_validate(s, true);
	nmea_validate(s, false);
	nmea_checksum(s);
	nmea_sentence_type(s, true);
	nmea_sentence_type(s, false);

	nmea_rmc rmc{};
	nmea_parse_rmc(&rmc, s);
	nmea_gga gga{};
	nmea_parse_gga(&gga, s);
	nmea_gsa gsa{};
	nmea_parse_gsa(&gsa, s);
	nmea_gll gll{};
	nmea_parse_gll(&gll, s);
	nmea_gst gst{};
	nmea_parse_gst(&gst, s);
	nmea_gsv gsv{};
	nmea_parse_gsv(&gsv, s);
	nmea_pgtop pgtop{};
	nmea_parse_pgtop(&pgtop, s);
}

void run_scan(const char *format, const char *s)
{
	destination d[24];
	memset(d, 0, sizeof d);
	nmea_scan(s, format, &d[0], &d[1], &d[2], &d[3], &d[4], &d[5], &d[6], &d[7], &d[8], &d[9],
	          &d[10], &d[11], &d[12], &d[13], &d[14], &d[15], &d[16], &d[17], &d[18], &d[19],
	          &d[20], &d[21], &d[22], &d[23]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	// The library works on terminated texts: an exact-size copy lets ASan
	// catch any read past the terminator.
	std::string input(reinterpret_cast<const char *>(data), size);
	if (size > 0 && data[0] == '$') {
		const char *s = input.c_str();
		run_parsers(s);
		for (const char *format : kFormats)
			run_scan(format, s);
		return 0;
	}
	size_t nl = input.find('\n');
	std::string format = input.substr(0, nl == std::string::npos ? input.size() : nl);
	if (format.size() > 24)
		format.resize(24);
	std::string sentence = nl == std::string::npos ? std::string() : input.substr(nl + 1);
	run_scan(format.c_str(), sentence.c_str());
	return 0;
}
