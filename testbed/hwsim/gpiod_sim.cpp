// libgpiod v2 for the simulation build.
//
// The declarations come from the real <gpiod.h>, so programs compile against
// exactly the library they use on the board. The chip is simboard's
// simulated gpiochip0: gpiod_chip_open connects to the socket at the given
// path ($KX_ROOT/dev/gpiochip0), and every line request holds two
// connections of its own, one for commands and one that carries its edge
// events (the descriptor of gpiod_line_request_get_fd, readable exactly when
// events are queued). Closing the request's command connection releases its
// lines, so a process that exits gives its lines back, as with the kernel.
#include <gpiod.h>

#include "sim_socket.h"
#include "sim_wire.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

struct gpiod_chip {
	int fd;
	std::string path;
	std::string name;
};

struct gpiod_chip_info {
	std::string name;
	std::string label;
	size_t num_lines;
};

struct gpiod_line_settings {
	gpiod_line_direction direction = GPIOD_LINE_DIRECTION_AS_IS;
	gpiod_line_edge edge = GPIOD_LINE_EDGE_NONE;
	gpiod_line_bias bias = GPIOD_LINE_BIAS_AS_IS;
	gpiod_line_drive drive = GPIOD_LINE_DRIVE_PUSH_PULL;
	bool active_low = false;
	unsigned long debounce_us = 0;
	gpiod_line_clock event_clock = GPIOD_LINE_CLOCK_MONOTONIC;
	gpiod_line_value output_value = GPIOD_LINE_VALUE_INACTIVE;
};

struct gpiod_line_config {
	std::vector<unsigned int> offsets;
	std::vector<gpiod_line_settings> settings;
};

struct gpiod_request_config {
	std::string consumer;
	size_t event_buffer_size = 0;
};

struct gpiod_line_request {
	int cmd_fd;
	int ev_fd;
	std::string chip_name;
	std::vector<unsigned int> offsets;
};

struct gpiod_edge_event {
	gpiod_edge_event_type type;
	uint64_t timestamp_ns;
	unsigned int offset;
	unsigned long global_seqno;
	unsigned long line_seqno;
};

struct gpiod_edge_event_buffer {
	size_t capacity;
	size_t num_events;
	std::vector<gpiod_edge_event> events;
};

namespace {

constexpr size_t max_lines_per_request = 64;  // as the kernel's uAPI
constexpr size_t max_consumer = 31;

std::string hex_of(const std::string &s)
{
	if (s.empty())
		return "-";
	std::string out;
	char b[3];
	for (unsigned char c : s) {
		std::snprintf(b, sizeof b, "%02x", c);
		out += b;
	}
	return out;
}

bool has_offset(const gpiod_line_request *r, unsigned int offset)
{
	return std::find(r->offsets.begin(), r->offsets.end(), offset) != r->offsets.end();
}

bool parse_event(const char *msg, gpiod_edge_event *ev)
{
	unsigned int offset;
	int type;
	uint64_t ts;
	unsigned long g, l;
	if (std::sscanf(msg, "edge %u %d %" SCNu64 " %lu %lu", &offset, &type, &ts, &g, &l) != 5)
		return false;
	ev->offset = offset;
	ev->type = static_cast<gpiod_edge_event_type>(type);
	ev->timestamp_ns = ts;
	ev->global_seqno = g;
	ev->line_seqno = l;
	return true;
}

}  // namespace

