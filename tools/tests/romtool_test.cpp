// romtool's sequence of hardware operations, recorded at the seam: the
// I2C calls of kx_i2c.h and the libgpiod calls are replaced by fakes that
// log every call and can be told to fail. What the simulated board cannot
// show - the write-protect line between two calls of one run - is checked
// here.
#include "romtool.h"

#include "kx_i2c.h"

#include <gpiod.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

struct gpiod_chip {
	int unused;
};
struct gpiod_line_settings {
	gpiod_line_direction direction = GPIOD_LINE_DIRECTION_AS_IS;
	gpiod_line_value value = GPIOD_LINE_VALUE_INACTIVE;
};
struct gpiod_line_config {
	std::vector<unsigned int> offsets;
	gpiod_line_settings settings;
};
struct gpiod_request_config {
	std::string consumer;
};
struct gpiod_line_request {
	unsigned int offset;
};

namespace {

std::vector<std::string> ops;  // every hardware call, in order
int wp_level = -1;            // the line as the fake drives it; -1 not requested
bool fail_chip_open, fail_request, fail_i2c_open;
bool fail_set_address, fail_write, fail_read;
std::vector<unsigned char> eeprom_bytes;  // what a read returns
int live_objects;             // allocated and not yet freed
constexpr int fake_fd = 7;

std::string hex(const void *p, size_t n)
{
	std::string s;
	char b[3];
	for (size_t i = 0; i < n; i++) {
		std::snprintf(b, sizeof b, "%02x", static_cast<const unsigned char *>(p)[i]);
		s += b;
	}
	return s;
}

struct Result {
	int status;
	std::string out;
};

Result run(std::vector<const char *> args)
{
	std::vector<char *> argv;
	for (const char *a : args)
		argv.push_back(const_cast<char *>(a));
	argv.push_back(nullptr);
	testing::internal::CaptureStdout();
	int status = romtool_run(static_cast<int>(args.size()), argv.data());
	return {status, testing::internal::GetCapturedStdout()};
}

class RomtoolSeq : public ::testing::Test {
protected:
	void SetUp() override
	{
		unsetenv("KX_ROOT");  // the fixed paths as on the board
		ops.clear();
		wp_level = -1;
		fail_chip_open = fail_request = fail_i2c_open = false;
		fail_set_address = fail_write = fail_read = false;
		eeprom_bytes.assign(14, 0xFF);
		live_objects = 0;
	}
	void TearDown() override
	{
		EXPECT_EQ(live_objects, 0) << "libgpiod objects not freed";
	}
};

// A run that stops at its arguments: line and bus taken and given back,
// nothing sent.
const std::vector<std::string> untouched = {
	"chip_open /dev/gpiochip0", "request wp_eeprom 28 out=1", "chip_close",
	"i2c_open /dev/i2c-0", "i2c_close 7", "release wp=1"};

} // namespace

// --- the fakes -------------------------------------------------------------

extern "C" {

gpiod_chip *gpiod_chip_open(const char *path)
{
	ops.push_back(std::string("chip_open ") + path);
	if (fail_chip_open) {
		errno = ENOENT;
		return nullptr;
	}
	live_objects++;
	return new gpiod_chip{};
}

void gpiod_chip_close(gpiod_chip *chip)
{
	ops.push_back("chip_close");
	live_objects--;
	delete chip;
}

gpiod_line_settings *gpiod_line_settings_new(void)
{
	live_objects++;
	return new gpiod_line_settings{};
}

void gpiod_line_settings_free(gpiod_line_settings *s)
{
	live_objects--;
	delete s;
}

int gpiod_line_settings_set_direction(gpiod_line_settings *s, gpiod_line_direction d)
{
	s->direction = d;
	return 0;
}

int gpiod_line_settings_set_output_value(gpiod_line_settings *s, gpiod_line_value v)
{
	s->value = v;
	return 0;
}

gpiod_line_config *gpiod_line_config_new(void)
{
	live_objects++;
	return new gpiod_line_config{};
}

void gpiod_line_config_free(gpiod_line_config *c)
{
	live_objects--;
	delete c;
}

int gpiod_line_config_add_line_settings(gpiod_line_config *c, const unsigned int *offsets,
					size_t n, gpiod_line_settings *s)
{
	c->offsets.assign(offsets, offsets + n);
	c->settings = *s;
	return 0;
}

gpiod_request_config *gpiod_request_config_new(void)
{
	live_objects++;
	return new gpiod_request_config{};
}

void gpiod_request_config_free(gpiod_request_config *c)
{
	live_objects--;
	delete c;
}

void gpiod_request_config_set_consumer(gpiod_request_config *c, const char *consumer)
{
	c->consumer = consumer;
}

gpiod_line_request *gpiod_chip_request_lines(gpiod_chip *, gpiod_request_config *rc,
					     gpiod_line_config *lc)
{
	std::string op = "request " + rc->consumer;
	for (unsigned int o : lc->offsets)
		op += " " + std::to_string(o);
	op += lc->settings.direction == GPIOD_LINE_DIRECTION_OUTPUT ? " out" : " in";
	op += lc->settings.value == GPIOD_LINE_VALUE_ACTIVE ? "=1" : "=0";
	ops.push_back(op);
	if (fail_request) {
		errno = EBUSY;
		return nullptr;
	}
	wp_level = lc->settings.value == GPIOD_LINE_VALUE_ACTIVE ? 1 : 0;
	live_objects++;
	return new gpiod_line_request{lc->offsets.empty() ? 0u : lc->offsets[0]};
}

int gpiod_line_request_set_value(gpiod_line_request *r, unsigned int offset,
				 gpiod_line_value v)
{
	int level = v == GPIOD_LINE_VALUE_ACTIVE ? 1 : 0;
	ops.push_back("wp " + std::to_string(offset) + "=" + std::to_string(level));
	if (offset != r->offset)
		return -1;
	wp_level = level;
	return 0;
}

void gpiod_line_request_release(gpiod_line_request *r)
{
	ops.push_back("release wp=" + std::to_string(wp_level));
	live_objects--;
	delete r;
}

} // extern "C"

