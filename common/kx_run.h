// Running the appliance's helper programs (chronyc, pmc) without a shell.
#pragma once

#include <string>
#include <vector>

// Runs argv[0] (looked up in PATH) with the given arguments, its standard
// input from /dev/null and its standard error discarded, and waits for it
// at most `timeout_ms` milliseconds (then it is killed). When `output` is
// given, it receives what the program wrote to its standard output, at most
// 64 KiB. Returns the program's exit status (0 to 255), or -1 when it could
// not be started (also exit status 127, the shell's "not found"), was killed
// by a signal or ran out of time.
int kx_run(const std::vector<std::string> &argv, std::string *output = nullptr,
           int timeout_ms = 5000);
