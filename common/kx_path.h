// Fixed file-system paths of the appliance.
//
// Every program uses the appliance's fixed paths ("/dev/kx_pps",
// "/var/volatile/rundata/numsats.dat", ...). On the board KX_ROOT is unset and
// the paths are used exactly as written. Tests and the board simulator set
// KX_ROOT to a private directory tree; every fixed path is then taken below it.
#pragma once

#include <string>

// The fixed path, under $KX_ROOT when that is set and not empty.
std::string kx_path(const char *fixed);

// Makes standard output and standard error unbuffered, so a daemon whose
// output is a pipe or a file does not hold messages back (several of them
// have no line end).
void kx_unbuffered_output();
