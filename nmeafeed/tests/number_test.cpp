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

void expect_fixed(const std::string &field, int32_t value, int32_t scale)
{
	fixed_result r = scan_fixed(field);
	EXPECT_EQ(r.r, 0) << field;
	EXPECT_EQ(r.f.value, value) << field;
	EXPECT_EQ(r.f.scale, scale) << field;
	EXPECT_EQ(r.out, "") << field;
}

void expect_fixed_failure(const std::string &field, int number)
{
	fixed_result r = scan_fixed(field);
	EXPECT_EQ(r.r, -1) << field;
	EXPECT_EQ(r.out, "Reached nmea_parser.cpp: nmea_scan: " + std::to_string(number) + "\n")
	    << field;
}

TEST(FixedNumber, PlainValues)
{
	expect_fixed("4807.038", 4807038, 1000);
	expect_fixed("12.", 12, 1);
	expect_fixed("-0.5", -5, 10);
	expect_fixed("+12", 12, 1);
	expect_fixed("545.4", 5454, 10);
	expect_fixed("007", 7, 1);
	expect_fixed("  3.25", 325, 100);
	expect_fixed(".5", 5, 10);
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
	expect_fixed_failure("1.2.3", 210);
	expect_fixed_failure("1 2", 206);
	expect_fixed_failure("-", 218);
	expect_fixed_failure(".", 218);
	expect_fixed_failure("1-", 210);
	expect_fixed_failure("--1", 210);
	expect_fixed_failure("1a", 210);
	expect_fixed_failure("- 1", 206);
	expect_fixed_failure("2147483648", 193);
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
	expect_fixed("2147483647", 2147483647, 1);
	expect_fixed("2147483.6489", 214748364, 100);
	expect_fixed("-2147483647", -2147483647, 1);
	// The fraction is cut at nine digits: the scale stays in 32 bits.
	expect_fixed("0.1234567891", 123456789, 1000000000);
	expect_fixed("0.00000000001", 0, 1000000000);
	expect_fixed("1.123456789", 1123456789, 1000000000);
	// Characters after the cut are ignored, whatever they are.
	expect_fixed("2147483.6489x", 214748364, 100);
}

int32_t scan_int(const std::string &field)
{
	char type[NMEA_TYPE_SIZE];
	int32_t v = 12345;
	std::string s = "$GPXXX," + field;
	EXPECT_EQ(nmea_scan(s.c_str(), "ti", type, &v), 0) << field;
	return v;
}

TEST(IntegerField, DecimalReading)
{
	EXPECT_EQ(scan_int("08"), 8);
	EXPECT_EQ(scan_int(""), 0);
	EXPECT_EQ(scan_int("  -17"), -17);
	EXPECT_EQ(scan_int("+5"), 5);
	EXPECT_EQ(scan_int("12.7"), 12);
	EXPECT_EQ(scan_int("abc"), 0);
	EXPECT_EQ(scan_int("-"), 0);
}

TEST(IntegerField, OutOfRangeSaturates)
{
	EXPECT_EQ(scan_int("2147483647"), INT32_MAX);
	EXPECT_EQ(scan_int("2147483648"), INT32_MAX);
	EXPECT_EQ(scan_int("99999999999999999999999"), INT32_MAX);
	EXPECT_EQ(scan_int("-2147483648"), INT32_MIN);
	EXPECT_EQ(scan_int("-99999999999999999999999"), INT32_MIN);
}

} // namespace
