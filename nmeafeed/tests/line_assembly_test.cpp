// Line assembly of the byte stream: framing, resynchronisation and the
// buffer bound.
#include "line_assembly.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::vector<std::string> push_all(line_assembly &a, const std::string &bytes)
{
	std::vector<std::string> lines;
	for (char c : bytes) {
		const char *line = line_assembly_push(&a, c);
		if (line != nullptr) {
			lines.emplace_back(line);
			line_assembly_reset(&a);
		}
	}
	return lines;
}

TEST(LineAssembly, LinesFromDollarToLf)
{
	line_assembly a;
	line_assembly_reset(&a);
	auto lines = push_all(a, "$GPGGA,1*00\r\n$GPZDA,2\n");
	ASSERT_EQ(lines.size(), 2u);
	EXPECT_EQ(lines[0], "$GPGGA,1*00\r\n");
	EXPECT_EQ(lines[1], "$GPZDA,2\n");
}

TEST(LineAssembly, DollarRestartsTheLine)
{
	line_assembly a;
	line_assembly_reset(&a);
	auto lines = push_all(a, "$GPGGA,12$GPZDA,3\n");
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0], "$GPZDA,3\n");
}

TEST(LineAssembly, LfDirectlyAfterDollarDoesNotEndALine)
{
	line_assembly a;
	line_assembly_reset(&a);
	auto lines = push_all(a, "$\nAB\n");
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0], "$\nAB\n");
}

TEST(LineAssembly, BytesBeforeTheFirstDollarFormNoSentence)
{
	line_assembly a;
	line_assembly_reset(&a);
	auto lines = push_all(a, "GPGGA,tail\n$GPZDA,1\n");
	ASSERT_EQ(lines.size(), 2u);
	EXPECT_EQ(lines[0].substr(0, 1), "") << "no '$' at the start: matches no sentence";
	EXPECT_EQ(lines[1], "$GPZDA,1\n");
}

TEST(LineAssembly, LongestLineThatFits)
{
	line_assembly a;
	line_assembly_reset(&a);
	std::string line = "$" + std::string(1999, 'x') + "\n"; // 2001 bytes + terminator
	auto lines = push_all(a, line);
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0], line);
}

TEST(LineAssembly, OverlongLineIsDroppedAndStreamResyncsAtDollar)
{
	line_assembly a;
	line_assembly_reset(&a);
	std::string junk = "$" + std::string(5000, 'x') + "\nmore junk\n";
	auto lines = push_all(a, junk + "$GPZDA,4\n");
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0], "$GPZDA,4\n");
	EXPECT_LT(a.index, kAssemblySize);
}

TEST(LineAssembly, EndlessStreamWithoutDollarOrLf)
{
	line_assembly a;
	line_assembly_reset(&a);
	std::string junk(100000, 'z');
	auto lines = push_all(a, junk);
	EXPECT_TRUE(lines.empty());
	EXPECT_LE(a.index, kAssemblySize - 2);
	lines = push_all(a, "$GPGGA,5\n");
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0], "$GPGGA,5\n");
}

TEST(LineAssembly, ZeroBytesInsideALine)
{
	line_assembly a;
	line_assembly_reset(&a);
	std::string bytes = std::string("$GP") + '\0' + "ZDA\n";
	auto lines = push_all(a, bytes);
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0], "$GP") << "the text ends at the zero byte";
}

} // namespace
