#include "ptppin.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstddef>

// The requests and records are the kernel's PTP user interface; pin them to
// the values and layouts the running kernels expect.
static_assert(PTP_PIN_SETFUNC == 0x40603D07, "PTP_PIN_SETFUNC request code");
static_assert(PTP_EXTTS_REQUEST == 0x40103D02, "PTP_EXTTS_REQUEST request code");
static_assert(sizeof(ptp_pin_desc) == 96, "ptp_pin_desc is 96 bytes");
static_assert(offsetof(ptp_pin_desc, name) == 0 && sizeof(ptp_pin_desc::name) == 64);
static_assert(offsetof(ptp_pin_desc, index) == 64);
static_assert(offsetof(ptp_pin_desc, func) == 68);
static_assert(offsetof(ptp_pin_desc, chan) == 72);
static_assert(offsetof(ptp_pin_desc, rsv) == 76 && sizeof(ptp_pin_desc::rsv) == 20);
static_assert(sizeof(ptp_extts_request) == 16, "ptp_extts_request is 16 bytes");
static_assert(offsetof(ptp_extts_request, index) == 0);
static_assert(offsetof(ptp_extts_request, flags) == 4);
static_assert(offsetof(ptp_extts_request, rsv) == 8 && sizeof(ptp_extts_request::rsv) == 8);
static_assert(PTP_PF_EXTTS == 1);
static_assert((PTP_ENABLE_FEATURE | PTP_RISING_EDGE | PTP_STRICT_FLAGS) == 0xB);

namespace {

void usage(const char *prog)
{
	std::fprintf(stderr, "Usage: %s /dev/ptpX <pin_index> <channel> <enable|disable>\n",
		     prog);
}

// A decimal number; text that is not a number gives 0.
unsigned int decimal_arg(const char *s)
{
	return static_cast<unsigned int>(std::strtol(s, nullptr, 10));
}

} // namespace

ptp_pin_desc ptppin_pin_request(unsigned int index, unsigned int chan)
{
	ptp_pin_desc desc;
	std::memset(&desc, 0, sizeof(desc));
	desc.index = index;
	desc.func = PTP_PF_EXTTS;
	desc.chan = chan;
	return desc;
}

ptp_extts_request ptppin_extts_request(unsigned int chan, bool enable)
{
	ptp_extts_request req;
	std::memset(&req, 0, sizeof(req));
	req.index = chan;
	req.flags = enable ? (PTP_ENABLE_FEATURE | PTP_RISING_EDGE | PTP_STRICT_FLAGS) : 0;
	return req;
}

int ptppin_run(int argc, char **argv)
{
	const char *prog = argc > 0 ? argv[0] : "ptppin";
	if (argc != 5) {
		usage(prog);
		return 1;
	}
	unsigned int pin = decimal_arg(argv[2]);
	unsigned int chan = decimal_arg(argv[3]);
	bool enable;
	if (std::strcmp(argv[4], "enable") == 0) {
		enable = true;
	} else if (std::strcmp(argv[4], "disable") == 0) {
		enable = false;
	} else {
		usage(prog);
		return 1;
	}

	int fd = ptp_open(argv[1]);
	if (fd < 0) {
		std::perror("open");
		return 1;
	}

	// The pin goes to the time-stamp function for "disable" as well; only
	// the time-stamp request differs.
	ptp_pin_desc desc = ptppin_pin_request(pin, chan);
	if (ptp_ioctl(fd, PTP_PIN_SETFUNC, &desc) < 0) {
		std::perror("PTP_PIN_SETFUNC");
		ptp_close(fd);
		return 1;
	}

	ptp_extts_request req = ptppin_extts_request(chan, enable);
	if (ptp_ioctl(fd, PTP_EXTTS_REQUEST, &req) < 0) {
		std::perror("PTP_EXTTS_REQUEST");
		ptp_close(fd);
		return 1;
	}

	ptp_close(fd);
	return 0;
}
