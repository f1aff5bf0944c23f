// Client side of the simulated board's sockets (see sim_wire.h).
#pragma once

#include <string>
#include <sys/types.h>

// Connects a SOCK_SEQPACKET socket to the simulated device at path: the
// descriptor, or -1 with errno (ENOENT when no board runs under that root).
int sim_connect(const char *path);

// Sends one message and waits for the one reply: the reply length, or -1
// with errno (EIO when the board went away).
ssize_t sim_call(int fd, const void *msg, size_t len, void *reply, size_t cap);

// Text form for the GPIO socket: 0 when the board answered "ok", the rest of
// the reply in *rest; -1 with errno from an "err N" reply or a broken link.
int sim_call_text(int fd, const std::string &msg, std::string *rest);
