// The work of one second: status files, satellite aggregation, coordinates
// and the ZDA time.
#include <cstring>
#include <vector>

#include "rundata_fixture.h"
#include "test_sentences.h"

namespace {

using Status = RundataTest;

const char *kZda = "$GPZDA,123519.000,07,12,2026,00,00*59";

TEST_F(Status, GgaGsvAndZdaWriteTheFilesOfTheSystemsSeen)
{
	captured([&] {
		feed({kGga, with_checksum("$GPGSV,2,1,05,05,40,083,46,09,12,200,38,12,55,140,47,15,31,048,41"),
		      with_checksum("$GPGSV,2,2,05,21,74,018,44"),
		      with_checksum("$GLGSV,1,1,02,65,33,101,39,66,61,030,43"), kZda});
	});
	EXPECT_EQ(read("numsats.dat"), "8");
	EXPECT_EQ(read("coords.dat"), "48.117,11.516");
	EXPECT_EQ(read("altitude.dat"), "545.4");
	EXPECT_EQ(read("gsatlist.dat"), sat_text({12, 5, 21, 15, 9}));
	EXPECT_EQ(read("gsnrlist.dat"), sat_text({47, 46, 44, 41, 38}));
	EXPECT_EQ(read("lsatlist.dat"), sat_text({66, 65}));
	EXPECT_EQ(read("lsnrlist.dat"), sat_text({43, 39}));
	EXPECT_EQ(read("gsatlist.dat").size(), 48u);
	EXPECT_FALSE(exists("asatlist.dat"));
	EXPECT_FALSE(exists("bsatlist.dat"));
	EXPECT_FALSE(exists("asnrlist.dat"));
}

TEST_F(Status, ZdaWithoutGsvWritesOnlyTheGgaFiles)
{
	captured([&] { feed({kZda, kZda}); });
	EXPECT_EQ(read("numsats.dat"), "0");
	EXPECT_EQ(read("coords.dat"), "0.0,0.0");
	EXPECT_EQ(read("altitude.dat"), "") << "no GGA yet";
	for (const char *f : {"gsatlist.dat", "lsatlist.dat", "asatlist.dat", "bsatlist.dat"})
		EXPECT_FALSE(exists(f)) << f;
}

TEST_F(Status, GgaWithoutTimeGivesZeroes)
{
	std::string out = captured([&] { feed({with_checksum("$GPGGA,,,,,,0,00,99.99,,,,,,"), kZda}); });
	EXPECT_EQ(out, "Reached nmea_parser.cpp: nmea_scan: 320\n"
	               "[nmea_parse_gga] Failed to scan sentence.\r\n"
	               "ZDA: 12/7/2026 12:35:19\n");
	EXPECT_EQ(read("numsats.dat"), "0");
	EXPECT_EQ(read("coords.dat"), "0.0,0.0");
	EXPECT_EQ(read("altitude.dat"), "");
}

TEST_F(Status, GgaWithTimeButNoPosition)
{
	std::string out = captured([&] { feed({with_checksum("$GPGGA,123519,,,,,0,00,,,M,,M,,"), kZda}); });
	EXPECT_EQ(out, "ZDA: 12/7/2026 12:35:19\n");
	EXPECT_EQ(read("coords.dat"), "0.0,0.0");
	EXPECT_EQ(read("altitude.dat"), "0");
}

TEST_F(Status, EveryZdaReparsesTheLatestGga)
{
	captured([&] {
		feed({kGga, kZda});
		feed({with_checksum("$GPGGA,123520,4807.038,N,01131.000,E,1,11,0.9,600.1,M,46.9,M,,"), kZda});
	});
	EXPECT_EQ(read("numsats.dat"), "11");
	EXPECT_EQ(read("altitude.dat"), "600.1");
}

TEST_F(Status, UnwritableFilesAreSkipped)
{
	ASSERT_EQ(system(("rm -rf " + root_ + "/var/volatile/rundata && mkdir -p " + root_ +
	                  "/var/volatile/rundata/numsats.dat")
	                     .c_str()),
	          0);
	std::string out = captured([&] { feed({kGga, kZda}); });
	EXPECT_EQ(out, "ZDA: 12/7/2026 12:35:19\n");
	EXPECT_EQ(read("coords.dat"), "48.117,11.516") << "the others are still written";
}

TEST_F(Status, ZdaWithoutNumbersIsNotPrinted)
{
	std::string out = captured([&] { feed({kGga, "$GPZDA,,,,,,*48"}); });
	EXPECT_EQ(out, "");
	EXPECT_EQ(read("numsats.dat"), "8") << "status files are written as for any ZDA";
	out = captured([&] { feed({"$GPZDA,123519.000,07,12"}); });
	EXPECT_EQ(out, "") << "a cut line has no year";
	out = captured([&] { feed({"$GPZDA"}); });
	EXPECT_EQ(out, "");
}

// --- aggregation ------------------------------------------------------------

TEST_F(Status, SnrOrderAndEmptySnr)
{
	captured([&] {
		feed({kGga, with_checksum("$GPGSV,1,1,03,05,60,100,40,12,45,200,45,25,10,300,"), kZda});
	});
	EXPECT_EQ(read("gsatlist.dat"), sat_text({12, 5, 25}));
	EXPECT_EQ(read("gsnrlist.dat"), sat_text({45, 40}));
}

// Aggregates GSV lines (as dispatch stores them) into the satellite list and
// returns the PRNs of all twelve places.
std::vector<int> aggregated_prns(std::initializer_list<const char *> lines)
{
	constellation_state &cs = constellations[0];
	cs.gsv_count = 0;
	for (const char *l : lines)
		strcpy(cs.gsv_lines[cs.gsv_count++], l);
	aggregate_constellation(&cs);
	std::vector<int> prns;
	for (const auto &sat : cs.sat_list)
		prns.push_back(sat.prn);
	return prns;
}

TEST_F(Status, AggregationOrderAndLimits)
{
	// SNR 30,40,30,40,40,30: the 40s, then the 30s, each in order of arrival.
	EXPECT_EQ(aggregated_prns({"$GPGSV,2,1,06,01,1,1,30,02,1,1,40,03,1,1,30,04,1,1,40*78\n",
	                           "$GPGSV,2,2,06,05,1,1,40,06,1,1,30*7B\n"}),
	          (std::vector<int>{2, 4, 5, 1, 3, 6, 0, 0, 0, 0, 0, 0}));
	EXPECT_EQ(constellations[0].sat_list[3].snr, 30);

	EXPECT_EQ(aggregated_prns({"$GPGSV,3,1,10,01,1,1,11,02,1,1,12,03,1,1,13,04,1,1,14*7A\n",
	                           "$GPGSV,3,2,10,05,1,1,15,06,1,1,16,07,1,1,17,08,1,1,18*79\n",
	                           "$GPGSV,3,3,10,09,1,1,19,10,1,1,20*7A\n"}),
	          (std::vector<int>{10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0}));
	for (int i = 0; i < 12; i++)
		EXPECT_EQ(constellations[0].sat_list[i].snr, i < 10 ? 20 - i : 0) << i;
	EXPECT_EQ(constellations[0].gsv_records[2].msg_index, 3);

	// Fourteen satellites: the strongest twelve are kept.
	EXPECT_EQ(aggregated_prns({"$GPGSV,4,1,14,01,1,1,31,02,1,1,22,03,1,1,33,04,1,1,24*79\n",
	                           "$GPGSV,4,2,14,05,1,1,35,06,1,1,26,07,1,1,37,08,1,1,28*7A\n",
	                           "$GPGSV,4,3,14,09,1,1,39,10,1,1,10,11,1,1,41,12,1,1,42*78\n",
	                           "$GPGSV,4,4,14,13,1,1,43,14,1,1,05*79\n"}),
	          (std::vector<int>{13, 12, 11, 9, 7, 5, 3, 1, 8, 6, 4, 2}));

	// Message counts beyond the buffers are harmless.
	EXPECT_EQ(aggregated_prns({"$GPGSV,1,1,99,01,1,1,31,02,1,1,22,03,1,1,33,04,1,1,24*79\n"}),
	          (std::vector<int>{3, 1, 4, 2, 0, 0, 0, 0, 0, 0, 0, 0}));
	EXPECT_EQ(aggregated_prns({"$GPGSV,1,1,-5,01,1,1,31*62\n"})[0], 0);
}

TEST_F(Status, WideValuesAreCutAtTheBuffer)
{
	constellation_state cs{};
	for (int i = 0; i < 12; i++)
		cs.sat_list[i].snr = -2000000000;
	write_sat_files(&cs, 'g');
	EXPECT_EQ(read("gsnrlist.dat").size(), 99u);
}

// --- coordinates ------------------------------------------------------------

std::string coords(int32_t lat, int32_t lat_scale, int32_t lon, int32_t lon_scale)
{
	nmea_gga g{};
	g.lat.value = lat;
	g.lat.scale = lat_scale;
	g.lon.value = lon;
	g.lon.scale = lon_scale;
	char out[128];
	format_coords(&g, out, sizeof out);
	return out;
}

TEST(FormatCoords, HemispheresAndScales)
{
	EXPECT_EQ(coords(4807038, 1000, 1131000, 1000), "48.117,11.516");
	EXPECT_EQ(coords(-4807038, 1000, -1131000, 1000), "-48.117,-11.516");
	EXPECT_EQ(coords(4800500, 1000, 0, 0), "48.008,0.0");
	EXPECT_EQ(coords(-30000, 1000, 30000, 1000), "-0.500,0.500");
	EXPECT_EQ(coords(48070382, 10000, 11310010, 10000), "48.1173,11.5166");
	EXPECT_EQ(coords(4807, 1, -11311, 1), "48.0,-113.0");
	EXPECT_EQ(coords(480703, 100, 11310, 10), "48.11,11.5");
	EXPECT_EQ(coords(-4807000, 100000, 4807000, 100000), "-0.80116,0.80116");
}

TEST(FormatCoords, ExtremeValuesDoNotOverflow)
{
	EXPECT_EQ(coords(2147483647, 1, -2147483647 - 1, 1), "21474836.0,-21474836.0");
	EXPECT_EQ(coords(2147483647, 1000000000, -2147483647 - 1, 1000000000),
	          "0.035791394,-0.035791394");
}

// --- ZDA time ---------------------------------------------------------------

TEST(ZdaStamp, FixedColumnsAndRounding)
{
	zda_stamp s{};
	ASSERT_TRUE(read_zda_stamp("$GPZDA,235959.600,31,12,2024,00,00*hh\n", &s));
	EXPECT_EQ(s.year, 2024);
	EXPECT_EQ(s.month, 12);
	EXPECT_EQ(s.day, 31);
	EXPECT_EQ(s.hour, 23);
	EXPECT_EQ(s.minute, 59);
	EXPECT_EQ(s.second, 60);
	EXPECT_EQ(s.nanoseconds, 0);
	EXPECT_EQ(s.valid, 1);
	ASSERT_TRUE(read_zda_stamp("$GPZDA,101010.499,01,02,2025,00,00\n", &s));
	EXPECT_EQ(s.second, 10);
	ASSERT_TRUE(read_zda_stamp("$GPZDA,101010.500,01,02,2025,00,00\n", &s));
	EXPECT_EQ(s.second, 11);
}

TEST(ZdaStamp, MissingNumbers)
{
	zda_stamp s{};
	EXPECT_FALSE(read_zda_stamp("$GPZDA,,,,,,*48\n", &s));
	EXPECT_FALSE(read_zda_stamp("$GPZDA,235959.600,,,,,*51\n", &s));
	EXPECT_FALSE(read_zda_stamp("$GPZDA,235959.600,31,12,\n", &s));
	EXPECT_FALSE(read_zda_stamp("$GPZDA", &s));
	EXPECT_FALSE(read_zda_stamp("", &s));
	// Other layouts, checksums as sent: no date is read from the wrong
	// columns (two fraction digits gave 2002-09-16 as year 2, day 6; a ZDA
	// ending after the month took its year from the checksum).
	EXPECT_FALSE(read_zda_stamp("$GPZDA,082710.00,16,09,2002,00,00*64\r\n", &s));
	EXPECT_FALSE(read_zda_stamp("$GPZDA,123519.000,07,12*73\n", &s));
	EXPECT_FALSE(read_zda_stamp("$GPZDA,123519.000,07,12,20261,00,00*4A\n", &s));
	ASSERT_TRUE(read_zda_stamp("$GPZDA,123519.000,07,12,2026*4A\n", &s));
	EXPECT_EQ(s.year, 2026);
}

// Every column exactly its digits, the year ended by "," or "*", as the
// module reads the date: a blank, a sign or a field of another length is
// no number (" 6" read as day 6, "-1" as a month before January).
TEST(ZdaStamp, DateFieldsExactlyTheirDigits)
{
	const std::string good = "$GPZDA,123519.000,07,12,2026,00,00";
	zda_stamp s{};
	ASSERT_TRUE(read_zda_stamp(with_checksum(good).c_str(), &s));
	EXPECT_EQ(s.day, 7);
	for (const char *line : {
	         "$GPZDA,123519.000, 7,12,2026,00,00", "$GPZDA,123519.000,+7,12,2026,00,00",
	         "$GPZDA,123519.000,07,-1,2026,00,00", "$GPZDA,123519.000,07,12, 026,00,00",
	         "$GPZDA,123519.000,07,12,+026,00,00", "$GPZDA,123519.000,07,12,2026\r\n",
	         "$GPZDA,123519.000,07,12,202x,00,00", "$GPZDA, 23519.000,07,12,2026,00,00",
	         "$GPZDA,12-519.000,07,12,2026,00,00", "$GPZDA,123519. 00,07,12,2026,00,00",
	         "$GPZDA,123456.00,06,12,26*4E", "$GPZDA,123456.000,06,12,205*hh",
	         "$GPZDA,123456.000,06,120,2026,00,00", "$GPZDA,123456.000,06,12,20250,00,00"})
		EXPECT_FALSE(read_zda_stamp(with_checksum(line).c_str(), &s)) << line;
}

} // namespace
