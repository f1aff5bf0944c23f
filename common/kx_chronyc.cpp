#include "kx_chronyc.h"

#include "kx_path.h"
#include "kx_run.h"

int kx_chronyc(const std::vector<std::string> &command, std::string *output, int timeout_ms)
{
	std::vector<std::string> argv{"chronyc", "-n", "-c", "-h", kx_path(kChronydSocket)};
	argv.insert(argv.end(), command.begin(), command.end());
	return kx_run(argv, output, timeout_ms);
}
