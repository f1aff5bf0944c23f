// What a device model of the simulated board sees.
//
// A model is one file in testbed/simboard/devices/ that implements SimI2cDevice and
// registers itself with one KX_SIM_DEVICE line; simboard builds every model
// at start and routes the transfers of its bus and addresses to it, and the
// control commands that start with its name (or "dev BUS ADDR ...").
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <poll.h>
#include <string>
#include <vector>

struct SimI2cDevice {
	virtual ~SimI2cDevice() = default;

	// One write transfer to addr (one of the model's addresses). 0 when
	// the chip acknowledges, else the errno value the bus reports
	// (ENXIO: no acknowledge).
	virtual int on_write(int addr, const uint8_t *data, size_t len) = 0;

	// One read transfer of len bytes into out; 0 or an errno value.
	virtual int on_read(int addr, uint8_t *out, size_t len) = 0;

	// A control command for the model, the words after its name. Returns
	// the reply line without line end, starting "ok" or "err".
	virtual std::string on_control(const std::vector<std::string> &words) = 0;
};

struct SimDeviceType {
	const char *name;   // first word of the model's control commands
	int bus;            // I2C bus number, 0 or 1
	int first_addr;     // 7-bit address range the chip answers on
	int last_addr;
	std::unique_ptr<SimI2cDevice> (*make)();
};

// Adds a model to the board's catalogue (called at static initialisation).
bool sim_register_device(const SimDeviceType &type);
const std::vector<SimDeviceType> &sim_device_types();

#define KX_SIM_DEVICE(tag, name, bus, first, last, factory) \
	static const bool kx_sim_registered_##tag = \
		sim_register_device(SimDeviceType{name, bus, first, last, factory})

// A model that is not on an I2C bus (the GPS receiver on its serial line):
// it owns sockets and timers of its own and runs from the board's poll loop,
// one call at a time like everything else in simboard. Registered with
// KX_SIM_IO_MODEL; control commands starting with its name go to it.
struct SimIoModel {
	virtual ~SimIoModel() = default;

	// Creates its sockets (the board's dev/ and run/ exist); 0 or -1.
	virtual int start() = 0;
	// Closes and removes them (the board is stopping).
	virtual void stop() = 0;

	// Appends the descriptors it waits on, then gets the same entries back
	// with their revents after the poll.
	virtual void add_pollfds(std::vector<pollfd> &pfds) = 0;
	virtual void polled(const pollfd *pfds, size_t count) = 0;

	// Its earliest timer (CLOCK_MONOTONIC ns, -1 for none) and the timers'
	// run once that time has come (called after every poll).
	virtual int64_t next_deadline() = 0;
	virtual void run_timers(int64_t now) = 0;

	virtual std::string on_control(const std::vector<std::string> &words) = 0;
};

struct SimIoModelType {
	const char *name;
	std::unique_ptr<SimIoModel> (*make)();
};

bool sim_register_io_model(const SimIoModelType &type);
const std::vector<SimIoModelType> &sim_io_model_types();

#define KX_SIM_IO_MODEL(tag, name, factory) \
	static const bool kx_sim_io_registered_##tag = \
		sim_register_io_model(SimIoModelType{name, factory})

// CLOCK_MONOTONIC in ns, the clock of every deadline and time stamp.
int64_t sim_now_ns();

// GPIO chip 0 as the models see it (pins wired between a chip and the SoC).
// The physical level of a line: what its request drives, else what the
// outside drives, else its bias.
int sim_gpio_level(int offset);
// Drives an input line from outside: 0 or 1, or -1 to let it float again.
void sim_gpio_drive(int offset, int level);

// Helpers for models' control commands.
long sim_parse_number(const std::string &word, bool *ok);  // decimal or 0x hex
std::string sim_hex(const uint8_t *data, size_t len);
std::string sim_escape(const std::string &text);  // printable, \\ and \xHH
