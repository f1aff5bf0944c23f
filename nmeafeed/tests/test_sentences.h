// Helpers shared by the sentence library tests.
#pragma once

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

// Appends "*hh" with the XOR of the body after "$", computed here
// independently of the library.
inline std::string with_checksum(const std::string &body)
{
	unsigned sum = 0;
	for (size_t i = 1; i < body.size(); i++)
		sum ^= static_cast<unsigned char>(body[i]);
	char tail[8];
	std::snprintf(tail, sizeof tail, "*%02X", sum);
	return body + tail;
}

// The standard GGA example with its published checksum.
inline const char *kGga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";

// Runs f with standard output captured and returns what it printed.
template <typename F> std::string captured(F f)
{
	testing::internal::CaptureStdout();
	f();
	std::fflush(stdout);
	return testing::internal::GetCapturedStdout();
}
