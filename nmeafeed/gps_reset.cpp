// Receiver reset line through the libgpiod v2 API. Which level holds the
// receiver in reset is a matter of the board's wiring; the daemon only
// drives the line active at start and keeps it.
#include "gps_reset.h"

#include <gpiod.h>

#include <cstdio>

#include "kx_path.h"

namespace {

constexpr unsigned int kResetOffset = 3;

// The request, never released: the kernel frees it when the process ends.
gpiod_line_request *reset_request = nullptr;

} // namespace

int request_gps_reset()
{
	gpiod_chip *chip = nullptr;
	gpiod_line_settings *settings = nullptr;
	gpiod_line_config *line_config = nullptr;
	gpiod_request_config *request_config = nullptr;
	unsigned int offset = kResetOffset;
	bool built = false;

	chip = gpiod_chip_open(kx_path("/dev/gpiochip0").c_str());
	if (chip == nullptr)
		goto done;
	settings = gpiod_line_settings_new();
	if (settings == nullptr ||
	    gpiod_line_settings_set_direction(settings, GPIOD_LINE_DIRECTION_OUTPUT) != 0 ||
	    gpiod_line_settings_set_output_value(settings, GPIOD_LINE_VALUE_ACTIVE) != 0)
		goto done;
	line_config = gpiod_line_config_new();
	if (line_config == nullptr ||
	    gpiod_line_config_add_line_settings(line_config, &offset, 1, settings) != 0)
		goto done;
	request_config = gpiod_request_config_new();
	if (request_config == nullptr)
		goto done;
	gpiod_request_config_set_consumer(request_config, "gps_reset");
	built = true;
	reset_request = gpiod_chip_request_lines(chip, request_config, line_config);

done:
	// Newest first; the request stays valid after the chip is closed.
	if (request_config != nullptr)
		gpiod_request_config_free(request_config);
	if (line_config != nullptr)
		gpiod_line_config_free(line_config);
	if (settings != nullptr)
		gpiod_line_settings_free(settings);
	if (chip != nullptr)
		gpiod_chip_close(chip);
	if (!built || reset_request == nullptr) {
		reset_request = nullptr;
		printf("Failed requesting line gps_reset");
		return -1;
	}
	return 0;
}

void set_gps_reset(uint8_t level)
{
	if (reset_request == nullptr)
		return;
	gpiod_line_request_set_value(reset_request, kResetOffset,
	                             level ? GPIOD_LINE_VALUE_ACTIVE : GPIOD_LINE_VALUE_INACTIVE);
}
