// romtool: reads and writes the board's identity EEPROM.
//
// The EEPROM (a 24C16-class part, 2 KiB) sits on I2C bus 0 and answers on
// eight device addresses, 0x50 to 0x57, one per 256-byte block: bits 8..10
// of a memory address pick the device address, bits 0..7 are the word
// address sent as the first byte of each transfer. It holds the Ethernet
// MAC addresses (6 bytes each) and the unit's 13-character serial number
// (14 bytes with its NUL).
//
// GPIO line 28 of chip 0 drives the chip's write-protect pin. The tool holds
// it high (protected) from start to end and lowers it only around a write.
//
//   romtool ADDRESS MODE FORMAT [DATA]
//   romtool 0x200 -r -fm              prints the MAC at 0x200
//   romtool 0x200 -w -fm 0a:1b:2c:3d:4e:5f
//   romtool 0x000 -w -fa ABC1234567890
#include "romtool.h"

#include "kx_i2c.h"
#include "kx_path.h"
#include "kx_text.h"

#include <gpiod.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

constexpr unsigned int wp_line = 28;
constexpr const char *wp_consumer = "wp_eeprom";
constexpr unsigned int max_address = 0x0700;
constexpr int eeprom_base = 0x50;
constexpr size_t serial_len = 13;
constexpr size_t serial_record = 14;  // the text and its NUL
constexpr size_t mac_record = 6;
constexpr int exit_failure = 255;

// The write-protect line request, null when it could not be obtained.
gpiod_line_request *wp_request;
// The I2C bus, -1 when it could not be opened.
int i2c_fd = -1;

void request_wp_line()
{
	std::string path = kx_path("/dev/gpiochip0");
	gpiod_chip *chip = gpiod_chip_open(path.c_str());
	gpiod_line_settings *settings = nullptr;
	gpiod_line_config *line_cfg = nullptr;
	gpiod_request_config *req_cfg = nullptr;
	bool ok = chip != nullptr;
	if (ok) {
		settings = gpiod_line_settings_new();
		line_cfg = gpiod_line_config_new();
		req_cfg = gpiod_request_config_new();
		ok = settings != nullptr && line_cfg != nullptr && req_cfg != nullptr;
	}
	if (ok)
		ok = gpiod_line_settings_set_direction(settings, GPIOD_LINE_DIRECTION_OUTPUT) == 0 &&
		     gpiod_line_settings_set_output_value(settings, GPIOD_LINE_VALUE_ACTIVE) == 0;
	if (ok)
		ok = gpiod_line_config_add_line_settings(line_cfg, &wp_line, 1, settings) == 0;
	if (ok) {
		gpiod_request_config_set_consumer(req_cfg, wp_consumer);
		wp_request = gpiod_chip_request_lines(chip, req_cfg, line_cfg);
		ok = wp_request != nullptr;
	}
	if (!ok)
		std::printf("Failed requesting line %s val=%d\n", wp_consumer, 0);
	if (req_cfg != nullptr)
		gpiod_request_config_free(req_cfg);
	if (line_cfg != nullptr)
		gpiod_line_config_free(line_cfg);
	if (settings != nullptr)
		gpiod_line_settings_free(settings);
	if (chip != nullptr)
		gpiod_chip_close(chip);
}

void open_i2c()
{
	std::string path = kx_path("/dev/i2c-0");
	i2c_fd = kx_i2c_open(path.c_str());
	if (i2c_fd < 0)
		std::printf("Error opening: %s\n", path.c_str());
}

int usage()
{
	std::printf("Missing arguments, exiting\nromtool 0xaddr -rw -fam data_string\n");
	return exit_failure;
}

// ADDRESS: hexadecimal digits with or without a 0x prefix, nothing else.
// Values beyond 16 bits are not cut down, so the range check sees them.
bool parse_address(const char *text, unsigned long *addr)
{
	const char *p = text;
	if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
		p += 2;
	if (*p == '\0')
		return false;
	unsigned long v = 0;
	for (; *p != '\0'; p++) {
		int d = kx_hex_digit(*p);
		if (d < 0)
			return false;
		if (v <= max_address)
			v = v * 16 + static_cast<unsigned long>(d);
	}
	*addr = v;
	return true;
}

// A MAC text: six numbers of one or two hexadecimal digits separated by ':'
// and nothing after the sixth.
bool parse_mac(const char *text, unsigned char mac[mac_record])
{
	const char *p = text;
	for (size_t i = 0; i < mac_record; i++) {
		if (i > 0 && *p++ != ':')
			return false;
		int hi = kx_hex_digit(p[0]);
		if (hi < 0)
			return false;
		int lo = kx_hex_digit(p[1]);
		if (lo < 0) {
			mac[i] = static_cast<unsigned char>(hi);
			p += 1;
		} else {
			mac[i] = static_cast<unsigned char>(hi * 16 + lo);
			p += 2;
		}
	}
	return *p == '\0';
}

int device_address(unsigned long addr)
{
	return eeprom_base + static_cast<int>((addr >> 8) & 7);
}

// A transfer failure: its message (no line end) and the tool's failure.
int transfer_failed(const char *msg)
{
	std::printf("%s", msg);
	return exit_failure;
}

