// A recording stand-in for the I2C seam and the LCD's pauses: every call
// becomes one line of `events`, in order ("open PATH", "addr 3e",
// "w 00 38", "pause 4500", "close 7").
#pragma once

#include <string>
#include <vector>

struct RecordingSeam {
	std::vector<std::string> events;
	bool fail_open = false;
	bool fail_address = false;
	int next_fd = 7;
};

extern RecordingSeam seam;

void seam_reset();
// The events from index `from` on, joined with " | ".
std::string seam_events(size_t from = 0);
