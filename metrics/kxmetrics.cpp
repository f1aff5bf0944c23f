// kxmetrics: the appliance's state for the site's Prometheus, as one file
// for node-exporter's textfile collector.
//
//   kxmetrics [-d DIRECTORY] [-i SECONDS]
//
// Each run reads the kx_pps module's attributes and LinuxPPS source, the
// daemons' status files, chronyd's tracking report, the expiry of its
// NTS certificate and what each port's PTP grandmaster announces (pmc),
// and replaces
// DIRECTORY/kx.prom in one step (temporary file in the same directory,
// renamed over the old one), so node-exporter never reads half a file.
// DIRECTORY defaults to Debian's textfile directory,
// /var/lib/prometheus/node-exporter (under $KX_ROOT when that is set).
// Without -i it runs once (the systemd timer starts it every 10 s); with -i
// it repeats every SECONDS seconds until it is killed (the SysV init
// script's way). Messages go to standard error.
#include "chrony_metrics.h"
#include "kernel_metrics.h"
#include "kx_file.h"
#include "kx_path.h"
#include "nts_metrics.h"
#include "prom_text.h"
#include "ptp_metrics.h"
#include "rundata_metrics.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

constexpr const char *DEFAULT_DIRECTORY = "/var/lib/prometheus/node-exporter";
constexpr const char *FILE_NAME = "kx.prom";

struct options {
	std::string directory;
	long interval = 0;	// seconds; 0 = once
};

void usage()
{
	std::fprintf(stderr, "usage: kxmetrics [-d DIRECTORY] [-i SECONDS]\n");
}

bool parse_options(int argc, char **argv, options &opt)
{
	opt.directory = kx_path(DEFAULT_DIRECTORY);
	int c;
	while ((c = getopt(argc, argv, "d:i:")) != -1) {
		switch (c) {
		case 'd':
			opt.directory = optarg;
			break;
		case 'i': {
			char *end = nullptr;
			errno = 0;
			opt.interval = std::strtol(optarg, &end, 10);
			if (errno != 0 || end == optarg || *end != '\0' || opt.interval < 1 ||
			    opt.interval > 86400) {
				std::fprintf(stderr, "kxmetrics: -i takes 1 to 86400 seconds\n");
				return false;
			}
			break;
		}
		default:
			usage();
			return false;
		}
	}
	if (optind != argc) {
		usage();
		return false;
	}
	return true;
}

// 0 when the file was replaced; a failure is reported once until it clears
// (a repeating run would otherwise report it every interval).
int write_metrics(const std::string &path, bool &failing)
{
	prom_text text;
	collect_kernel_metrics(text);
	collect_rundata_metrics(text);
	collect_chrony_metrics(text);
	collect_ptp_metrics(text);
	collect_nts_metrics(text);
	std::string body = prom_render(text);
	if (kx_replace_file(path.c_str(), body.data(), body.size()) != 0) {
		if (!failing)
			std::fprintf(stderr, "kxmetrics: cannot write %s: %s\n", path.c_str(),
				     std::strerror(errno));
		failing = true;
		return -1;
	}
	failing = false;
	return 0;
}

} // namespace

int main(int argc, char **argv)
{
	options opt;
	if (!parse_options(argc, argv, opt))
		return 2;
	std::string path = opt.directory + "/" + FILE_NAME;
	bool failing = false;
	if (opt.interval == 0)
		return write_metrics(path, failing) == 0 ? 0 : 1;

	// Runs on a fixed monotonic grid, so the interval does not drift by the
	// time each run takes (chronyc, above all).
	timespec next;
	clock_gettime(CLOCK_MONOTONIC, &next);
	for (;;) {
		write_metrics(path, failing);
		next.tv_sec += opt.interval;
		while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
		}
	}
}
