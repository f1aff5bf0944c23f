#!/usr/bin/python3
"""Benchmark (not a test): CPU time and wake-ups of panelmon on the simulated
board, page 0 shown, GPS mode with a fix, every status file in place.

    KX_SIMBOARD=build/bin/simboard PANELMON_BIN=build/sim/bin/panelmon \\
        /usr/bin/python3 testbed/bench/bench_panelmon.py [seconds]

Prints the CPU time (user, system) panelmon used over the measuring window,
its share of one core, and its context switches per second (voluntary ones
are its wake-ups from the tick semaphore and the I2C replies). simboard's own
CPU time is printed too: in the simulation every I2C transfer is a round trip
to it, so it stands in for the bus.
"""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import kxproc  # noqa: E402
kxproc.use_testbed_modules()
from simboard import SimBoard  # noqa: E402

PANELMON = os.environ.get("PANELMON_BIN", "panelmon")


def switches(pid):
    vol = invol = 0
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("voluntary_ctxt_switches:"):
                vol = int(line.split()[1])
            elif line.startswith("nonvoluntary_ctxt_switches:"):
                invol = int(line.split()[1])
    return vol, invol


def fill(root):
    def put(path, text):
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w") as f:
            f.write(text)
    put("sys/pps_filter/gpsfix", "2\n")
    put("sys/pps_filter/timeknown", "1\n")
    put("sys/pps_filter/gps_time_set", "1\n")
    put("sys/pps_filter/holdover_time", "0\n")
    put("etc/time_mode", "0")
    put("etc/antenna_delay", "120")
    for c in "galb":
        put("var/volatile/rundata/%csnrlist.dat" % c, " 45  40  38  30  22   0 ")
    put("var/volatile/rundata/numsats.dat", "11")


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 60.0
    with SimBoard() as board:
        fill(board.root)
        board.command("ina226 current 1000")
        board.command("ina226 power 1000")
        with kxproc.Process([PANELMON], env=board.env(), log=os.devnull) as proc:
            time.sleep(2.5)  # set-up done, page 0 on the display
            rows = board.lcd_rows()
            u0, s0 = proc.cpu_seconds()
            v0, i0 = switches(proc.pid)
            bu0, bs0 = board.proc.cpu_seconds()
            t0 = time.monotonic()
            time.sleep(seconds)
            elapsed = time.monotonic() - t0
            u1, s1 = proc.cpu_seconds()
            v1, i1 = switches(proc.pid)
            bu1, bs1 = board.proc.cpu_seconds()
    cpu = (u1 - u0) + (s1 - s0)
    print("panelmon benchmark: %.1f s on the simulated board, page 0: %r / %r"
          % (elapsed, rows[0], rows[1]))
    print("  panelmon CPU: %.3f s (user %.3f, system %.3f) = %.3f%% of one core"
          % (cpu, u1 - u0, s1 - s0, 100.0 * cpu / elapsed))
    print("  panelmon context switches: %d voluntary (%.1f/s), %d involuntary"
          % (v1 - v0, (v1 - v0) / elapsed, i1 - i0))
    print("  simboard CPU: %.3f s" % ((bu1 - bu0) + (bs1 - bs0)))


if __name__ == "__main__":
    main()
