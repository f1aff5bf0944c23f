// The module's judgement of its time, carried in every NTP sample: the
// module keeps time_known (fix present, or lost for less than the holdover
// limit); a site's NTP clients must stop following the appliance once the
// appliance itself no longer trusts its time.
#include "ntp_leap.h"

#include "kx_state.h"

int32_t ntp_sample_leap(const KxModuleState &state)
{
	return kx_service_state(state) == KxService::unsynchronised ? kLeapNotSynchronised
	                                                            : kLeapNone;
}

int32_t ntp_sample_leap()
{
	return ntp_sample_leap(kx_read_module_state());
}
