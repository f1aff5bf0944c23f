#include "ptp_gate.h"

PtpPush ptp_push(const KxPtpPort &port, const KxPtpSettings &want)
{
	KxPtpSettings now;
	if (!kx_ptp_get(port, &now))
		return PtpPush::unreachable;
	if (now == want)
		return PtpPush::kept;
	// ptp4l answers a SET with the settings it now holds
	if (!kx_ptp_parse_settings(kx_pmc(port, kx_ptp_set_command(want)), &now) || !(now == want))
		return PtpPush::failed;
	return PtpPush::pushed;
}
