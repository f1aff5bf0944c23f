// The simulated GPIO chip 0 of simboard: 32 lines, line requests with
// consumers and conflicts, output values, input levels driven from outside,
// and edge events after the requested debounce period.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

int64_t sim_now_ns();  // CLOCK_MONOTONIC, the clock of the event time stamps

// One message on a connection to dev/gpiochip0; returns the reply.
std::string gpio_handle_message(int fd, const std::string &msg);
// The connection is gone: a request it made is released.
void gpio_connection_closed(int fd);

// Debounce timers: the earliest deadline (-1 when none) and their expiry.
int64_t gpio_next_deadline();
void gpio_run_timers(int64_t now);
// True when no debounce period is running on the line.
bool gpio_settled(int offset);

// Control commands "gpio ..." and "button ...". *wait_line is set to a line
// whose debounce must run out before the reply is sent, or -1.
std::string gpio_control(const std::vector<std::string> &words, int *wait_line);
