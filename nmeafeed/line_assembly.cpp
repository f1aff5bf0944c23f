#include "line_assembly.h"

#include <cstring>

void line_assembly_reset(line_assembly *a)
{
	memset(a->buffer, 0, sizeof a->buffer);
	a->index = 0;
	a->discarding = false;
}

const char *line_assembly_push(line_assembly *a, char byte, size_t *length)
{
	if (byte == '$') {
		line_assembly_reset(a);
		a->buffer[0] = '$';
		return nullptr;
	}
	if (a->discarding)
		return nullptr;

	int32_t at = a->index + 1;
	// The stored byte and the terminator after it must both fit.
	if (at > kAssemblySize - 2) {
		line_assembly_reset(a);
		a->discarding = true;
		return nullptr;
	}
	a->buffer[at] = byte;
	a->index = at;
	if (byte == '\n' && at >= 2) {
		a->buffer[at + 1] = '\0';
		*length = static_cast<size_t>(at) + 1;
		return a->buffer;
	}
	return nullptr;
}
