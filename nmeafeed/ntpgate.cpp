// ntpgate: chronyd gives up the appliance's time the moment the appliance
// stops vouching for it.
//
// nmeafeed, the one writer of the NTP segment, marks every sample leap 3
// (not synchronised) while the kx-pps module says the time is not known
// (ntp_leap.h). chronyd drops such samples, but it would go on answering
// its clients at stratum 1 from what it already holds, for as long as its own
// error bound allows: hours. While the latest sample says leap 3 and chronyd
// still reports itself synchronised, ntpgate runs `chronyc reset sources`:
// chronyd drops its measurements and answers "not synchronised" (leap 3)
// until samples with leap 0 come back, when it takes the pulse again on its
// own. ntpgate decides nothing itself: it reads the segment and checks once
// a second. Runs until killed.
#include <sys/ipc.h>
#include <sys/shm.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "kx_path.h"
#include "ntp_leap.h"
#include "ntp_shm.h"

namespace {

// The segment, attached read-only once nmeafeed (or chronyd) has made it.
const volatile shm_time *attach_segment()
{
	int id = shmget(kNtpShmKey, sizeof(shm_time), 0);
	if (id == -1)
		return nullptr;
	void *p = shmat(id, nullptr, SHM_RDONLY);
	if (p == reinterpret_cast<void *>(-1))
		return nullptr;
	return static_cast<const volatile shm_time *>(p);
}

// The latest sample says the time is not known.
bool sample_not_known(const volatile shm_time *seg)
{
	return __atomic_load_n(&seg->valid, __ATOMIC_ACQUIRE) == 1 &&
	       __atomic_load_n(&seg->leap, __ATOMIC_RELAXED) == kLeapNotSynchronised;
}

// chronyd answers and calls itself synchronised: the last field of
// `chronyc -c tracking` is its leap status, "Not synchronised" when it is not.
// No answer (chronyd not running) counts as not synchronised.
bool chronyd_synchronised()
{
	FILE *p = popen("chronyc -n -c tracking 2>/dev/null", "r");
	if (p == nullptr)
		return false;
	char line[512] = "";
	bool got = fgets(line, sizeof line, p) != nullptr;
	pclose(p);
	if (!got)
		return false;
	line[strcspn(line, "\r\n")] = '\0';
	const char *leap = strrchr(line, ',');
	return leap != nullptr && leap[1] != '\0' && strcmp(leap + 1, "Not synchronised") != 0;
}

} // namespace

int main()
{
	kx_unbuffered_output();
	const volatile shm_time *seg = nullptr;
	for (;;) {
		if (seg == nullptr)
			seg = attach_segment();
		if (seg != nullptr && sample_not_known(seg) && chronyd_synchronised()) {
			int rc = system("chronyc -n reset sources >/dev/null 2>&1");
			printf("time not known: chronyd's measurements dropped (chronyc %s)\n",
			       rc == 0 ? "ok" : "failed");
		}
		sleep(1);
	}
}
