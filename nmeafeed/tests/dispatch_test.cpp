// Line dispatch: which lines are kept, GSV collection limits, slot cuts.
#include <cstring>
#include <string>
#include <vector>

#include "line_assembly.h"
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
	for (const char *t : {"$GPGGA", "$GNGGA", "$GLGGA", "$GAGGA", "$BDGGA", "$GBGGA"}) {
		nmeafeed_reset_state();
		feed({std::string(t) + ",1"});
		EXPECT_EQ(std::string(gga_line), with_checksum(std::string(t) + ",1") + "\n") << t;
	}
	nmeafeed_reset_state();
	feed({"$GQGGA,1", "$gpgga,1", "GPGGA,1"});
	EXPECT_EQ(gga_line[0], '\0');
}

// BeiDou as "BD" and as "GB" (NMEA 4.10), alike.
TEST_F(Dispatch, GsvGoesToItsSystem)
{
	feed({"$GPGSV,a", "$GLGSV,b", "$GAGSV,c", "$BDGSV,d", "$GNGSV,e", "$GBGSV,f", "$GQGSV,g"});
	EXPECT_EQ(constellations[0].gsv_lines[0], with_checksum("$GPGSV,a") + "\n");
	EXPECT_EQ(constellations[1].gsv_lines[0], with_checksum("$GLGSV,b") + "\n");
	EXPECT_EQ(constellations[2].gsv_lines[0], with_checksum("$GAGSV,c") + "\n");
	EXPECT_EQ(constellations[3].gsv_lines[0], with_checksum("$BDGSV,d") + "\n");
	EXPECT_EQ(constellations[3].gsv_lines[1], with_checksum("$GBGSV,f") + "\n");
	EXPECT_EQ(constellations[3].gsv_count, 2);
	for (int i = 0; i < 3; i++)
		EXPECT_EQ(constellations[i].gsv_count, 1) << "GN and other talkers are ignored";
}

TEST_F(Dispatch, FifthGsvOfASystemIsDropped)
{
	feed({"$GPGSV,1", "$GPGSV,2", "$GPGSV,3", "$GPGSV,4", "$GPGSV,5"});
	EXPECT_EQ(constellations[0].gsv_count, 4);
	EXPECT_EQ(constellations[0].gsv_lines[3], with_checksum("$GPGSV,4") + "\n");
	feed({kGga, "$GPGSV,6"});
	EXPECT_EQ(constellations[0].gsv_count, 1);
	EXPECT_EQ(constellations[0].gsv_lines[0], with_checksum("$GPGSV,6") + "\n");
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
	std::string out = captured([] { feed({kGga, "$GPZDA,123519.000,07,12,2026,00,00*59"}); });
	EXPECT_EQ(out, "ZDA: 12/7/2026 12:35:19\n");
	EXPECT_EQ(read("numsats.dat"), "8");
	for (const char *t : {"$GNZDA", "$GLZDA", "$GAZDA", "$BDZDA", "$GBZDA"}) {
		out = captured([&] { feed({std::string(t) + ",000001.000,01,01,2027,00,00"}); });
		EXPECT_EQ(out, "ZDA: 1/1/2027 0:0:1\n") << t;
	}
	out = captured([] { feed({"$GPZDB,000001.000,01,01,2027,00,00"}); });
	EXPECT_EQ(out, "");
}

// The NTP daemon gets a sample only for a ZDA one second after the
// previous one: the first after start or a gap, and a time that jumps (two
// flips of the same bit keep the 8-bit XOR matching), wait for the next
// ZDA to confirm them. The status files are still written every second.
TEST_F(Dispatch, NtpSampleOnlyForAZdaOneSecondAfterThePrevious)
{
	shm_time seg;
	shm_clear(&seg);
	ntp_shm = &seg;
	// the ZDA of 12:35:21 with ".000" read as ".550": rounds to 12:35:22
	std::string disguised = with_checksum("$GPZDA,123521.000,07,12,2026,00,00");
	disguised.replace(disguised.find(".000"), 4, ".550");
	struct {
		std::string line;
		int64_t sample; // clockTimeStampSec after the line, 0: none yet
	} steps[] = {
	    {"$GPZDA,123519.000,07,12,2026,00,00", 0},
	    {"$GPZDA,123520.000,07,12,2026,00,00", 1796646920},
	    {disguised, 1796646920},
	    {"$GPZDA,123522.000,07,12,2026,00,00", 1796646920},
	    {"$GPZDA,123523.000,07,12,2026,00,00", 1796646923},
	    {"$GPZDA,123530.000,07,12,2026,00,00", 1796646923}, // after a gap
	    {"$GPZDA,123531.000,07,12,2026,00,00", 1796646931},
	};
	int32_t count = 0;
	captured([&] {
		for (const auto &st : steps) {
			remove_all();
			int64_t before = seg.clockTimeStampSec;
			feed({st.line});
			EXPECT_TRUE(exists("numsats.dat")) << st.line;
			EXPECT_EQ(seg.clockTimeStampSec, st.sample) << st.line;
			count += st.sample != before ? 2 : 0;
			EXPECT_EQ(seg.count, count) << st.line;
		}
	});
}

