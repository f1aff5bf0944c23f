"""A real consumer of the NTP segment: a private chronyd (never touching the
clock, -x) with `refclock SHM 0`, fed by nmeafeed from a once-per-second
stream carrying the current UTC time. Both run in this test's private IPC
namespace (ctest starts it under `unshare --ipc`)."""
import datetime
import os
import shutil
import subprocess
import tempfile
import threading
import time

import kxproc
import pytest
from nmeafeed_harness import Daemon, with_checksum

CHRONYD = shutil.which("chronyd") or "/usr/sbin/chronyd"
CHRONYC = shutil.which("chronyc") or "/usr/bin/chronyc"

# The appliance's refclock line (docs/chrony.md) with a one-second poll so
# the test sees samples quickly; the rest keeps this chronyd private.
CONF = """refclock SHM 0 refid GPS poll 0
pidfile {dir}/chronyd.pid
bindcmdaddress {dir}/chronyd.sock
cmdport 0
port 0
"""


class Receiver(threading.Thread):
    """Writes GGA and ZDA of the current UTC second, once per second."""

    def __init__(self, daemon):
        super().__init__(daemon=True)
        self.d = daemon
        self.stop = threading.Event()

    def run(self):
        while not self.stop.is_set():
            now = time.time()
            # Shortly after the second starts, as a receiver sends it.
            self.stop.wait(1.05 - (now % 1.0))
            t = datetime.datetime.now(datetime.timezone.utc)
            hms = t.strftime("%H%M%S")
            self.d.send_lines([
                with_checksum("$GPGGA,%s.000,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"
                              % hms),
                with_checksum("$GPZDA,%s.000,%02d,%02d,%04d,00,00" % (hms, t.day, t.month, t.year)),
            ])


def chronyc(sock, *args):
    r = subprocess.run([CHRONYC, "-h", sock, "-n", "-c"] + list(args),
                       capture_output=True, text=True, timeout=10)
    return r.stdout


@pytest.mark.skipif(not os.path.exists(CHRONYD), reason="chrony not installed")
def test_chronyd_takes_samples_from_the_segment():
    work = tempfile.mkdtemp(prefix="nmeafeed-chrony.")  # mode 0700, as chronyd wants
    conf = os.path.join(work, "chrony.conf")
    sock = os.path.join(work, "chronyd.sock")
    with open(conf, "w") as f:
        f.write(CONF.format(dir=work))
    try:
        with Daemon() as d:
            d.wait_opened()
            feeder = Receiver(d)
            feeder.start()
            with kxproc.Process([CHRONYD, "-x", "-d", "-u", "root", "-f", conf],
                                log=os.path.join(work, "chronyd.log")) as chrony:
                reach, samples = 0, 0

                def sampled():
                    nonlocal reach, samples
                    for line in chronyc(sock, "sources").splitlines():
                        f = line.split(",")
                        if len(f) > 5 and f[2] == "GPS":
                            reach = int(f[5], 8)
                    for line in chronyc(sock, "sourcestats").splitlines():
                        f = line.split(",")
                        if len(f) > 1 and f[0] == "GPS":
                            samples = int(f[1])
                    return reach != 0 and samples >= 2
                try:
                    chrony.wait_until(sampled, "chronyd to take samples from the SHM source",
                                      timeout=30, step=1)
                finally:
                    feeder.stop.set()
                    feeder.join(timeout=5)
                    chrony.stop(timeout=10)
            assert reach != 0, "chronyd never reached the SHM source"
            assert samples >= 2, "chronyd holds no samples from the SHM source"
            assert "ZDA: " in d.stdout()
            assert d.alive()
    finally:
        shutil.rmtree(work, ignore_errors=True)
