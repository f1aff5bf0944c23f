// The front panel's GPIO lines and the button's state machine.
//
// panelmon holds seven lines of /dev/gpiochip0, each in a request of its own
// for the life of the process: the two fix LEDs (outputs), the push button,
// the 3dfix input and the AD9544's M0-M2 status pins (inputs, falling-edge
// detection, pull-up, 50 ms debounce done by the GPIO driver). The button
// steps through the six screens and drives the hold-to-reset sequence that
// ends by running /root/resetparms.sh once.
//
// The loop calls, once per 100 ms tick:
//   if (poll_button_edge() == BUTTON_LINE) advance_page();
//   ... render: pages 99 and up with render_reset_step() ...
//   if (page <= 98) detect_hold();
// Every call copes with a line whose request failed at start: a missing
// output is not driven, a missing input reads 1 (released, the level of its
// pull-up), and a missing button delivers no edges.
#pragma once

#include <gpiod.h>

#include <cstdint>

inline constexpr int BUTTON_LINE = 1;
inline constexpr int NO_EDGE = -1;

// Screen shown: 0 to 5, or the reset steps 99 (prompt), 100 (confirming),
// 101, 102; 103 and above once the reset script has run.
extern int32_t page;
// Consecutive ticks the button has been seen held.
extern int32_t hold_count;

// Requests led_3dfix, led_2dfix, lcd_button, 3dfix, m0, m1, m2 in this order
// and creates the button's event buffer. 0, or -1 after printing the first
// failure (the lines after it are not requested).
int gpio_setup();

// One line in a request of its own; nullptr when that fails.
gpiod_line_request *request_input_line(unsigned int offset, const char *label);
gpiod_line_request *request_output_line(unsigned int offset, const char *label);

void set_led_3dfix(int v);
void set_led_2dfix(int v);

// 1 or 0; a failed read (or a line that was never requested) gives 1.
int button_level();
// M0, M1, M2 for n = 0, 1, 2, read the same way.
int m_pin_level(int n);

// The line offset of one pending edge of the button, or NO_EDGE.
int poll_button_edge();

// A press: screens cycle 0..5 and back to 0; the reset steps count upwards.
void advance_page();

// Hold detection for pages up to 98: 50 consecutive held ticks (5 s) bring
// up the reset prompt (page 99).
void detect_hold();

// Rows and actions of the reset steps (page 99 and above). line1 and line2
// hold at least 21 bytes; on pages 102 and up they are left as they are.
void render_reset_step(char *line1, char *line2);

// Releases every request and the buffer and starts over at page 0 (tests;
// the daemon keeps its lines until it exits).
void gpio_teardown();
