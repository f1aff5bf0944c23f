// chronyc, the one way the appliance's programs talk to chronyd.
#pragma once

#include <string>
#include <vector>

// chronyd's command socket (under $KX_ROOT in tests). chronyc is always
// pointed at it: the programs asking run without a network of their own
// (their units set PrivateNetwork), so the socket is the only way in.
constexpr const char *kChronydSocket = "/run/chrony/chronyd.sock";

// Runs `chronyc -n -c -h SOCKET COMMAND...` (chronyc found on PATH) through
// kx_run(): numeric addresses, CSV output. chronyc gives up on a silent
// chronyd by itself after some seconds; timeout_ms only keeps a stuck
// chronyc from holding the caller. Returns chronyc's exit status, -1 when
// it could not be run or ran out of time; `output` gets its standard output.
int kx_chronyc(const std::vector<std::string> &command, std::string *output = nullptr,
	       int timeout_ms = 5000);
