// Line dispatch: which lines are kept, GSV collection limits, slot cuts.
#include <cstring>

#include "rundata_fixture.h"
#include "test_sentences.h"

namespace {

using Dispatch = RundataTest;

TEST_F(Dispatch, GgaIsKeptAndEmptiesTheGsvCollection)
{
	feed({"$GPGSV,1,1,01,05,40,083,46", "$GLGSV,1,1,01,65,40,083,46"});
	EXPECT_EQ(constellations[0].gsv_count, 1);
	EXPECT_EQ(constellations[1].gsv_count, 1);
	feed({kGga});
	EXPECT_STREQ(gga_line, (std::string(kGga) + "\n").c_str());
	for (const constellation_state &cs : constellations) {
		EXPECT_EQ(cs.gsv_count, 0);
		EXPECT_EQ(cs.gsv_lines[0][0], '\0');
	}
}

TEST_F(Dispatch, EveryGgaTalkerIsTaken)
{
	for (const char *t : {"$GPGGA", "$GNGGA", "$GLGGA", "$GAGGA", "$BDGGA"}) {
		nmeafeed_reset_state();
		feed({std::string(t) + ",1"});
		EXPECT_EQ(std::string(gga_line), std::string(t) + ",1\n") << t;
	}
	nmeafeed_reset_state();
	feed({"$GQGGA,1", "$gpgga,1", "GPGGA,1"});
	EXPECT_EQ(gga_line[0], '\0');
}

TEST_F(Dispatch, GsvGoesToItsSystem)
{
	feed({"$GPGSV,a", "$GLGSV,b", "$GAGSV,c", "$BDGSV,d", "$GNGSV,e", "$GBGSV,f"});
	EXPECT_STREQ(constellations[0].gsv_lines[0], "$GPGSV,a\n");
	EXPECT_STREQ(constellations[1].gsv_lines[0], "$GLGSV,b\n");
	EXPECT_STREQ(constellations[2].gsv_lines[0], "$GAGSV,c\n");
	EXPECT_STREQ(constellations[3].gsv_lines[0], "$BDGSV,d\n");
	for (const constellation_state &cs : constellations)
		EXPECT_EQ(cs.gsv_count, 1) << "GN and other talkers are ignored";
}

TEST_F(Dispatch, FifthGsvOfASystemIsDropped)
{
	feed({"$GPGSV,1", "$GPGSV,2", "$GPGSV,3", "$GPGSV,4", "$GPGSV,5"});
	EXPECT_EQ(constellations[0].gsv_count, 4);
	EXPECT_STREQ(constellations[0].gsv_lines[3], "$GPGSV,4\n");
	feed({kGga, "$GPGSV,6"});
	EXPECT_EQ(constellations[0].gsv_count, 1);
	EXPECT_STREQ(constellations[0].gsv_lines[0], "$GPGSV,6\n");
}

TEST_F(Dispatch, LongLinesAreCutToTheSlot)
{
	std::string gga = "$GPGGA," + std::string(250, '9');
	std::string gsv = "$GAGSV," + std::string(250, '8');
	feed({gsv});
	feed({gga});
	feed({gsv});
	EXPECT_EQ(strlen(gga_line), kSlotSize - 1);
	EXPECT_EQ(std::string(gga_line), gga.substr(0, kSlotSize - 1));
	EXPECT_EQ(strlen(constellations[2].gsv_lines[0]), kSlotSize - 1);
	// The neighbouring slot is untouched.
	EXPECT_EQ(constellations[2].gsv_lines[1][0], '\0');
}

TEST_F(Dispatch, ZdaRunsTheSecondsWork)
{
	std::string out = captured([] { feed({kGga, "$GPZDA,123519.000,07,12,2026,00,00*4C"}); });
	EXPECT_EQ(out, "ZDA: 12/7/2026 12:35:19\n");
	EXPECT_EQ(read("numsats.dat"), "8");
	for (const char *t : {"$GNZDA", "$GLZDA", "$GAZDA", "$BDZDA"}) {
		out = captured([&] { feed({std::string(t) + ",000001.000,01,01,2027,00,00"}); });
		EXPECT_EQ(out, "ZDA: 1/1/2027 0:0:1\n") << t;
	}
	out = captured([] { feed({"$GPZDB,000001.000,01,01,2027,00,00"}); });
	EXPECT_EQ(out, "");
}

} // namespace
