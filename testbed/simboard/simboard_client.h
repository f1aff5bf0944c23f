// Test helper: runs simboard in a private KX_ROOT and talks to its control
// socket. The C++ twin of simboard.py.
#pragma once

#include <string>
#include <sys/types.h>

struct SimBoardRun {
	pid_t pid = -1;
	int control_fd = -1;
	std::string root;      // the board's KX_ROOT
	bool own_root = false; // made by simboard_start, removed by simboard_stop
	std::string pending;   // reply bytes read ahead
};

// Starts a board under root (a fresh directory in /tmp when empty), sets
// KX_ROOT of this process to it and waits until the board is ready.
bool simboard_start(SimBoardRun *board, const std::string &root = "");

// Sends one control command; the reply line without its line end ("ok ..."
// or "err ..."), or "" when the board is gone.
std::string simboard_command(SimBoardRun *board, const std::string &command);

// The text after "ok " of a reply ("" for a bare "ok"); false on "err".
bool simboard_ok(SimBoardRun *board, const std::string &command, std::string *rest = nullptr);

// Stops the board ("quit", then SIGKILL if it does not go) and removes a
// root that simboard_start made.
void simboard_stop(SimBoardRun *board);

// Decodes the \\ and \xHH escapes of the board's text replies.
std::string simboard_unescape(const std::string &text);
