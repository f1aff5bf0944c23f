// The field step and the format-directed scanner: field taking, the repeat
// after "*", each format character and the failure lines.
#include "nmea_parser.h"
#include "test_sentences.h"

#include <cstring>
#include <vector>

namespace {

TEST(FieldStep, TakesFieldsAndStepsOverDelimiters)
{
	const char *s = "$GPGGA,12,,ab*5C\r\n";
	char field[NMEA_FIELD_SIZE];
	size_t pos = 0;
	nmea_next_field(s, field, &pos);
	EXPECT_STREQ(field, "$GPGGA");
	EXPECT_EQ(pos, 7u);
	nmea_next_field(s, field, &pos);
	EXPECT_STREQ(field, "12");
	nmea_next_field(s, field, &pos);
	EXPECT_STREQ(field, "0") << "an empty field reads as 0";
	nmea_next_field(s, field, &pos);
	EXPECT_STREQ(field, "ab");
	EXPECT_EQ(s[pos - 1], '*');
	size_t at_star = pos;
	nmea_next_field(s, field, &pos);
	EXPECT_STREQ(field, "ab") << "after '*' the buffer keeps the last field";
	EXPECT_EQ(pos, at_star);
}

TEST(FieldStep, EndOfTextYieldsZeroAndStays)
{
	const char *s = "$GPZDA,1";
	char field[NMEA_FIELD_SIZE];
	size_t pos = 0;
	nmea_next_field(s, field, &pos);
	nmea_next_field(s, field, &pos);
	EXPECT_STREQ(field, "1");
	EXPECT_EQ(pos, strlen(s)) << "never moves past the end of the text";
	for (int i = 0; i < 3; i++) {
		nmea_next_field(s, field, &pos);
		EXPECT_STREQ(field, "0");
		EXPECT_EQ(pos, strlen(s));
	}
}

TEST(FieldStep, LongFieldIsCutAndNextFieldKeepsItsPlace)
{
	std::string s = "$GPTXT," + std::string(300, 'x') + ",next";
	char field[NMEA_FIELD_SIZE + 8];
	memset(field, 'Z', sizeof field);
	size_t pos = 0;
	nmea_next_field(s.c_str(), field, &pos);
	nmea_next_field(s.c_str(), field, &pos);
	EXPECT_EQ(strlen(field), 127u);
	EXPECT_EQ(field[NMEA_FIELD_SIZE], 'Z') << "nothing written past 128 bytes";
	nmea_next_field(s.c_str(), field, &pos);
	EXPECT_STREQ(field, "next");
}

TEST(Scan, TypeField)
{
	char type[NMEA_TYPE_SIZE] = "";
	EXPECT_EQ(nmea_scan("$GPZDA", "t", type), 0);
	EXPECT_STREQ(type, "GPZDA");
	EXPECT_EQ(nmea_scan("$PGTOP,11,2", "t", type), 0);
	EXPECT_STREQ(type, "PGTOP");
	EXPECT_EQ(nmea_scan("$PMTK001,604,3", "t", type), 0);
	EXPECT_STREQ(type, "PMTK0") << "characters after the sixth are ignored";

	std::string out = captured([&] { EXPECT_EQ(nmea_scan("$GP", "t", type), -1); });
	EXPECT_EQ(out, "Reached nmea_parser.cpp: nmea_scan: 276\n");
	out = captured([&] { EXPECT_EQ(nmea_scan("GPGGA", "t", type), -1); });
	EXPECT_EQ(out, "Reached nmea_parser.cpp: nmea_scan: 271\n");
}

TEST(Scan, EmptyTimeFailsAfterTypeIsStored)
{
	char type[NMEA_TYPE_SIZE] = "";
	nmea_time_of_day t{7, 7, 7, 7};
	std::string out = captured([&] {
		EXPECT_EQ(nmea_scan("$GPGGA,,4807.038,N", "tT", type, &t), -1);
	});
	EXPECT_EQ(out, "Reached nmea_parser.cpp: nmea_scan: 320\n");
	EXPECT_STREQ(type, "GPGGA");
	EXPECT_EQ(t.hours, 7) << "a failed destination is not written";
}

TEST(Scan, TimeOfDayFraction)
{
	char type[NMEA_TYPE_SIZE];
	nmea_time_of_day t{};
	ASSERT_EQ(nmea_scan("$GPZDA,235959.600,x", "tT", type, &t), 0);
	EXPECT_EQ(t.hours, 23);
	EXPECT_EQ(t.minutes, 59);
	EXPECT_EQ(t.seconds, 59);
	EXPECT_EQ(t.microseconds, 600000);

	struct {
		const char *field;
		int32_t us;
	} cases[] = {{"120000.5", 500000},  {"120000.123", 123000}, {"120000.1234567", 123456},
	             {"120000", 0},         {"120000.", 0},         {"120000.x5", 0},
	             {"120000.05z", 50000}, {"996061", 0}};
	for (auto &c : cases) {
		std::string s = std::string("$GPZDA,") + c.field;
		t = nmea_time_of_day{1, 1, 1, 1};
		ASSERT_EQ(nmea_scan(s.c_str(), "tT", type, &t), 0) << c.field;
		EXPECT_EQ(t.microseconds, c.us) << c.field;
	}
	EXPECT_EQ(t.hours, 99) << "no range check";
	EXPECT_EQ(t.seconds, 61);
	std::string out = captured([&] { EXPECT_EQ(nmea_scan("$GPZDA,12345", "tT", type, &t), -1); });
	EXPECT_EQ(out, "Reached nmea_parser.cpp: nmea_scan: 320\n");
}

TEST(Scan, Date)
{
	char type[NMEA_TYPE_SIZE];
	nmea_date d{};
	ASSERT_EQ(nmea_scan("$GPRMC,311224", "tD", type, &d), 0);
	EXPECT_EQ(d.day, 31);
	EXPECT_EQ(d.month, 12);
	EXPECT_EQ(d.year, 24);
	std::string out = captured([&] { EXPECT_EQ(nmea_scan("$GPRMC,3112a4", "tD", type, &d), -1); });
	EXPECT_EQ(out, "Reached nmea_parser.cpp: nmea_scan: 294\n");
	out = captured([&] { EXPECT_EQ(nmea_scan("$GPRMC,,", "tD", type, &d), -1); });
	EXPECT_EQ(out, "Reached nmea_parser.cpp: nmea_scan: 294\n");
}

TEST(Scan, CharacterStringAndSkip)
{
	char type[NMEA_TYPE_SIZE];
	char c1 = 'x', c2 = 'x';
	char text[NMEA_FIELD_SIZE] = "";
	char empty[NMEA_FIELD_SIZE] = "";
	ASSERT_EQ(nmea_scan("$GPTXT,Ab,skip,,hello world,", "tc_css", type, &c1, &c2, text, empty), 0);
	EXPECT_EQ(c1, 'A');
	EXPECT_EQ(c2, '0') << "empty field gives '0'";
	EXPECT_STREQ(text, "hello world");
	EXPECT_STREQ(empty, "0");
}

TEST(Scan, Directions)
{
	char type[NMEA_TYPE_SIZE];
	int32_t n = 0, s = 0, e = 0, w = 0, empty = 0;
	ASSERT_EQ(nmea_scan("$GPGLL,N,S,E,W,", "tddddd", type, &n, &s, &e, &w, &empty), 0);
	EXPECT_EQ(n, 1);
	EXPECT_EQ(s, -1);
	EXPECT_EQ(e, 1);
	EXPECT_EQ(w, -1);
	EXPECT_EQ(empty, 1);
	int32_t x = 5;
	std::string out = captured([&] { EXPECT_EQ(nmea_scan("$GPGLL,X", "td", type, &x), -1); });
	EXPECT_EQ(out, "Reached nmea_parser.cpp: nmea_scan: 159\n");
	EXPECT_EQ(x, 5);
}

TEST(Scan, UnknownFormatCharacterFails)
{
	char type[NMEA_TYPE_SIZE];
	int32_t a = 0;
	std::string out = captured([&] { EXPECT_EQ(nmea_scan("$GPGGA,1,2", "tiq", type, &a), -1); });
	EXPECT_EQ(out, "Reached nmea_parser.cpp: nmea_scan: 357\n");
	EXPECT_EQ(a, 1) << "destinations filled before the failure stay filled";
}

// Scans up to 19 "i" fields (extra pointers are never touched) and returns
// the first n values; -99 marks a field not written.
std::vector<int32_t> scan_ints(const std::string &sentence, const char *format, size_t n)
{
	char type[NMEA_TYPE_SIZE];
	std::vector<int32_t> v(19, -99);
	EXPECT_EQ(nmea_scan(sentence.c_str(), format, type, &v[0], &v[1], &v[2], &v[3], &v[4],
	                    &v[5], &v[6], &v[7], &v[8], &v[9], &v[10], &v[11], &v[12], &v[13],
	                    &v[14], &v[15], &v[16], &v[17], &v[18]),
	          0)
	    << sentence;
	v.resize(n);
	return v;
}

TEST(Scan, IntegerRunsSemicolonAndTheRepeatAfterStar)
{
	using ints = std::vector<int32_t>;
	EXPECT_EQ(scan_ints("$GPXYZ,4,5", "ti;i", 3), (ints{4, 5, -99})) << "';' takes no field";
	EXPECT_EQ(scan_ints("$GPXXX,7\r\n", "tii", 2), (ints{7, 0})) << "no '*': zero fields";
	EXPECT_EQ(scan_ints("$GPXXX,46*00", "tiiiii", 5), (ints{46, 46, 46, 46, 46}))
	    << "after '*' the last field repeats";
	EXPECT_EQ(scan_ints(with_checksum("$GPGSV,1,1,02,05,40,083,46,09,,,"),
	                    "tiii;iiiiiiiiiiiiiiii", 19),
	          (ints{1, 1, 2, 5, 40, 83, 46, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(Scan, NullArgumentsFail)
{
	char type[NMEA_TYPE_SIZE];
	EXPECT_EQ(nmea_scan(nullptr, "t", type), -1);
	EXPECT_EQ(nmea_scan("$GPGGA", nullptr), -1);
	EXPECT_EQ(nmea_scan("", "", type), 0);
}

} // namespace
