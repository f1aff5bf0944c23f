// The board's 25 MHz VCXO, its DAC8571 tuning DAC and TPM4's pulse capture.
//
// The DAC8571 (bus 1, 0x4C) sets the VCXO's control input: a write of
// three bytes, control 0x10 (load the DAC from the data that follows) and
// the 16-bit code high byte first, moves the oscillator's frequency by the
// tuning slope; a read gives the code back. Other control bytes are
// acknowledged and change nothing.
//
// At each edge of the GPS receiver's pulse the oscillator model
// (testbed/osc/kx_osc.c, the same file the timing hardware model under qemu
// uses) runs the seconds since the previous edge (more than one when edges
// were missing: the oscillator and TPM4's counter run on without them),
// and TPM4's channel-2 capture, the free-running
// counter at the edge, goes to the live kernel as one datagram on
// $KX_ROOT/dev/tpm4: "COUNT OVERFLOW EDGE" (OVERFLOW 1 when the 32-bit
// counter wrapped since the previous edge; EDGE the edge's CLOCK_MONOTONIC
// time in ns, at which the PHYs time-stamp it in hardware). No kernel listening = the capture is
// lost, as on a board without the module loaded.
//
// Control (`osc ...`): state (count: cycles between the last two captures,
// pulses: captures made); offset PPB (free-running error at mid-scale,
// parts per 10^9, default +1000 = +1 ppm); step PPB (a sudden change of the
// offset); walk FS (random-walk step per second, 10^-15, default 50000);
// temp PPB SECONDS (slow temperature drift: peak and period, default 20
// 1200; 0 0 for none).
#include "board.h"
#include "devices/gps_receiver.h"
#include "kx_path.h"

extern "C" {
#include "kx_osc.h"
}

#include <cstdio>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int64_t fs_per_ppb = 1000000;
// A quiet VCXO in a closed cabinet: a random walk of up to 0.05 ppb a
// second and a 20 ppb temperature swing over 20 minutes.
constexpr int64_t default_walk = 50000;
constexpr int64_t default_temp_ppb = 20;
constexpr u32 default_temp_period = 1200;

class Vcxo final : public SimI2cDevice {
public:
	Vcxo()
	{
		kx_osc_init(&osc_, KX_OSC_PPM, 0x5EED);
		osc_.walk_step = default_walk;
		osc_.temp_amp = default_temp_ppb * fs_per_ppb;
		osc_.temp_period = default_temp_period;
		gps_pulse_hook_add(on_pulse, this);
	}
	~Vcxo() override
	{
		gps_pulse_hook_remove(on_pulse, this);
		if (fd_ >= 0)
			close(fd_);
	}

	int on_write(int, const uint8_t *data, size_t len) override
	{
		if (len == 3 && data[0] == 0x10)
			kx_osc_set_dac(&osc_, static_cast<u16>(data[1] << 8 | data[2]));
		return 0;
	}

	int on_read(int, uint8_t *out, size_t len) override
	{
		uint8_t reg[2] = {static_cast<uint8_t>(osc_.dac_code >> 8),
				  static_cast<uint8_t>(osc_.dac_code)};
		for (size_t i = 0; i < len; i++)
			out[i] = reg[i % 2];
		return 0;
	}

	std::string on_control(const std::vector<std::string> &w) override
	{
		bool ok1 = true, ok2 = true;
		if (w.size() == 1 && w[0] == "state") {
			char buf[256];
			std::snprintf(buf, sizeof buf,
				      "ok dac=%u error_ppb=%.3f offset_ppb=%.3f count=%u counter=%u pulses=%llu",
				      osc_.dac_code, kx_osc_error(&osc_) / double(fs_per_ppb),
				      osc_.offset / double(fs_per_ppb), last_count_, osc_.counter,
				      static_cast<unsigned long long>(pulses_));
			return buf;
		}
		if (w.size() == 2 && (w[0] == "offset" || w[0] == "step" || w[0] == "walk")) {
			long v = sim_parse_signed(w[1], &ok1);
			if (!ok1)
				return "err bad number";
			if (w[0] == "offset")
				osc_.offset = v * fs_per_ppb;
			else if (w[0] == "step")
				osc_.offset += v * fs_per_ppb;
			else
				osc_.walk_step = v < 0 ? -v : v;
			return "ok";
		}
		if (w.size() == 3 && w[0] == "temp") {
			long amp = sim_parse_signed(w[1], &ok1);
			long period = sim_parse_signed(w[2], &ok2);
			if (!ok1 || !ok2 || period < 0)
				return "err bad number";
			osc_.temp_amp = amp * fs_per_ppb;
			osc_.temp_period = static_cast<u32>(period);
			return "ok";
		}
		return "err usage: osc state | offset PPB | step PPB | walk FS | temp PPB SECONDS";
	}

private:
	static long sim_parse_signed(const std::string &word, bool *ok)
	{
		if (!word.empty() && word[0] == '-')
			return -sim_parse_number(word.substr(1), ok);
		return sim_parse_number(word[0] == '+' ? word.substr(1) : word, ok);
	}

	static void on_pulse(void *arg, int64_t, int64_t edge_ns)
	{
		static_cast<Vcxo *>(arg)->pulse(edge_ns);
	}

	// The oscillator runs on between edges that do not come (pulses
	// switched off): one modelled second per second since the last edge.
	void pulse(int64_t edge_ns)
	{
		int64_t seconds = 1;
		if (last_edge_ns_ != 0)
			seconds = (edge_ns - last_edge_ns_ + 500000000) / 1000000000;
		last_edge_ns_ = edge_ns;
		u32 before = osc_.counter;
		bool overflow = false;
		for (int64_t i = 0; i < seconds; i++) {
			u32 at = osc_.counter;
			kx_osc_second(&osc_);
			overflow = overflow || osc_.counter < at;
		}
		last_count_ = osc_.counter - before;  // TPM4's view: cycles since the last capture
		pulses_++;
		if (fd_ < 0)
			fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
		std::string path = kx_path("/dev/tpm4");
		sockaddr_un sa{};
		sa.sun_family = AF_UNIX;
		if (fd_ < 0 || path.size() >= sizeof sa.sun_path)
			return;
		path.copy(sa.sun_path, path.size());
		char msg[64];
		int n = std::snprintf(msg, sizeof msg, "%u %d %lld", osc_.counter, overflow ? 1 : 0,
				      static_cast<long long>(edge_ns));
		sendto(fd_, msg, static_cast<size_t>(n), MSG_DONTWAIT,
		       reinterpret_cast<sockaddr *>(&sa), sizeof sa);
	}

	kx_osc osc_{};
	u32 last_count_ = 0;
	int64_t last_edge_ns_ = 0;
	unsigned long long pulses_ = 0;
	int fd_ = -1;
};

std::unique_ptr<SimI2cDevice> make_vcxo()
{
	return std::make_unique<Vcxo>();
}

}  // namespace

KX_SIM_DEVICE(vcxo, "osc", 1, 0x4C, 0x4C, make_vcxo);
