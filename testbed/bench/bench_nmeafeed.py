#!/usr/bin/python3
"""Benchmark of nmeafeed (prints figures; not a test).

  testbed/bench/bench_nmeafeed.py [NMEAFEED_BINARY]   (default build/bin/nmeafeed)

1. Throughput: 3,600 simulated GPS seconds (GGA, RMC, GSA, 3 GPGSV, 2 GLGSV,
   2 GAGSV, ZDA per second) written into dev/kx_pps (a FIFO) as fast as the
   daemon reads them. Reports wall time, the daemon's CPU time (user and
   system) and its peak resident set size (VmHWM).
2. Latency: for 500 further seconds, everything up to the last byte of the
   ZDA line is written, then (after a pause that lets the daemon catch up)
   the last byte; the time until the NTP segment shows the new sample with
   valid set is measured. Reports p50, p99 and the maximum.

Runs itself in a private IPC namespace (unshare --ipc), with KX_ROOT on
/dev/shm (tmpfs, as /var/volatile is on the appliance).
"""
import os
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import kxproc  # noqa: E402
kxproc.use_testbed_modules()

if os.environ.get("KX_PRIVATE_IPC") != "1":
    os.execvp("unshare", ["unshare", "--ipc", "env", "KX_PRIVATE_IPC=1", sys.executable]
              + sys.argv)

from nmeafeed_harness import Daemon, shm_attach, with_checksum  # noqa: E402

SECONDS = 3600
LATENCY_SAMPLES = 500
BASE = 1796688000  # 2026-12-08 00:00:00 UTC


def second_lines(t):
    tm = time.gmtime(BASE + t)
    hms = time.strftime("%H%M%S", tm)
    snr = lambda prn: 30 + (prn * 7 + t) % 20  # noqa: E731

    def gsv(talker, prns):
        total = (len(prns) + 3) // 4
        out = []
        for i in range(total):
            sats = ",".join("%02d,%02d,%03d,%02d" % (p, 10 + p % 70, (p * 37) % 360, snr(p))
                            for p in prns[i * 4:i * 4 + 4])
            out.append(with_checksum("$%sGSV,%d,%d,%02d,%s" % (talker, total, i + 1, len(prns), sats)))
        return out
    return ([with_checksum("$GPGGA,%s.000,4807.0382,N,01131.0010,E,1,10,0.9,545.4,M,46.9,M,,"
                           % hms),
             with_checksum("$GPRMC,%s.000,A,4807.0382,N,01131.0010,E,0.02,31.66,%s,,,A"
                           % (hms, time.strftime("%d%m%y", tm))),
             with_checksum("$GPGSA,A,3,02,05,09,12,15,18,21,29,30,31,,,1.6,0.9,1.3")]
            + gsv("GP", [2, 5, 9, 12, 13, 15, 18, 21, 25, 29, 30, 31])
            + gsv("GL", [65, 66, 72, 80, 81, 82, 83, 84])
            + gsv("GA", [3, 8, 13, 26, 31, 33, 34, 36])
            + [with_checksum("$GPZDA,%s.000,%s,%s,%s,00,00"
                             % (hms, time.strftime("%d", tm), time.strftime("%m", tm),
                                time.strftime("%Y", tm)))])


def proc_hwm_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def percentile(sorted_values, p):
    k = min(len(sorted_values) - 1, int(round(p / 100.0 * (len(sorted_values) - 1))))
    return sorted_values[k]


def main():
    binary = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "../../build/bin/nmeafeed")
    shm_dir = "/dev/shm" if os.path.isdir("/dev/shm") else None
    root = tempfile.mkdtemp(prefix="nmeafeed-bench.", dir=shm_dir)
    stream = "".join("".join(l + "\r\n" for l in second_lines(t)) for t in range(SECONDS)).encode()
    lines_per_second = len(second_lines(0))

    with Daemon(binary=os.path.abspath(binary), root=root) as d:
        d.own_root = True
        d.wait_opened()
        seg = shm_attach()
        pid = d.proc.pid
        u0, s0 = d.proc.cpu_seconds()
        t0 = time.monotonic()
        d.send(stream)
        # count rises by 2 per sample; the first ZDA gives none (a sample
        # needs a ZDA one second after the previous one)
        while seg.count < 2 * (SECONDS - 1):
            time.sleep(0.001)
        wall = time.monotonic() - t0
        u1, s1 = d.proc.cpu_seconds()
        hwm = proc_hwm_kib(pid)

        latencies = []
        for t in range(SECONDS, SECONDS + LATENCY_SAMPLES):
            data = "".join(l + "\r\n" for l in second_lines(t)).encode()
            # Everything but the LF that completes the ZDA line.
            d.send(data[:-1])
            time.sleep(0.003)
            before = seg.count
            start = time.perf_counter_ns()
            os.write(d.writer, data[-1:])
            # Yield while polling: on a busy machine a spinning poller would
            # keep the daemon from the CPU it is measured on.
            while seg.count == before or seg.valid != 1:
                os.sched_yield()
            latencies.append((time.perf_counter_ns() - start) / 1000.0)
        assert d.alive()

    latencies.sort()
    slow = sum(1 for v in latencies if v > 1000)
    print("nmeafeed benchmark: %s" % os.path.abspath(binary))
    print("  stream: %d s x %d lines, %d bytes" % (SECONDS, lines_per_second, len(stream)))
    print("  throughput: wall %.2f s, CPU user %.2f s + system %.2f s = %.2f s "
          "(%.1f us CPU per GPS second)" % (wall, u1 - u0, s1 - s0, (u1 - u0) + (s1 - s0),
                                            ((u1 - u0) + (s1 - s0)) / SECONDS * 1e6))
    print("  peak RSS (VmHWM): %d KiB" % hwm)
    print("  ZDA last byte -> SHM valid latency over %d samples: p50 %.0f us, p99 %.0f us, "
          "max %.0f us" % (len(latencies), percentile(latencies, 50), percentile(latencies, 99),
                           latencies[-1]))
    print("  samples above 1 ms: %d of %d" % (slow, len(latencies)))


if __name__ == "__main__":
    main()