int read_record(unsigned long addr, unsigned char *buf, size_t n)
{
	if (kx_i2c_set_address(i2c_fd, device_address(addr)) < 0)
		return transfer_failed("Failed to set I2C device");
	unsigned char word = static_cast<unsigned char>(addr & 0xFF);
	if (kx_i2c_write(i2c_fd, &word, 1) != 1)
		return transfer_failed("I2C address write failed");
	if (kx_i2c_read(i2c_fd, buf, n) != static_cast<ssize_t>(n))
		return transfer_failed("I2C read failed");
	return 0;
}

void print_mac(unsigned long addr, const unsigned char mac[mac_record])
{
	bool blank = true;
	for (size_t i = 0; i < mac_record; i++)
		blank = blank && mac[i] == 0xFF;
	if (blank) {
		// An unprogrammed board still shows a usable-looking address.
		std::printf("%s", addr == 0x200 ? "00:11:22:33:44:55" : "00:11:22:33:44:66");
		return;
	}
	std::printf("%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4],
		    mac[5]);
}

void print_serial(const unsigned char buf[serial_record])
{
	if (buf[0] == 0xFF && buf[1] == 0xFF) {
		std::printf("Unassigned");
		return;
	}
	size_t len = strnlen(reinterpret_cast<const char *>(buf), serial_record);
	std::fwrite(buf, 1, len, stdout);
}

bool set_wp(int value)
{
	return gpiod_line_request_set_value(wp_request, wp_line,
					    value ? GPIOD_LINE_VALUE_ACTIVE
						  : GPIOD_LINE_VALUE_INACTIVE) == 0;
}

void wait_write_cycle()
{
	struct timespec ts = {0, 5 * 1000 * 1000};
	while (nanosleep(&ts, &ts) < 0) {
	}
}

// One write transaction: the word address byte and the record. The caller
// keeps the record inside one 16-byte page of the chip.
int write_record(unsigned long addr, const unsigned char *record, size_t n)
{
	if (wp_request == nullptr) {
		std::printf("Write protection line %s not obtained, write refused, exiting\n",
			    wp_consumer);
		return exit_failure;
	}
	unsigned char msg[1 + serial_record];
	msg[0] = static_cast<unsigned char>(addr & 0xFF);
	std::memcpy(&msg[1], record, n);

	const char *failure = nullptr;
	if (!set_wp(0))
		failure = "Failed to lift write protection";
	else if (kx_i2c_set_address(i2c_fd, device_address(addr)) < 0)
		failure = "Failed to set I2C device";
	else if (kx_i2c_write(i2c_fd, msg, 1 + n) != static_cast<ssize_t>(1 + n))
		failure = "I2C write failed";
	else
		wait_write_cycle();

	// Protection goes back on whatever happened above.
	bool restored = set_wp(1);
	if (failure != nullptr)
		return transfer_failed(failure);
	if (!restored)
		return transfer_failed("Failed to restore write protection");
	return 0;
}

int run(int argc, char **argv)
{
	// ADDRESS, MODE and FORMAT are all needed; DATA only for a write.
	if (argc < 4)
		return usage();

	unsigned long addr = 0;
	if (!parse_address(argv[1], &addr)) {
		std::printf("address value must be a hexadecimal number, \"%s\" entered, exiting\n",
			    argv[1]);
		return exit_failure;
	}
	if (addr > max_address) {
		std::printf("address value out of range, must be between 0x0000 and 0x0700, exiting\n");
		return exit_failure;
	}

	const char *format = argv[3];
	bool ascii = std::strcmp(format, "-fa") == 0;
	if (!ascii && std::strcmp(format, "-fm") != 0) {
		std::printf("Data format specifier invalid, must be -fa(scii) or -fm(ac), exiting\n");
		return exit_failure;
	}
	bool writing = std::strcmp(argv[2], "-w") == 0;

	if (!writing) {
		unsigned char buf[serial_record];
		size_t n = ascii ? serial_record : mac_record;
		int rc = read_record(addr, buf, n);
		if (rc != 0)
			return rc;
		if (ascii)
			print_serial(buf);
		else
			print_mac(addr, buf);
		return 0;
	}

	if (argc < 5)
		return usage();
	const char *data = argv[4];
	unsigned char record[serial_record];
	size_t n;
	if (ascii) {
		if (std::strlen(data) != serial_len) {
			std::printf("ASCII buffer length for serial number must be 13 characters, "
				    "\"%s\" entered, exiting\n",
				    data);
			return exit_failure;
		}
		std::memcpy(record, data, serial_len);
		record[serial_len] = '\0';
		n = serial_record;
	} else {
		if (!parse_mac(data, record)) {
			std::printf("MAC address must be six hexadecimal numbers separated by "
				    "\":\", \"%s\" entered, exiting\n",
				    data);
			return exit_failure;
		}
		n = mac_record;
	}
	return write_record(addr, record, n);
}

} // namespace

int romtool_run(int argc, char **argv)
{
	request_wp_line();
	open_i2c();
	int status = run(argc, argv);
	if (i2c_fd >= 0)
		kx_i2c_close(i2c_fd);
	i2c_fd = -1;
	if (wp_request != nullptr)
		gpiod_line_request_release(wp_request);
	wp_request = nullptr;
	return status;
}