// Whether the daemon took a line, handed over byte by byte as the device
// gives it (line assembly, then dispatch): a GGA kept, a GSV collected, a
// ZDA turned into status files or an NTP sample.
class ChecksumGate : public RundataTest {
protected:
	bool taken(const std::string &line)
	{
		nmeafeed_reset_state();
		shm_clear(&seg);
		ntp_shm = &seg;
		line_assembly a;
		line_assembly_reset(&a);
		for (char byte : line + "\n") {
			size_t length = 0;
			const char *l = line_assembly_push(&a, byte, &length);
			if (l != nullptr) {
				handle_line(l, length);
				line_assembly_reset(&a);
			}
		}
		bool files = exists("numsats.dat");
		if (files)
			remove_all();
		return gga_line[0] != '\0' || constellations[0].gsv_count > 0 || seg.count != 0 ||
		       files;
	}
	shm_time seg;
	const std::string gga = kGga;
	const std::string gsv = with_checksum("$GPGSV,1,1,02,05,40,083,46,09,12,200,38");
	const std::string zda = with_checksum("$GPZDA,123519.000,07,12,2026,00,00");
};

TEST_F(ChecksumGate, FieldMustBeThereAndMatch)
{
	auto lower = [](std::string s) {
		for (size_t i = s.size() - 2; i < s.size(); i++)
			s[i] = static_cast<char>(tolower(s[i]));
		return s;
	};
	const std::string zda_lower = with_checksum("$GPZDA,000028.000,01,01,2027,00,00");
	ASSERT_NE(lower(zda_lower), zda_lower) << "needs a letter among the digits";
	// The year's last digit lost to a break on the line (checksum as sent,
	// over the 6), and the tail ",00,00*hh" lost: the time before them reads
	// as a date of its own.
	std::string year_nul = zda;
	year_nul[year_nul.find("2026") + 3] = '\0';
	const std::string no_tail = zda.substr(0, zda.find(",00,00*"));
	struct {
		std::string line;
		bool taken;
	} cases[] = {
	    {gga, true},
	    {gsv, true},
	    {zda, true},
	    {lower(zda_lower), true},
	    {zda + "\r", true},
	    {year_nul, false},
	    {no_tail, false},
	    {zda.substr(0, zda.size() - 3), false},      // no checksum field
	    {with_checksum("$GPGGA,1") + std::string(1, '\0'), false},
	    {zda.substr(0, zda.size() - 1), false},      // one digit
	    {zda.substr(0, zda.size() - 2) + "G0", false}, // not hexadecimal
	    {zda.substr(0, zda.size() - 3) + "*", false},
	    {zda + " ", false},                          // more after the digits
	    {zda + "\r\r", false},
	    {"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*48", false},
	};
	std::vector<bool> got;
	std::string out = captured([&] {
		for (const auto &c : cases)
			got.push_back(taken(c.line));
	});
	for (size_t i = 0; i < got.size(); i++)
		EXPECT_EQ(got[i], cases[i].taken) << i << ": " << cases[i].line;
	EXPECT_EQ(out.find("ZDA: 12/7/2026"), 0u) << out;
}

// Bytes outside printable ASCII never stand in a sentence: they are what a
// framing error (0xFF) or a stretch at the wrong speed leaves. A line
// holding one is damaged even where the XOR comes out right: two equal
// bytes cancel, and a damage the XOR cannot see is one in 256.
TEST_F(ChecksumGate, BytesOffTheLineAreDamageWhateverTheSum)
{
	// the day 07 read as 06, the sum made up by two such bytes
	std::string day = zda;
	day.replace(day.find(",07,") + 2, 1, "6");
	day.insert(day.find('*'), "\x80\x81");
	std::string pair = gsv;
	pair.insert(pair.find(",46") + 1, "\xff\xff");
	bool got_day = true, got_pair = true;
	captured([&] {
		got_day = taken(day);
		got_pair = taken(pair);
	});
	EXPECT_FALSE(got_day) << day;
	EXPECT_FALSE(got_pair) << pair;
}

// Every damage the serial line can do to one sentence, and none is taken:
// any one byte changed to any other (NUL, "$" and LF included; the checksum
// digits may only change their case), any one byte lost, the line cut
// anywhere (its tail lost, with or without the CR).
TEST_F(ChecksumGate, EveryDamagedOrCutSentenceIsDropped)
{
	std::vector<std::string> wrong; // lines taken or dropped wrongly
	auto expect = [&](const std::string &line, bool take) {
		if (taken(line) != take)
			wrong.push_back((take ? "dropped: " : "taken: ") + line);
	};
	captured([&] {
		for (const std::string &line : {gga, gsv, zda}) {
			expect(line, true);
			for (size_t i = 0; i < line.size(); i++) {
				for (int b = 0; b < 256; b++) {
					std::string damaged = line;
					damaged[i] = static_cast<char>(b);
					if (damaged == line)
						continue;
					bool same_digit = i + 2 >= line.size() &&
					                  nmea_hex_value(damaged[i]) == nmea_hex_value(line[i]);
					expect(damaged, same_digit);
				}
				std::string lost = line;
				lost.erase(i, 1);
				expect(lost, false);
				expect(line.substr(0, i), false);
				expect(line.substr(0, i) + "\r", false);
			}
		}
	});
	EXPECT_EQ(wrong.size(), 0u) << (wrong.empty() ? "" : wrong.front());
}

} // namespace
