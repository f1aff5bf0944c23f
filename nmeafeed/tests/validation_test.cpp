// Validation, checksum, hexadecimal digits, field characters and the
// classification of sentence types.
#include "nmea_parser.h"
#include "test_sentences.h"

#include <cctype>

namespace {

TEST(Checksum, XorOfTheBody)
{
	EXPECT_EQ(nmea_checksum(kGga), 0x47);
	EXPECT_EQ(nmea_checksum("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"), 0x47)
	    << "the leading $ is optional";
	EXPECT_EQ(nmea_checksum("$"), 0);
	EXPECT_EQ(nmea_checksum(""), 0);
	EXPECT_EQ(nmea_checksum("$A"), 'A');
	EXPECT_EQ(nmea_checksum("$AB*CD"), 'A' ^ 'B');
	EXPECT_EQ(nmea_checksum(nullptr), 0);
}

TEST(HexDigits, ValuesAndRejects)
{
	for (auto [c, v] : {std::pair{'0', 0}, {'9', 9}, {'A', 10}, {'f', 15}, {'G', -1}, {'g', -1},
	                    {'*', -1}, {'\0', -1}})
		EXPECT_EQ(nmea_hex_value(c), v) << c;
}

TEST(FieldCharacters, PrintableExceptDelimiters)
{
	for (char c : {' ', '~', '$'})
		EXPECT_TRUE(nmea_is_field_char(c)) << c;
	for (char c : {',', '*', '\r', '\x7f', '\xb0'})
		EXPECT_FALSE(nmea_is_field_char(c)) << int(c);
}

TEST(Validation, LineEndingsAndMissingChecksum)
{
	const std::string with = kGga, without = "$GPGGA,123519,4807.038,N";
	struct {
		std::string line;
		bool strict;
		int32_t result;
	} cases[] = {
	    {with, true, 0},           {with + "\n", true, 0},         {with + "\r\n", true, 0},
	    {with + "\n\r", true, 1},   {with + "\r", true, 1},          {with + " ", true, 1},
	    {without, false, 0},       {without + "\n", false, 0},     {without + "\r\n", false, 0},
	    {without + "\r\nX", false, 1}, {without, true, 1},        {without + "\r\n", true, 1},
	};
	for (const auto &c : cases)
		EXPECT_EQ(nmea_validate(c.line.c_str(), c.strict), c.result) << c.line << " strict " << c.strict;
}

TEST(Validation, ChecksumField)
{
	std::string body = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";
	EXPECT_EQ(nmea_validate((body + "*48").c_str(), false), 1) << "wrong checksum";
	EXPECT_EQ(nmea_validate((body + "*4").c_str(), false), 1) << "one digit";
	EXPECT_EQ(nmea_validate((body + "*").c_str(), false), 1);
	EXPECT_EQ(nmea_validate((body + "*4G").c_str(), false), 1);
	// Lower-case hex digits: find a body whose checksum has a letter in it.
	for (char c = 'A'; c <= 'Z'; c++) {
		std::string s = with_checksum(std::string("$GPTXT,") + c);
		std::string hex = s.substr(s.find('*') + 1);
		if (hex.find_first_of("ABCDEF") == std::string::npos)
			continue;
		for (size_t i = s.find('*'); i < s.size(); i++)
			s[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
		EXPECT_EQ(nmea_validate(s.c_str(), true), 0) << s;
	}
}

TEST(Validation, LengthAndDollar)
{
	std::string body = "$GPTXT," + std::string(124, 'a'); // 131 characters with checksum
	std::string ok = with_checksum(body.substr(0, 128));
	ASSERT_EQ(ok.size(), 131u);
	EXPECT_EQ(nmea_validate(ok.c_str(), true), 0);
	std::string too_long = with_checksum(body.substr(0, 129));
	ASSERT_EQ(too_long.size(), 132u);
	EXPECT_EQ(nmea_validate(too_long.c_str(), true), 1);
	EXPECT_EQ(nmea_validate(kGga + 1, false), 1) << "no $";
	EXPECT_EQ(nmea_validate("", false), 1);
	EXPECT_EQ(nmea_validate(nullptr, false), 1);
}

TEST(Classification, TypesAndTalkers)
{
	EXPECT_EQ(nmea_sentence_type(kGga, true), NMEA_GGA);
	std::string gn = kGga;
	gn[2] = 'N';
	gn = with_checksum(gn.substr(0, gn.find('*')));
	EXPECT_EQ(nmea_sentence_type(gn.c_str(), true), NMEA_GGA);
	struct {
		const char *body;
		int32_t type;
	} cases[] = {{"$GPRMC,1", NMEA_RMC},   {"$GNGSA,A", NMEA_GSA}, {"$GPGLL,1", NMEA_GLL},
	             {"$GPGST,1", NMEA_GST},   {"$GLGSV,1", NMEA_GSV}, {"$GPZDA,1", NMEA_ZDA},
	             {"$PGTOP,11,2", NMEA_PGTOP}, {"$PMTK001,604,3", NMEA_OTHER},
	             {"$GPTXT,x", NMEA_OTHER}, {"$GPGSVX,1", NMEA_GSV}, {"$GPXYZ,1", NMEA_OTHER}};
	for (auto &c : cases)
		EXPECT_EQ(nmea_sentence_type(with_checksum(c.body).c_str(), true), c.type) << c.body;
}

TEST(Classification, InvalidSentences)
{
	EXPECT_EQ(nmea_sentence_type("$GPGGA,1*00", true), NMEA_INVALID);
	EXPECT_EQ(nmea_sentence_type("$GPGGA,1", true), NMEA_INVALID) << "strict needs a checksum";
	EXPECT_EQ(nmea_sentence_type("$GPGGA,1", false), NMEA_GGA);
	std::string out = captured([] {
		EXPECT_EQ(nmea_sentence_type(with_checksum("$GP,1").c_str(), true), NMEA_INVALID);
	});
	EXPECT_EQ(out, "Reached nmea_parser.cpp: nmea_scan: 276\n");
	EXPECT_EQ(nmea_sentence_type(nullptr, false), NMEA_INVALID);
}

} // namespace
