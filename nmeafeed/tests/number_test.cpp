// Numbers: "f" fixed-point values with their scale and text, "i" integers.
#include "nmea_parser.h"
#include "test_sentences.h"

#include <string>

namespace {

struct fixed_result {
	int32_t r;
	nmea_fixed f;
	std::string out;
};

fixed_result scan_fixed(const std::string &field)
{
	fixed_result res{};
	res.f.value = 77;
	res.f.scale = 77;
	char type[NMEA_TYPE_SIZE];
	std::string s = "$GPXXX," + field + ",9";
	res.out = captured([&] { res.r = nmea_scan(s.c_str(), "tf", type, &res.f); });
	return res;
}

struct fixed_case {
	const char *field;
	int32_t value;
	int32_t scale;
};

void expect_fixed(std::initializer_list<fixed_case> cases)
{
	for (const fixed_case &c : cases) {
		fixed_result r = scan_fixed(c.field);
		EXPECT_EQ(r.r, 0) << c.field;
		EXPECT_EQ(r.f.value, c.value) << c.field;
		EXPECT_EQ(r.f.scale, c.scale) << c.field;
		EXPECT_EQ(r.out, "") << c.field;
	}
}

TEST(FixedNumber, PlainValues)
{
	expect_fixed({{"4807.038", 4807038, 1000}, {"12.", 12, 1}, {"-0.5", -5, 10}, {"+12", 12, 1},
	              {"545.4", 5454, 10}, {"007", 7, 1}, {"  3.25", 325, 100}, {".5", 5, 10}});
}

TEST(FixedNumber, EmptyAndBlankFields)
{
	fixed_result r = scan_fixed("");
	EXPECT_EQ(r.r, 0);
	EXPECT_EQ(r.f.value, 0);
	EXPECT_EQ(r.f.scale, 1);
	EXPECT_STREQ(r.f.text, "0");
	r = scan_fixed("   ");
	EXPECT_EQ(r.r, 0);
	EXPECT_EQ(r.f.value, 0);
	EXPECT_EQ(r.f.scale, 0) << "no number at all";
}

TEST(FixedNumber, MalformedFieldsFailWithTheirNumber)
{
	struct {
		const char *field;
		int line;
	} cases[] = {{"1.2.3", 210}, {"1 2", 206}, {"-", 218},  {".", 218},         {"1-", 210},
	             {"--1", 210},   {"1a", 210},  {"- 1", 206}, {"2147483648", 193}};
	for (const auto &c : cases) {
		fixed_result r = scan_fixed(c.field);
		EXPECT_EQ(r.r, -1) << c.field;
		EXPECT_EQ(r.out, "Reached nmea_parser.cpp: nmea_scan: " + std::to_string(c.line) + "\n")
		    << c.field;
	}
}

TEST(FixedNumber, TextIsKeptEvenWhenTheNumberFails)
{
	fixed_result r = scan_fixed("12x4");
	EXPECT_EQ(r.r, -1);
	EXPECT_STREQ(r.f.text, "12x4");
	r = scan_fixed(std::string(60, '1') + ".5");
	EXPECT_EQ(r.r, -1);
	EXPECT_EQ(std::string(r.f.text), std::string(31, '1')) << "text keeps 31 characters";
}

TEST(FixedNumber, OverflowLimits)
{
	// The fraction is cut at nine digits (the scale stays in 32 bits);
	// characters after the cut are ignored, whatever they are.
	expect_fixed({{"2147483647", 2147483647, 1}, {"2147483.6489", 214748364, 100},
	              {"-2147483647", -2147483647, 1}, {"0.1234567891", 123456789, 1000000000},
	              {"0.00000000001", 0, 1000000000}, {"1.123456789", 1123456789, 1000000000},
	              {"2147483.6489x", 214748364, 100}});
}

TEST(IntegerField, DecimalReadingAndSaturation)
{
	struct {
		const char *field;
		int32_t value;
	} cases[] = {{"08", 8}, {"", 0}, {"  -17", -17}, {"+5", 5}, {"12.7", 12}, {"abc", 0}, {"-", 0},
	             {"2147483647", INT32_MAX}, {"2147483648", INT32_MAX},
	             {"99999999999999999999999", INT32_MAX}, {"-2147483648", INT32_MIN},
	             {"-99999999999999999999999", INT32_MIN}};
	for (const auto &c : cases) {
		char type[NMEA_TYPE_SIZE];
		int32_t v = 12345;
		std::string s = std::string("$GPXXX,") + c.field;
		EXPECT_EQ(nmea_scan(s.c_str(), "ti", type, &v), 0) << c.field;
		EXPECT_EQ(v, c.value) << c.field;
	}
}

} // namespace
