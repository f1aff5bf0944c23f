// SPDX-License-Identifier: GPL-2.0
/*
 * Drives timer_irq for the callgrind benchmark: a steady run of captures in
 * the acceptance window, in the two shapes a second takes on the board: the
 * loop alone, and with the GPS hand-off, LinuxPPS event and LED flash;
 * "pll" is the loop alone with the phase-and-frequency loop (loop_mode=1).
 *
 *   kx_bench_timer_irq loop|full|pll CALLS
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kx_fixture.h"

int main(int argc, char **argv)
{
	int full = argc > 1 && !strcmp(argv[1], "full");
	long calls = argc > 2 ? atol(argv[2]) : 10000;
	long i;

	if (argc > 1 && !strcmp(argv[1], "pll"))
		loop_mode = PPS_LOOP_PLL;
	fx_board();
	if (full) {
		fx_probed();
		time_known = true;
	}
	fx_pulse(1000);
	for (i = 0; i < calls; i++) {
		if (full)
			gGPSTime.pending = 1;
		fx_pulse(tpm4_counter_value_old + 25000000 + (i % 7) - 3);
		/* keep the queues short, as the workers would */
		if ((i & 63) == 63) {
			kxh_i2c_clear();
			kxh_wq_run_all();
		}
	}
	printf("%ld calls, filt_kount %d\n", calls, filt_kount);
	return 0;
}