int kx_i2c_open(const char *dev_path)
{
	ops.push_back(std::string("i2c_open ") + dev_path);
	if (fail_i2c_open) {
		errno = ENOENT;
		return -1;
	}
	return fake_fd;
}

int kx_i2c_set_address(int fd, int addr)
{
	char b[32];
	std::snprintf(b, sizeof b, "addr 0x%02x", addr);
	ops.push_back(b);
	if (fd != fake_fd || fail_set_address) {
		errno = EBADF;
		return -1;
	}
	return 0;
}

ssize_t kx_i2c_write(int fd, const void *buf, size_t len)
{
	ops.push_back("write " + hex(buf, len) + " wp=" + std::to_string(wp_level));
	if (fd != fake_fd || fail_write) {
		errno = EREMOTEIO;
		return -1;
	}
	return static_cast<ssize_t>(len);
}

ssize_t kx_i2c_read(int fd, void *buf, size_t len)
{
	ops.push_back("read " + std::to_string(len));
	if (fd != fake_fd || fail_read) {
		errno = EREMOTEIO;
		return -1;
	}
	std::memcpy(buf, eeprom_bytes.data(), len);
	return static_cast<ssize_t>(len);
}

void kx_i2c_close(int fd)
{
	ops.push_back("i2c_close " + std::to_string(fd));
}

// --- start-up --------------------------------------------------------------

TEST_F(RomtoolSeq, TakesProtectedLineAndBusBeforeLookingAtArguments)
{
	Result r = run({"romtool"});
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(r.out, "Missing arguments, exiting\nromtool 0xaddr -rw -fam data_string\n");
	EXPECT_EQ(ops, untouched);
}

