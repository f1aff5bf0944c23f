// Line assembly of the byte stream: framing, resynchronisation and the
// buffer bound.
#include "line_assembly.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(LineAssembly, FramingResyncAndBound)
{
	const std::string longest = "$" + std::string(1999, 'x') + "\n"; // 2001 bytes + terminator
	struct {
		const char *what;
		std::string bytes;
		std::vector<std::string> lines;
	} cases[] = {
	    {"lines run from $ to LF", "$GPGGA,1*00\r\n$GPZDA,2\n", {"$GPGGA,1*00\r\n", "$GPZDA,2\n"}},
	    {"$ restarts the line", "$GPGGA,12$GPZDA,3\n", {"$GPZDA,3\n"}},
	    {"LF right after $ ends nothing", "$\nAB\n", {"$\nAB\n"}},
	    {"bytes before the first $ give a line without $, matching no sentence",
	     "GPGGA,tail\n$GPZDA,1\n", {std::string(1, '\0') + "GPGGA,tail\n", "$GPZDA,1\n"}},
	    {"longest line that fits", longest, {longest}},
	    {"overlong line dropped, resync at $",
	     "$" + std::string(5000, 'x') + "\nmore junk\n$GPZDA,4\n", {"$GPZDA,4\n"}},
	    {"endless stream without $ or LF", std::string(100000, 'z') + "$GPGGA,5\n", {"$GPGGA,5\n"}},
	    {"a zero byte is part of the line", std::string("$GP") + '\0' + "ZDA\n",
	     {std::string("$GP") + '\0' + "ZDA\n"}},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		line_assembly a;
		line_assembly_reset(&a);
		std::vector<std::string> lines;
		int32_t max_index = 0;
		for (char byte : c.bytes) {
			size_t length = 0;
			const char *line = line_assembly_push(&a, byte, &length);
			max_index = std::max(max_index, a.index);
			if (line != nullptr) {
				EXPECT_EQ(line[length], '\0') << "terminated after the LF";
				lines.emplace_back(line, length);
				line_assembly_reset(&a);
			}
		}
		EXPECT_EQ(lines, c.lines);
		EXPECT_LE(max_index, kAssemblySize - 2) << "byte and terminator always fit";
	}
}

} // namespace
