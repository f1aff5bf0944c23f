// The GPS receiver model's pulse output, for the other models of simboard
// (the oscillator and TPM4 capture count cycles between these edges).
#pragma once

#include <cstdint>

// Called at each pulse edge, not while the pulses are switched off
// ("gps pulses 0"), with the GPS second the edge marks (UTC seconds since
// 1970 in the receiver's time: the host's second plus the model's offset)
// and the edge's CLOCK_MONOTONIC time in ns. The edge lies on the host's
// second boundary; the call itself comes when simboard's loop gets there,
// a little later. If the loop was held up over several boundaries, the
// missed edges are reported one by one, oldest first. Hooks run in
// simboard's one thread, before that second's sentences are queued.
using GpsPulseHook = void (*)(void *arg, int64_t gps_second, int64_t edge_ns);

// Hooks may be added at static initialisation or from a model's
// constructor; each added pair is called once per edge.
void gps_pulse_hook_add(GpsPulseHook hook, void *arg);
void gps_pulse_hook_remove(GpsPulseHook hook, void *arg);