TEST_F(RomtoolSeq, LineRequestFailureReportedAndReadStillWorks)
{
	fail_request = true;
	eeprom_bytes = {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f};
	Result r = run({"romtool", "0x200", "-r", "-fm"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "Failed requesting line wp_eeprom val=0\n0A:1B:2C:3D:4E:5F");
}

TEST_F(RomtoolSeq, ChipOpenFailureReported)
{
	fail_chip_open = true;
	Result r = run({"romtool", "0x200", "-r", "-fm"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "Failed requesting line wp_eeprom val=0\n00:11:22:33:44:55");
}

// --- writing -----------------------------------------------------------------

TEST_F(RomtoolSeq, WriteLiftsProtectionOnlyAroundTheTransfer)
{
	Result r = run({"romtool", "0x3f0", "-w", "-fm", "0a:1b:2c:3d:4e:5f"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "");
	std::vector<std::string> want = {
		"chip_open /dev/gpiochip0", "request wp_eeprom 28 out=1", "chip_close",
		"i2c_open /dev/i2c-0", "wp 28=0", "addr 0x53", "write f00a1b2c3d4e5f wp=0",
		"wp 28=1", "i2c_close 7", "release wp=1"};
	EXPECT_EQ(ops, want);
}

TEST_F(RomtoolSeq, SerialWrittenWithItsNulInOneTransfer)
{
	Result r = run({"romtool", "0x10", "-w", "-fa", "ABC1234567890"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(ops[5], "addr 0x50");
	EXPECT_EQ(ops[6], "write 10" + hex("ABC1234567890", 14) + " wp=0");
}

TEST_F(RomtoolSeq, FailedWriteLeavesProtectionOn)
{
	const char *mac[] = {"romtool", "0x200", "-w", "-fm", "0a:1b:2c:3d:4e:5f"};
	const char *serial[] = {"romtool", "0x200", "-w", "-fa", "ABC1234567890"};
	struct {
		bool *fail;
		const char **args;
		const char *out;
		std::vector<std::string> tail;
	} cases[] = {
	    {&fail_write, mac, "I2C write failed",
	     {"addr 0x52", "write 000a1b2c3d4e5f wp=0", "wp 28=1", "i2c_close 7", "release wp=1"}},
	    {&fail_set_address, serial, "Failed to set I2C device",
	     {"addr 0x52", "wp 28=1", "i2c_close 7", "release wp=1"}},
	    {&fail_i2c_open, mac, "Error opening: /dev/i2c-0\nFailed to set I2C device",
	     {"wp 28=1", "release wp=1"}},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.out);
		SetUp();  // fresh flags and log; TearDown's leak check covers every run
		*c.fail = true;
		Result r = run({c.args, c.args + 5});
		EXPECT_EQ(live_objects, 0) << "libgpiod objects not freed";
		EXPECT_EQ(r.status, 255);
		EXPECT_EQ(r.out, c.out);
		ASSERT_GE(ops.size(), c.tail.size());
		EXPECT_EQ(std::vector<std::string>(ops.end() - c.tail.size(), ops.end()), c.tail);
	}
}

TEST_F(RomtoolSeq, WriteWithoutLineRequestIsRefused)
{
	fail_request = true;
	Result r = run({"romtool", "0x200", "-w", "-fm", "0a:1b:2c:3d:4e:5f"});
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(r.out, "Failed requesting line wp_eeprom val=0\n"
			 "Write protection line wp_eeprom not obtained, write refused, exiting\n");
	for (const std::string &op : ops) {
		EXPECT_NE(op.rfind("write", 0), 0u) << op;
		EXPECT_NE(op.rfind("addr", 0), 0u) << op;
	}
}

TEST_F(RomtoolSeq, ArgumentErrorsTouchNothing)
{
	for (auto args : {std::vector<const char *>{"romtool", "0x200", "-w", "-fm"},
			  std::vector<const char *>{"romtool", "0x200", "-w", "-fm", "0a:1b:2c:3d:4e"},
			  std::vector<const char *>{"romtool", "0x200", "-w", "-fa", "ABC123456789"},
			  std::vector<const char *>{"romtool", "0x701", "-w", "-fa", "ABC1234567890"},
			  std::vector<const char *>{"romtool", "zz", "-w", "-fa", "ABC1234567890"},
			  std::vector<const char *>{"romtool", "0x200", "-w", "-fx", "ABC1234567890"},
			  std::vector<const char *>{"romtool", "0x200", "-w"}}) {
		ops.clear();
		Result r = run(args);
		EXPECT_EQ(r.status, 255) << args[1];
		EXPECT_EQ(ops, untouched) << r.out;
	}
}

// --- reading -----------------------------------------------------------------

TEST_F(RomtoolSeq, ReadSelectsBlockThenWordAddressThenReads)
{
	eeprom_bytes = {'X', 'Y', 'Z', '0', '0', '0', '0', '0', '0', '0', '0', '0', '1', 0};
	Result r = run({"romtool", "0x3f0", "-r", "-fa"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "XYZ0000000001");
	std::vector<std::string> want = {
		"chip_open /dev/gpiochip0", "request wp_eeprom 28 out=1", "chip_close",
		"i2c_open /dev/i2c-0", "addr 0x53", "write f0 wp=1", "read 14",
		"i2c_close 7", "release wp=1"};
	EXPECT_EQ(ops, want);
}

TEST_F(RomtoolSeq, ReadFailuresPrintOnlyTheirMessage)
{
	fail_read = true;
	Result r = run({"romtool", "0x200", "-r", "-fm"});
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(r.out, "I2C read failed");

	fail_read = false;
	fail_write = true;
	r = run({"romtool", "0x200", "-r", "-fm"});
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(r.out, "I2C address write failed");

	fail_write = false;
	fail_set_address = true;
	r = run({"romtool", "0x200", "-r", "-fa"});
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(r.out, "Failed to set I2C device");
}

// (Serial texts as stored are checked against the simulated EEPROM.)
TEST_F(RomtoolSeq, PartlyBlankMacIsPrintedAsStored)
{
	eeprom_bytes = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE};
	Result r = run({"romtool", "0x200", "-r", "-fm"});
	EXPECT_EQ(r.out, "FF:FF:FF:FF:FF:FE");
}
