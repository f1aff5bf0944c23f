#include "gpio_lines.h"

#include "kx_path.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>

int32_t page = 0;
int32_t hold_count = 0;

namespace {

constexpr unsigned int LED_3DFIX_LINE = 0;
constexpr unsigned int LED_2DFIX_LINE = 27;
constexpr unsigned int FIX3D_LINE = 17;
constexpr unsigned int M_LINES[3] = {21, 23, 24};
constexpr unsigned long DEBOUNCE_US = 50000;
constexpr int32_t HOLD_TICKS = 50;  // 5 s of 100 ms ticks

gpiod_line_request *led_3dfix_req;
gpiod_line_request *led_2dfix_req;
gpiod_line_request *button_req;
gpiod_line_request *fix3d_req;
gpiod_line_request *m_req[3];
gpiod_edge_event_buffer *event_buffer;

gpiod_line_request *request_line(unsigned int offset, const char *label, bool output)
{
	gpiod_chip *chip = gpiod_chip_open(kx_path("/dev/gpiochip0").c_str());
	if (chip == nullptr)
		return nullptr;
	gpiod_line_settings *settings = gpiod_line_settings_new();
	if (settings == nullptr) {
		gpiod_chip_close(chip);
		return nullptr;
	}
	if (output) {
		gpiod_line_settings_set_direction(settings, GPIOD_LINE_DIRECTION_OUTPUT);
		gpiod_line_settings_set_output_value(settings, GPIOD_LINE_VALUE_INACTIVE);
	} else {
		gpiod_line_settings_set_direction(settings, GPIOD_LINE_DIRECTION_INPUT);
		gpiod_line_settings_set_edge_detection(settings, GPIOD_LINE_EDGE_FALLING);
		gpiod_line_settings_set_bias(settings, GPIOD_LINE_BIAS_PULL_UP);
		gpiod_line_settings_set_debounce_period_us(settings, DEBOUNCE_US);
	}
	gpiod_line_request *request = nullptr;
	gpiod_line_config *line_config = gpiod_line_config_new();
	gpiod_request_config *request_config = gpiod_request_config_new();
	if (line_config != nullptr && request_config != nullptr &&
	    gpiod_line_config_add_line_settings(line_config, &offset, 1, settings) == 0) {
		gpiod_request_config_set_consumer(request_config, label);
		request = gpiod_chip_request_lines(chip, request_config, line_config);
	}
	if (request_config != nullptr)
		gpiod_request_config_free(request_config);
	if (line_config != nullptr)
		gpiod_line_config_free(line_config);
	gpiod_line_settings_free(settings);
	gpiod_chip_close(chip);
	return request;
}

// Inputs read 1 unless the line is seen low: a failed read and a line that
// was never requested count as released.
int input_level(gpiod_line_request *request, unsigned int offset)
{
	if (request == nullptr)
		return 1;
	return gpiod_line_request_get_value(request, offset) != 0 ? 1 : 0;
}

void set_output(gpiod_line_request *request, unsigned int offset, int v)
{
	if (request != nullptr)
		gpiod_line_request_set_value(request, offset,
					     v ? GPIOD_LINE_VALUE_ACTIVE : GPIOD_LINE_VALUE_INACTIVE);
}

void set_rows(char *line1, char *line2, const char *text1, const char *text2)
{
	std::snprintf(line1, 21, "%-20s", text1);
	std::snprintf(line2, 21, "%-20s", text2);
}

// The script puts the unit's settings back to their defaults and restarts
// it. Run through the shell, waited for, its status ignored.
void run_reset_script()
{
	std::string path = kx_path("/root/resetparms.sh");
	std::string quoted = "'";
	for (char c : path)
		quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
	quoted += "'";
	int status = std::system(quoted.c_str());
	(void)status;
}

}  // namespace

gpiod_line_request *request_input_line(unsigned int offset, const char *label)
{
	return request_line(offset, label, false);
}

gpiod_line_request *request_output_line(unsigned int offset, const char *label)
{
	return request_line(offset, label, true);
}

