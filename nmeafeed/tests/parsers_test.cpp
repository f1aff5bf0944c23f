// The sentence parsers: fields, hemisphere signs, flags, satellite slot
// clearing, null arguments and their messages.
#include "nmea_parser.h"
#include "test_sentences.h"

#include <cstring>

namespace {

TEST(ParseGga, StandardSentence)
{
	nmea_gga g{};
	ASSERT_EQ(nmea_parse_gga(&g, kGga), 0);
	EXPECT_EQ(g.utc_time.hours, 12);
	EXPECT_EQ(g.utc_time.minutes, 35);
	EXPECT_EQ(g.utc_time.seconds, 19);
	EXPECT_EQ(g.lat.value, 4807038);
	EXPECT_EQ(g.lat.scale, 1000);
	EXPECT_EQ(g.lon.value, 1131000);
	EXPECT_EQ(g.lon.scale, 1000);
	EXPECT_EQ(g.quality, 1);
	EXPECT_EQ(g.sats_used, 8);
	EXPECT_EQ(g.hdop.value, 9);
	EXPECT_EQ(g.hdop.scale, 10);
	EXPECT_EQ(g.alt.value, 5454);
	EXPECT_EQ(g.alt.scale, 10);
	EXPECT_STREQ(g.alt.text, "545.4");
	EXPECT_EQ(g.alt_unit, 'M');
	EXPECT_EQ(g.geoid_sep.value, 469);
	EXPECT_EQ(g.geoid_sep.scale, 10);
	EXPECT_EQ(g.geoid_unit, 'M');
	EXPECT_EQ(g.dgps_age, 0);
}

TEST(ParseGga, SouthAndWestAreNegative)
{
	std::string s = with_checksum("$GPGGA,123519,4807.038,S,01131.000,W,1,08,0.9,545.4,M,46.9,M,,");
	nmea_gga g{};
	ASSERT_EQ(nmea_parse_gga(&g, s.c_str()), 0);
	EXPECT_EQ(g.lat.value, -4807038);
	EXPECT_EQ(g.lon.value, -1131000);
}

TEST(ParseGga, EmptyTimeStopsTheScanButSucceeds)
{
	std::string s = with_checksum("$GPGGA,,,,,,0,00,99.99,,,,,,");
	nmea_gga g;
	memset(&g, 0x5A, sizeof g);
	int32_t r = 7;
	std::string out = captured([&] { r = nmea_parse_gga(&g, s.c_str()); });
	EXPECT_EQ(r, 0);
	EXPECT_EQ(out, "Reached nmea_parser.cpp: nmea_scan: 320\n"
	               "[nmea_parse_gga] Failed to scan sentence.\r\n");
	EXPECT_EQ(g.quality, 0);
	EXPECT_EQ(g.sats_used, 0x5A) << "fields the scan did not reach are untouched";
	EXPECT_EQ(g.alt.text[0], 0x5A);
}

TEST(ParseGga, TimeButNoPosition)
{
	std::string s = with_checksum("$GPGGA,123519,,,,,0,00,,,M,,M,,");
	nmea_gga g{};
	ASSERT_EQ(nmea_parse_gga(&g, s.c_str()), 0);
	EXPECT_EQ(g.lat.value, 0);
	EXPECT_EQ(g.lat.scale, 1);
	EXPECT_STREQ(g.alt.text, "0");
}

TEST(ParseGga, EightBitFieldsTakeLowBits)
{
	std::string s = with_checksum("$GPGGA,123519,4807.038,N,01131.000,E,258,300,0.9,1,M,1,M,,");
	nmea_gga g{};
	ASSERT_EQ(nmea_parse_gga(&g, s.c_str()), 0);
	EXPECT_EQ(g.quality, 2);
	EXPECT_EQ(g.sats_used, 44);
}

TEST(ParseGga, StopBeforeDirectionKeepsCoordinate)
{
	nmea_gga g{};
	std::string out = captured([&] {
		EXPECT_EQ(nmea_parse_gga(&g, "$GPGGA,123519,4807.038,X,01131.000,W"), 0);
	});
	EXPECT_EQ(g.lat.value, 4807038) << "the unread direction counts as +1";
	EXPECT_EQ(out, "Reached nmea_parser.cpp: nmea_scan: 159\n"
	               "[nmea_parse_gga] Failed to scan sentence.\r\n");
}

TEST(NullArguments, MessagesNameTheParser)
{
	nmea_gga gga{};
	nmea_gsa gsa{};
	nmea_gll gll{};
	nmea_gst gst{};
	nmea_gsv gsv{};
	nmea_pgtop pgtop{};
	struct {
		const char *name;
		int32_t (*call)(void *, const char *);
		void *frame;
	} parsers[] = {
	    {"nmea_parse_gga", [](void *f, const char *s) { return nmea_parse_gga((nmea_gga *)f, s); }, &gga},
	    {"nmea_parse_gsa", [](void *f, const char *s) { return nmea_parse_gsa((nmea_gsa *)f, s); }, &gsa},
	    {"nmea_parse_gll", [](void *f, const char *s) { return nmea_parse_gll((nmea_gll *)f, s); }, &gll},
	    {"nmea_parse_gst", [](void *f, const char *s) { return nmea_parse_gst((nmea_gst *)f, s); }, &gst},
	    {"nmea_parse_gsv", [](void *f, const char *s) { return nmea_parse_gsv((nmea_gsv *)f, s); }, &gsv},
	    {"nmea_parse_pgtop", [](void *f, const char *s) { return nmea_parse_pgtop((nmea_pgtop *)f, s); }, &pgtop},
	};
	for (auto &p : parsers) {
		std::string name = p.name;
		int32_t r = 0;
		std::string out = captured([&] { r = p.call(p.frame, nullptr); });
		EXPECT_EQ(r, 1);
		EXPECT_EQ(out, "[" + name + "] Sentence is null.\n");
		out = captured([&] { r = p.call(nullptr, nullptr); });
		EXPECT_EQ(r, 1);
		EXPECT_EQ(out, "[" + name + "] Sentence is null.\n") << "sentence is checked first";
		out = captured([&] { r = p.call(nullptr, kGga); });
		EXPECT_EQ(r, 1);
		EXPECT_EQ(out, "[" + name + "] Frame is null.\n");
	}
	EXPECT_EQ(nmea_parse_rmc(nullptr, kGga), 1);
	nmea_rmc rmc{};
	EXPECT_EQ(nmea_parse_rmc(&rmc, nullptr), 1);
}

TEST(ParseRmc, FieldsSignsAndStatus)
{
	std::string s = with_checksum(
	    "$GPRMC,123519.25,A,4807.038,N,01131.000,W,022.4,084.4,230394,003.1,W");
	nmea_rmc r{};
	ASSERT_EQ(nmea_parse_rmc(&r, s.c_str()), 0);
	EXPECT_EQ(r.utc_time.seconds, 19);
	EXPECT_EQ(r.utc_time.microseconds, 250000);
	EXPECT_EQ(r.active, 1);
	EXPECT_EQ(r.lat.value, 4807038);
	EXPECT_EQ(r.lon.value, -1131000);
	EXPECT_EQ(r.speed_knots.value, 224);
	EXPECT_EQ(r.track_deg.value, 844);
	EXPECT_EQ(r.utc_date.day, 23);
	EXPECT_EQ(r.utc_date.month, 3);
	EXPECT_EQ(r.utc_date.year, 94);
	EXPECT_EQ(r.mag_var.value, -31);
	EXPECT_EQ(r.mag_var.scale, 10);
}

TEST(ParseRmc, VoidStatusAndEmptyVariation)
{
	std::string s = with_checksum("$GNRMC,123519,V,4807.038,S,01131.000,E,0.0,0.0,230394,003.1,");
	nmea_rmc r{};
	r.active = 1;
	ASSERT_EQ(nmea_parse_rmc(&r, s.c_str()), 0);
	EXPECT_EQ(r.active, 0);
	EXPECT_EQ(r.lat.value, -4807038);
	EXPECT_EQ(r.mag_var.value, 31) << "empty direction counts as +1";
}

TEST(ParseRmc, WrongTypeOrFailedScanIsRefusedSilently)
{
	nmea_rmc r{};
	std::string gga_like = with_checksum("$GPGGB,123519,A,4807.038,N,01131.000,W,1,1,230394,1,W");
	std::string out = captured([&] { EXPECT_EQ(nmea_parse_rmc(&r, gga_like.c_str()), 1); });
	EXPECT_EQ(out, "");
	EXPECT_EQ(r.lat.value, 4807038) << "fields already scanned stay";
	out = captured([&] { EXPECT_EQ(nmea_parse_rmc(&r, "$GPRMC,xx"), 1); });
	EXPECT_EQ(out, "Reached nmea_parser.cpp: nmea_scan: 320\n");
}

TEST(ParseGsa, SatellitesAndDilutions)
{
	std::string s = with_checksum("$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1");
	nmea_gsa g{};
	ASSERT_EQ(nmea_parse_gsa(&g, s.c_str()), 0);
	EXPECT_EQ(g.selection, 'A');
	EXPECT_EQ(g.fix_kind, 3);
	int32_t expect[12] = {4, 5, 0, 9, 12, 0, 0, 24, 0, 0, 0, 0};
	for (int i = 0; i < 12; i++)
		EXPECT_EQ(g.used_prn[i], expect[i]) << i;
	EXPECT_EQ(g.pdop.value, 25);
	EXPECT_EQ(g.hdop.value, 13);
	EXPECT_EQ(g.vdop.value, 21);
	EXPECT_EQ(g.vdop.scale, 10);
}

TEST(ParseGsa, FailedScanPrintsAndFails)
{
	nmea_gsa g{};
	std::string out = captured([&] { EXPECT_EQ(nmea_parse_gsa(&g, "$GP"), 1); });
	EXPECT_EQ(out, "Reached nmea_parser.cpp: nmea_scan: 276\n"
	               "[nmea_parse_gsa] Failed to scan sentence.\r\n");
	out = captured([&] { EXPECT_EQ(nmea_parse_gsa(&g, "$GPGSA,A,3,1,2,3,4,5,6,7,8,9,10,11,12,x,1,1"), 1); });
	EXPECT_EQ(out, "Reached nmea_parser.cpp: nmea_scan: 210\n"
	               "[nmea_parse_gsa] Failed to scan sentence.\r\n");
}

TEST(ParseGll, FieldsAndOptionalMode)
{
	std::string s = with_checksum("$GPGLL,4916.45,N,12311.12,W,225444,A,A");
	nmea_gll g{};
	ASSERT_EQ(nmea_parse_gll(&g, s.c_str()), 0);
	EXPECT_EQ(g.lat.value, 491645);
	EXPECT_EQ(g.lon.value, -1231112);
	EXPECT_EQ(g.utc_time.hours, 22);
	EXPECT_EQ(g.status, 'A');
	EXPECT_EQ(g.mode, 'A');
	std::string old = with_checksum("$GPGLL,4916.45,S,12311.12,E,225444,V");
	ASSERT_EQ(nmea_parse_gll(&g, old.c_str()), 0);
	EXPECT_EQ(g.lat.value, -491645);
	EXPECT_EQ(g.status, 'V');
	EXPECT_EQ(g.mode, 'V') << "the missing mode repeats the last field";
}

TEST(ParseGll, OtherSentenceIsRefused)
{
	nmea_gll g{};
	std::string out = captured([&] { EXPECT_EQ(nmea_parse_gll(&g, kGga), 1); });
	EXPECT_NE(out.find("Reached nmea_parser.cpp: nmea_scan:"), std::string::npos);
	std::string fake = with_checksum("$GPGLX,4916.45,N,12311.12,W,225444,A,A");
	EXPECT_EQ(nmea_parse_gll(&g, fake.c_str()), 1);
}

TEST(ParseGst, AllFields)
{
	std::string s = with_checksum("$GPGST,024603.00,3.2,6.6,4.7,47.3,5.8,5.6,22.0");
	nmea_gst g{};
	ASSERT_EQ(nmea_parse_gst(&g, s.c_str()), 0);
	EXPECT_EQ(g.utc_time.minutes, 46);
	EXPECT_EQ(g.rms.value, 32);
	EXPECT_EQ(g.major_orient.value, 473);
	EXPECT_EQ(g.alt_sd.value, 220);
	std::string out = captured([&] { EXPECT_EQ(nmea_parse_gst(&g, "$GPGST,,1"), 1); });
	EXPECT_EQ(out, "Reached nmea_parser.cpp: nmea_scan: 320\n"
	               "[nmea_parse_gst] Failed to scan nmea sentence.\r\n");
}

TEST(ParseGsv, FullMessage)
{
	std::string s = with_checksum("$GPGSV,3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,13,06,292,00");
	nmea_gsv g{};
	ASSERT_EQ(nmea_parse_gsv(&g, s.c_str()), 0);
	EXPECT_EQ(g.msg_count, 3);
	EXPECT_EQ(g.msg_index, 1);
	EXPECT_EQ(g.sats_in_view, 11);
	EXPECT_EQ(g.sat[0].prn, 3);
	EXPECT_EQ(g.sat[1].azimuth, 270);
	EXPECT_EQ(g.sat[3].prn, 13);
	EXPECT_EQ(g.sat[3].elevation, 6);
	EXPECT_EQ(g.sat[3].azimuth, 292);
}

TEST(ParseGsv, LastMessageClearsUnusedEntries)
{
	std::string s = with_checksum("$GPGSV,3,3,10,05,40,083,46,09,12,200,38");
	nmea_gsv g{};
	ASSERT_EQ(nmea_parse_gsv(&g, s.c_str()), 0);
	EXPECT_EQ(g.sat[0].prn, 5);
	EXPECT_EQ(g.sat[1].snr, 38);
	for (int k = 2; k < 4; k++) {
		EXPECT_EQ(g.sat[k].prn, 0);
		EXPECT_EQ(g.sat[k].elevation, 0);
		EXPECT_EQ(g.sat[k].azimuth, 0);
		EXPECT_EQ(g.sat[k].snr, 0);
	}
}

TEST(ParseGsv, NoSatellitesAndNegativeCount)
{
	nmea_gsv g;
	memset(&g, 0x33, sizeof g);
	ASSERT_EQ(nmea_parse_gsv(&g, with_checksum("$GPGSV,1,1,00").c_str()), 0);
	for (int k = 0; k < 4; k++) {
		EXPECT_EQ(g.sat[k].prn, 0);
		EXPECT_EQ(g.sat[k].snr, 0);
	}
	memset(&g, 0x33, sizeof g);
	ASSERT_EQ(nmea_parse_gsv(&g, with_checksum("$GPGSV,9,9,02,05,40,083,46").c_str()), 0);
	for (int k = 0; k < 4; k++)
		EXPECT_EQ(g.sat[k].prn, 0);
	// Extreme counts must not overflow the slot arithmetic.
	ASSERT_EQ(nmea_parse_gsv(&g, "$GPGSV,1,-2147483648,2147483647,05,40,083,46*00"), 0);
	EXPECT_EQ(g.sat[0].prn, 5);
	ASSERT_EQ(nmea_parse_gsv(&g, "$GPGSV,1,2147483647,-2147483648,05,40,083,46*00"), 0);
	EXPECT_EQ(g.sat[0].prn, 0);
}

TEST(ParseGsv, EmptySnrOfTheLastSatellite)
{
	std::string s = with_checksum("$GPGSV,1,1,03,05,60,100,40,12,45,200,45,25,10,300,");
	nmea_gsv g{};
	ASSERT_EQ(nmea_parse_gsv(&g, s.c_str()), 0);
	EXPECT_EQ(g.sat[2].prn, 25);
	EXPECT_EQ(g.sat[2].snr, 0);
	EXPECT_EQ(g.sat[3].prn, 0);
}

TEST(ParsePgtop, CodeAndValues)
{
	std::string s = with_checksum("$PGTOP,11,2.5,-3");
	nmea_pgtop p{};
	ASSERT_EQ(nmea_parse_pgtop(&p, s.c_str()), 0);
	EXPECT_EQ(p.code, 11);
	EXPECT_EQ(p.first_value.value, 25);
	EXPECT_EQ(p.second_value.value, -3);
	std::string out = captured([&] { EXPECT_EQ(nmea_parse_pgtop(&p, "$PGTOP,11,x"), 1); });
	EXPECT_EQ(out, "Reached nmea_parser.cpp: nmea_scan: 210\n"
	               "[nmea_parse_pgtop] Failed to scan nmea sentence.\r\n");
}

} // namespace