extern "C" {

/* chip */

struct gpiod_chip *gpiod_chip_open(const char *path)
{
	if (path == nullptr) {
		errno = EINVAL;
		return nullptr;
	}
	int fd = sim_connect(path);
	if (fd < 0)
		return nullptr;
	std::string rest;
	if (sim_call_text(fd, "info", &rest) < 0) {
		close(fd);
		errno = ENODEV;  // something answers, but it is not a GPIO chip
		return nullptr;
	}
	char name[64] = "";
	std::sscanf(rest.c_str(), "%*u %63s", name);
	return new gpiod_chip{fd, path, name};
}

void gpiod_chip_close(struct gpiod_chip *chip)
{
	if (chip == nullptr)
		return;
	close(chip->fd);
	delete chip;
}

struct gpiod_chip_info *gpiod_chip_get_info(struct gpiod_chip *chip)
{
	std::string rest;
	if (sim_call_text(chip->fd, "info", &rest) < 0)
		return nullptr;
	size_t n = 0;
	char name[64] = "", label[64] = "";
	if (std::sscanf(rest.c_str(), "%zu %63s %63s", &n, name, label) != 3) {
		errno = EIO;
		return nullptr;
	}
	return new gpiod_chip_info{name, label, n};
}

const char *gpiod_chip_get_path(struct gpiod_chip *chip)
{
	return chip->path.c_str();
}

int gpiod_chip_get_fd(struct gpiod_chip *chip)
{
	return chip->fd;
}

void gpiod_chip_info_free(struct gpiod_chip_info *info)
{
	delete info;
}

const char *gpiod_chip_info_get_name(struct gpiod_chip_info *info)
{
	return info->name.c_str();
}

const char *gpiod_chip_info_get_label(struct gpiod_chip_info *info)
{
	return info->label.c_str();
}

size_t gpiod_chip_info_get_num_lines(struct gpiod_chip_info *info)
{
	return info->num_lines;
}

bool gpiod_is_gpiochip_device(const char *path)
{
	gpiod_chip *chip = gpiod_chip_open(path);
	if (chip == nullptr)
		return false;
	gpiod_chip_close(chip);
	return true;
}

const char *gpiod_api_version(void)
{
	return "2.1-kxsim";
}

/* line settings */

struct gpiod_line_settings *gpiod_line_settings_new(void)
{
	return new gpiod_line_settings;
}

void gpiod_line_settings_free(struct gpiod_line_settings *settings)
{
	delete settings;
}

void gpiod_line_settings_reset(struct gpiod_line_settings *settings)
{
	*settings = gpiod_line_settings{};
}

struct gpiod_line_settings *gpiod_line_settings_copy(struct gpiod_line_settings *settings)
{
	return new gpiod_line_settings(*settings);
}

int gpiod_line_settings_set_direction(struct gpiod_line_settings *settings,
				      enum gpiod_line_direction direction)
{
	switch (direction) {
	case GPIOD_LINE_DIRECTION_AS_IS:
	case GPIOD_LINE_DIRECTION_INPUT:
	case GPIOD_LINE_DIRECTION_OUTPUT:
		settings->direction = direction;
		return 0;
	}
	settings->direction = GPIOD_LINE_DIRECTION_AS_IS;
	errno = EINVAL;
	return -1;
}

enum gpiod_line_direction gpiod_line_settings_get_direction(struct gpiod_line_settings *settings)
{
	return settings->direction;
}

int gpiod_line_settings_set_edge_detection(struct gpiod_line_settings *settings,
					   enum gpiod_line_edge edge)
{
	switch (edge) {
	case GPIOD_LINE_EDGE_NONE:
	case GPIOD_LINE_EDGE_RISING:
	case GPIOD_LINE_EDGE_FALLING:
	case GPIOD_LINE_EDGE_BOTH:
		settings->edge = edge;
		return 0;
	}
	settings->edge = GPIOD_LINE_EDGE_NONE;
	errno = EINVAL;
	return -1;
}

enum gpiod_line_edge gpiod_line_settings_get_edge_detection(struct gpiod_line_settings *settings)
{
	return settings->edge;
}

int gpiod_line_settings_set_bias(struct gpiod_line_settings *settings, enum gpiod_line_bias bias)
{
	switch (bias) {
	case GPIOD_LINE_BIAS_AS_IS:
	case GPIOD_LINE_BIAS_DISABLED:
	case GPIOD_LINE_BIAS_PULL_UP:
	case GPIOD_LINE_BIAS_PULL_DOWN:
		settings->bias = bias;
		return 0;
	case GPIOD_LINE_BIAS_UNKNOWN:
		break;
	}
	settings->bias = GPIOD_LINE_BIAS_AS_IS;
	errno = EINVAL;
	return -1;
}

enum gpiod_line_bias gpiod_line_settings_get_bias(struct gpiod_line_settings *settings)
{
	return settings->bias;
}

int gpiod_line_settings_set_drive(struct gpiod_line_settings *settings, enum gpiod_line_drive drive)
{
	switch (drive) {
	case GPIOD_LINE_DRIVE_PUSH_PULL:
	case GPIOD_LINE_DRIVE_OPEN_DRAIN:
	case GPIOD_LINE_DRIVE_OPEN_SOURCE:
		settings->drive = drive;
		return 0;
	}
	settings->drive = GPIOD_LINE_DRIVE_PUSH_PULL;
	errno = EINVAL;
	return -1;
}

enum gpiod_line_drive gpiod_line_settings_get_drive(struct gpiod_line_settings *settings)
{
	return settings->drive;
}

void gpiod_line_settings_set_active_low(struct gpiod_line_settings *settings, bool active_low)
{
	settings->active_low = active_low;
}

bool gpiod_line_settings_get_active_low(struct gpiod_line_settings *settings)
{
	return settings->active_low;
}

void gpiod_line_settings_set_debounce_period_us(struct gpiod_line_settings *settings,
						unsigned long period)
{
	settings->debounce_us = period;
}

unsigned long gpiod_line_settings_get_debounce_period_us(struct gpiod_line_settings *settings)
{
	return settings->debounce_us;
}

int gpiod_line_settings_set_event_clock(struct gpiod_line_settings *settings,
					enum gpiod_line_clock event_clock)
{
	switch (event_clock) {
	case GPIOD_LINE_CLOCK_MONOTONIC:
	case GPIOD_LINE_CLOCK_REALTIME:
	case GPIOD_LINE_CLOCK_HTE:
		settings->event_clock = event_clock;
		return 0;
	}
	settings->event_clock = GPIOD_LINE_CLOCK_MONOTONIC;
	errno = EINVAL;
	return -1;
}

enum gpiod_line_clock gpiod_line_settings_get_event_clock(struct gpiod_line_settings *settings)
{
	return settings->event_clock;
}

int gpiod_line_settings_set_output_value(struct gpiod_line_settings *settings,
					 enum gpiod_line_value value)
{
	switch (value) {
	case GPIOD_LINE_VALUE_INACTIVE:
	case GPIOD_LINE_VALUE_ACTIVE:
		settings->output_value = value;
		return 0;
	case GPIOD_LINE_VALUE_ERROR:
		break;
	}
	settings->output_value = GPIOD_LINE_VALUE_INACTIVE;
	errno = EINVAL;
	return -1;
}

enum gpiod_line_value gpiod_line_settings_get_output_value(struct gpiod_line_settings *settings)
{
	return settings->output_value;
}

/* line config */

struct gpiod_line_config *gpiod_line_config_new(void)
{
	return new gpiod_line_config;
}

void gpiod_line_config_free(struct gpiod_line_config *config)
{
	delete config;
}

void gpiod_line_config_reset(struct gpiod_line_config *config)
{
	config->offsets.clear();
	config->settings.clear();
}

int gpiod_line_config_add_line_settings(struct gpiod_line_config *config,
					const unsigned int *offsets, size_t num_offsets,
					struct gpiod_line_settings *settings)
{
	if (num_offsets == 0 || offsets == nullptr) {
		errno = EINVAL;
		return -1;
	}
	gpiod_line_settings s = settings != nullptr ? *settings : gpiod_line_settings{};
	for (size_t i = 0; i < num_offsets; i++) {
		auto it = std::find(config->offsets.begin(), config->offsets.end(), offsets[i]);
		if (it != config->offsets.end()) {
			config->settings[static_cast<size_t>(it - config->offsets.begin())] = s;
			continue;
		}
		if (config->offsets.size() == max_lines_per_request) {
			errno = E2BIG;
			return -1;
		}
		config->offsets.push_back(offsets[i]);
		config->settings.push_back(s);
	}
	return 0;
}

struct gpiod_line_settings *gpiod_line_config_get_line_settings(struct gpiod_line_config *config,
								unsigned int offset)
{
	auto it = std::find(config->offsets.begin(), config->offsets.end(), offset);
	if (it == config->offsets.end()) {
		errno = ENOENT;
		return nullptr;
	}
	return new gpiod_line_settings(config->settings[static_cast<size_t>(it - config->offsets.begin())]);
}

int gpiod_line_config_set_output_values(struct gpiod_line_config *config,
					const enum gpiod_line_value *values, size_t num_values)
{
	if (num_values > max_lines_per_request) {
		errno = EINVAL;
		return -1;
	}
	for (size_t i = 0; i < num_values && i < config->settings.size(); i++)
		config->settings[i].output_value = values[i];
	return 0;
}

size_t gpiod_line_config_get_num_configured_offsets(struct gpiod_line_config *config)
{
	return config->offsets.size();
}

size_t gpiod_line_config_get_configured_offsets(struct gpiod_line_config *config,
						unsigned int *offsets, size_t max_offsets)
{
	size_t n = std::min(max_offsets, config->offsets.size());
	std::copy_n(config->offsets.begin(), n, offsets);
	return n;
}

/* request config */

struct gpiod_request_config *gpiod_request_config_new(void)
{
	return new gpiod_request_config;
}

void gpiod_request_config_free(struct gpiod_request_config *config)
{
	delete config;
}

void gpiod_request_config_set_consumer(struct gpiod_request_config *config, const char *consumer)
{
	// The kernel keeps at most 31 characters of the label.
	config->consumer = consumer != nullptr ? std::string(consumer).substr(0, max_consumer) : "";
}

const char *gpiod_request_config_get_consumer(struct gpiod_request_config *config)
{
	return config->consumer.empty() ? nullptr : config->consumer.c_str();
}

void gpiod_request_config_set_event_buffer_size(struct gpiod_request_config *config,
						size_t event_buffer_size)
{
	config->event_buffer_size = event_buffer_size;
}

size_t gpiod_request_config_get_event_buffer_size(struct gpiod_request_config *config)
{
	return config->event_buffer_size;
}

/* requests */

struct gpiod_line_request *gpiod_chip_request_lines(struct gpiod_chip *chip,
						    struct gpiod_request_config *req_cfg,
						    struct gpiod_line_config *line_cfg)
{
	if (chip == nullptr || line_cfg == nullptr || line_cfg->offsets.empty()) {
		errno = EINVAL;
		return nullptr;
	}
	std::string msg = "request " + hex_of(req_cfg != nullptr ? req_cfg->consumer : "") + " " +
			  std::to_string(req_cfg != nullptr ? req_cfg->event_buffer_size : 0) + " " +
			  std::to_string(line_cfg->offsets.size());
	for (size_t i = 0; i < line_cfg->offsets.size(); i++) {
		const gpiod_line_settings &s = line_cfg->settings[i];
		char b[128];
		std::snprintf(b, sizeof b, " %u,%d,%d,%d,%d,%d,%lu,%d", line_cfg->offsets[i],
			      static_cast<int>(s.direction), static_cast<int>(s.edge),
			      static_cast<int>(s.bias), static_cast<int>(s.drive),
			      s.active_low ? 1 : 0, s.debounce_us, static_cast<int>(s.output_value));
		msg += b;
	}
	int cmd = sim_connect(chip->path.c_str());
	if (cmd < 0)
		return nullptr;
	std::string id;
	if (sim_call_text(cmd, msg, &id) < 0) {
		int e = errno;
		close(cmd);
		errno = e;
		return nullptr;
	}
	int ev = sim_connect(chip->path.c_str());
	if (ev < 0 || sim_call_text(ev, "attach " + id, nullptr) < 0) {
		int e = errno;
		if (ev >= 0)
			close(ev);
		close(cmd);
		errno = e;
		return nullptr;
	}
	return new gpiod_line_request{cmd, ev, chip->name, line_cfg->offsets};
}

void gpiod_line_request_release(struct gpiod_line_request *request)
{
	if (request == nullptr)
		return;
	// Wait for the board to free the lines, so that the release is done
	// when this returns, as with the kernel.
	sim_call_text(request->cmd_fd, "release", nullptr);
	close(request->ev_fd);
	close(request->cmd_fd);
	delete request;
}

const char *gpiod_line_request_get_chip_name(struct gpiod_line_request *request)
{
	return request->chip_name.c_str();
}

size_t gpiod_line_request_get_num_requested_lines(struct gpiod_line_request *request)
{
	return request->offsets.size();
}

size_t gpiod_line_request_get_requested_offsets(struct gpiod_line_request *request,
						unsigned int *offsets, size_t max_offsets)
{
	size_t n = std::min(max_offsets, request->offsets.size());
	std::copy_n(request->offsets.begin(), n, offsets);
	return n;
}

enum gpiod_line_value gpiod_line_request_get_value(struct gpiod_line_request *request,
						   unsigned int offset)
{
	if (request == nullptr || !has_offset(request, offset)) {
		errno = EINVAL;
		return GPIOD_LINE_VALUE_ERROR;
	}
	std::string rest;
	if (sim_call_text(request->cmd_fd, "get " + std::to_string(offset), &rest) < 0)
		return GPIOD_LINE_VALUE_ERROR;
	return rest == "1" ? GPIOD_LINE_VALUE_ACTIVE : GPIOD_LINE_VALUE_INACTIVE;
}

int gpiod_line_request_get_values_subset(struct gpiod_line_request *request, size_t num_values,
					 const unsigned int *offsets, enum gpiod_line_value *values)
{
	for (size_t i = 0; i < num_values; i++) {
		values[i] = gpiod_line_request_get_value(request, offsets[i]);
		if (values[i] == GPIOD_LINE_VALUE_ERROR)
			return -1;
	}
	return 0;
}

int gpiod_line_request_get_values(struct gpiod_line_request *request, enum gpiod_line_value *values)
{
	return gpiod_line_request_get_values_subset(request, request->offsets.size(),
						    request->offsets.data(), values);
}

int gpiod_line_request_set_value(struct gpiod_line_request *request, unsigned int offset,
				 enum gpiod_line_value value)
{
	if (request == nullptr || !has_offset(request, offset) ||
	    (value != GPIOD_LINE_VALUE_ACTIVE && value != GPIOD_LINE_VALUE_INACTIVE)) {
		errno = EINVAL;
		return -1;
	}
	return sim_call_text(request->cmd_fd,
			     "set " + std::to_string(offset) + " " + std::to_string(static_cast<int>(value)),
			     nullptr);
}

int gpiod_line_request_set_values_subset(struct gpiod_line_request *request, size_t num_values,
					 const unsigned int *offsets,
					 const enum gpiod_line_value *values)
{
	for (size_t i = 0; i < num_values; i++)
		if (gpiod_line_request_set_value(request, offsets[i], values[i]) < 0)
			return -1;
	return 0;
}

int gpiod_line_request_set_values(struct gpiod_line_request *request,
				  const enum gpiod_line_value *values)
{
	return gpiod_line_request_set_values_subset(request, request->offsets.size(),
						    request->offsets.data(), values);
}

int gpiod_line_request_get_fd(struct gpiod_line_request *request)
{
	return request->ev_fd;
}

int gpiod_line_request_wait_edge_events(struct gpiod_line_request *request, int64_t timeout_ns)
{
	int ms;
	if (timeout_ns < 0)
		ms = -1;
	else if (timeout_ns / 1000000 >= INT32_MAX)
		ms = INT32_MAX;
	else
		ms = static_cast<int>((timeout_ns + 999999) / 1000000);
	pollfd p{request->ev_fd, POLLIN, 0};
	int r = poll(&p, 1, ms);
	if (r < 0)
		return -1;
	return r > 0 ? 1 : 0;
}

int gpiod_line_request_read_edge_events(struct gpiod_line_request *request,
					struct gpiod_edge_event_buffer *buffer, size_t max_events)
{
	if (max_events > buffer->capacity)
		max_events = buffer->capacity;
	buffer->num_events = 0;
	char msg[128];
	while (buffer->num_events < max_events) {
		// The first read blocks unless the descriptor is non-blocking,
		// like a read() of the kernel's request file; the rest only
		// take what is already queued.
		bool first = buffer->num_events == 0;
		ssize_t n = recv(request->ev_fd, msg, sizeof msg - 1, first ? 0 : MSG_DONTWAIT);
		if (n < 0 && errno == EINTR && first)
			continue;
		if (n <= 0) {
			if (!first)
				break;
			if (n == 0)
				errno = EIO;
			return -1;
		}
		msg[n] = '\0';
		if (!parse_event(msg, &buffer->events[buffer->num_events])) {
			errno = EIO;
			return -1;
		}
		buffer->num_events++;
	}
	return static_cast<int>(buffer->num_events);
}

/* edge events */

struct gpiod_edge_event_buffer *gpiod_edge_event_buffer_new(size_t capacity)
{
	if (capacity == 0)
		capacity = 64;
	if (capacity > 1024)
		capacity = 1024;
	return new gpiod_edge_event_buffer{capacity, 0, std::vector<gpiod_edge_event>(capacity)};
}

size_t gpiod_edge_event_buffer_get_capacity(struct gpiod_edge_event_buffer *buffer)
{
	return buffer->capacity;
}

void gpiod_edge_event_buffer_free(struct gpiod_edge_event_buffer *buffer)
{
	delete buffer;
}

struct gpiod_edge_event *gpiod_edge_event_buffer_get_event(struct gpiod_edge_event_buffer *buffer,
							   unsigned long index)
{
	if (index >= buffer->num_events) {
		errno = EINVAL;
		return nullptr;
	}
	return &buffer->events[index];
}

size_t gpiod_edge_event_buffer_get_num_events(struct gpiod_edge_event_buffer *buffer)
{
	return buffer->num_events;
}

void gpiod_edge_event_free(struct gpiod_edge_event *event)
{
	delete event;
}

struct gpiod_edge_event *gpiod_edge_event_copy(struct gpiod_edge_event *event)
{
	return new gpiod_edge_event(*event);
}

enum gpiod_edge_event_type gpiod_edge_event_get_event_type(struct gpiod_edge_event *event)
{
	return event->type;
}

uint64_t gpiod_edge_event_get_timestamp_ns(struct gpiod_edge_event *event)
{
	return event->timestamp_ns;
}

unsigned int gpiod_edge_event_get_line_offset(struct gpiod_edge_event *event)
{
	return event->offset;
}

unsigned long gpiod_edge_event_get_global_seqno(struct gpiod_edge_event *event)
{
	return event->global_seqno;
}

unsigned long gpiod_edge_event_get_line_seqno(struct gpiod_edge_event *event)
{
	return event->line_seqno;
}

}  // extern "C"