int gpio_setup()
{
	struct {
		gpiod_line_request **request;
		unsigned int offset;
		const char *label;
		bool output;
		const char *message;
	} steps[] = {
		{&led_3dfix_req, LED_3DFIX_LINE, "led_3dfix", true, "Failed requesting line led_3dfix"},
		{&led_2dfix_req, LED_2DFIX_LINE, "led_2dfix", true, "Failed requesting line led_2dfix"},
		{&button_req, BUTTON_LINE, "lcd_button", false, "Failed requesting line lcdbutton"},
		{&fix3d_req, FIX3D_LINE, "3dfix", false, "Failed requesting line 3dfix"},
		{&m_req[0], M_LINES[0], "m0", false, "Failed requesting line m_ad9544_m0"},
		{&m_req[1], M_LINES[1], "m1", false, "Failed requesting line m_ad9544_m1"},
		{&m_req[2], M_LINES[2], "m2", false, "Failed requesting line m_ad9544_m2"},
	};
	for (auto &s : steps) {
		*s.request = s.output ? request_output_line(s.offset, s.label)
				      : request_input_line(s.offset, s.label);
		if (*s.request == nullptr) {
			std::printf("%s", s.message);
			return -1;
		}
	}
	event_buffer = gpiod_edge_event_buffer_new(1);
	if (event_buffer == nullptr) {
		std::printf("Error: Failed to create event buffer\n");
		return -1;
	}
	return 0;
}

void set_led_3dfix(int v)
{
	set_output(led_3dfix_req, LED_3DFIX_LINE, v);
}

void set_led_2dfix(int v)
{
	set_output(led_2dfix_req, LED_2DFIX_LINE, v);
}

int button_level()
{
	return input_level(button_req, BUTTON_LINE);
}

int m_pin_level(int n)
{
	if (n < 0 || n > 2)
		return 1;
	return input_level(m_req[n], M_LINES[n]);
}

int poll_button_edge()
{
	if (button_req == nullptr || event_buffer == nullptr)
		return NO_EDGE;
	int fd = gpiod_line_request_get_fd(button_req);
	int flags = fcntl(fd, F_GETFL);
	if (flags >= 0)
		fcntl(fd, F_SETFL, flags | O_NONBLOCK);
	pollfd p{fd, POLLIN, 0};
	if (poll(&p, 1, 0) <= 0 || (p.revents & POLLIN) == 0)
		return NO_EDGE;
	if (gpiod_line_request_read_edge_events(button_req, event_buffer, 1) == -1) {
		std::printf("error reading edge events\n");
		return NO_EDGE;
	}
	gpiod_edge_event *event = gpiod_edge_event_buffer_get_event(event_buffer, 0);
	if (event == nullptr)
		return NO_EDGE;
	gpiod_edge_event_get_event_type(event);
	return static_cast<int>(gpiod_edge_event_get_line_offset(event));
}

void advance_page()
{
	if (page >= 5 && page <= 97)
		page = 0;
	else
		page++;
}

void detect_hold()
{
	if (button_level() == 1) {
		hold_count = 0;
		return;
	}
	hold_count++;
	if (hold_count >= HOLD_TICKS)
		page = 99;
}

void render_reset_step(char *line1, char *line2)
{
	switch (page) {
	case 99:
		set_rows(line1, line2, "Reset to Defaults???", "Hold Btn 5 secs");
		hold_count = 0;
		break;
	case 100:
		set_rows(line1, line2, "Reset to Defaults???", "Keep Holding...");
		if (button_level() == 1) {
			page = 0;
			hold_count = 0;
		} else if (++hold_count >= HOLD_TICKS) {
			page = 101;
		}
		break;
	case 101:
		set_rows(line1, line2, "Resetting...", "Rebooting...");
		page = 102;
		break;
	case 102:
		page = 103;
		run_reset_script();
		break;
	default:
		break;  // 103 and up: the script has run
	}
}

void gpio_teardown()
{
	gpiod_line_request **all[] = {&led_3dfix_req, &led_2dfix_req, &button_req, &fix3d_req,
				      &m_req[0], &m_req[1], &m_req[2]};
	for (gpiod_line_request **r : all) {
		if (*r != nullptr)
			gpiod_line_request_release(*r);
		*r = nullptr;
	}
	if (event_buffer != nullptr)
		gpiod_edge_event_buffer_free(event_buffer);
	event_buffer = nullptr;
	page = 0;
	hold_count = 0;
}
