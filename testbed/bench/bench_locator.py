#!/usr/bin/python3
"""Benchmark of the locator service outside the test suite: N requests
(default 10,000) from several client sockets, every reply checked in full.
Prints the achieved rate and the service's CPU time.

Run as root, in a private network namespace:
  LOCATOR_BIN=build/bin/locator unshare --net sh -c \
    'ip link set lo up && /usr/bin/python3 testbed/bench/bench_locator.py 10000'
"""
import os
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import kxproc  # noqa: E402
kxproc.use_testbed_modules()
from locator_harness import Locator, Tree, load  # noqa: E402


def main():
    total = int(sys.argv[1]) if len(sys.argv) > 1 else 10000
    with tempfile.TemporaryDirectory() as work:
        root = os.path.join(work, "root")
        os.mkdir(root)
        Tree(root).reset()
        loc = Locator(root, work)
        try:
            cpu0 = loc.cpu_seconds()
            answered, bad, elapsed = load(loc, total)
            cpu = loc.cpu_seconds() - cpu0
        finally:
            loc.stop()
    print("requests:        %d" % total)
    print("answered in full: %d" % answered)
    print("bad replies:     %d" % bad)
    print("elapsed:         %.1f s" % elapsed)
    print("rate:            %.2f requests/s" % (answered / elapsed if elapsed else 0))
    print("service CPU:     %.2f s (%.3f ms per request, %.2f%% of one core)"
          % (cpu, 1000 * cpu / max(answered, 1), 100 * cpu / elapsed if elapsed else 0))
    return 0 if answered == total and bad == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
