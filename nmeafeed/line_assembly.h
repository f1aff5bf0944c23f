// Line assembly of the NMEA byte stream read from /dev/kx_pps.
#pragma once

#include <cstddef>
#include <cstdint>

// Size of the assembly buffer. The device passes lines of at most 255
// characters; the rest is headroom for damaged input.
constexpr int kAssemblySize = 2002;

struct line_assembly {
	char buffer[kAssemblySize];
	int32_t index;   // index of the last byte stored
	bool discarding; // an over-long line is being dropped up to the next "$"
};

// Clears the buffer: the state at start.
void line_assembly_reset(line_assembly *a);

// Takes one byte of the stream. Returns the complete line (from "$" to its
// LF, terminated) when this byte ended one, else null; *length is then its
// number of bytes up to and including the LF. The line holds every byte as
// received, NULs (a break or framing error on the UART) too, so only its
// length tells where it ends. It stays valid until the next call.
//
// A "$" always starts a new line. A line that would not fit the buffer
// (2000 characters and the LF) is dropped whole, and bytes are ignored until
// the next "$": the stream resynchronises at the next sentence.
const char *line_assembly_push(line_assembly *a, char byte, size_t *length);
