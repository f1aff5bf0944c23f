// libFuzzer target over the daemon's per-second logic without file output:
// the byte stream goes through line assembly and dispatch (GGA and GSV
// collection), every ZDA line through the fixed-column time reading, and
// at every ZDA the stored lines through aggregation and coordinate
// formatting, as the ZDA work does before it writes the status files.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "line_assembly.h"
#include "nmeafeed.h"

namespace {

bool is_zda(const char *line)
{
	for (const char *t : {"$GPZDA", "$GNZDA", "$GLZDA", "$GAZDA", "$BDZDA"})
		if (strncmp(line, t, 6) == 0)
			return true;
	return false;
}

void zda_work(const char *line)
{
	nmea_gga g{};
	if (gga_line[0] != '\0')
		nmea_parse_gga(&g, gga_line);
	for (constellation_state &cs : constellations)
		if (cs.gsv_count > 0)
			aggregate_constellation(&cs);
	char coords[128];
	format_coords(&g, coords, sizeof coords);
	zda_stamp stamp;
	read_zda_stamp(line, &stamp);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	static line_assembly assembly;
	line_assembly_reset(&assembly);
	nmeafeed_reset_state();
	for (size_t i = 0; i < size; i++) {
		size_t length = 0;
		const char *line = line_assembly_push(&assembly, static_cast<char>(data[i]), &length);
		if (line == nullptr)
			continue;
		if (is_zda(line))
			zda_work(line);
		else
			handle_line(line, length);
		line_assembly_reset(&assembly);
	}
	return 0;
}
