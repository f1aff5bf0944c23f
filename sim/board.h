// What a device model of the simulated board sees.
//
// A model is one file in sim/devices/ that implements SimI2cDevice and
// registers itself with one KX_SIM_DEVICE line; simboard builds every model
// at start and routes the transfers of its bus and addresses to it, and the
// control commands that start with its name (or "dev BUS ADDR ...").
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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
