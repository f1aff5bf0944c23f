"""ntpgate against a real chronyd: once the module (a KX_ROOT tree standing
in for /sys/pps_filter and /dev/pps-kx) says the time is not known,
ntpgate finds chronyd synchronised through its command socket and has it
drop its measurements. chronyd
(-x, never touching the clock) is made synchronised by `local stratum 1`."""
import os
import shutil
import subprocess
import tempfile

import kxproc
import pytest

CHRONYD = shutil.which("chronyd") or "/usr/sbin/chronyd"
CHRONYC = shutil.which("chronyc") or "/usr/bin/chronyc"
NTPGATE = os.environ.get("NTPGATE_BIN", "")

CONF = """local stratum 1
pidfile {root}/run/chrony/chronyd.pid
bindcmdaddress {root}/run/chrony/chronyd.sock
cmdport 0
port 0
"""


def write(root, path, text):
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "w") as f:
        f.write(text)


def commands_received(sock):
    r = subprocess.run([CHRONYC, "-h", sock, "-n", "-c", "serverstats"],
                       capture_output=True, text=True, timeout=30)
    fields = r.stdout.split(",")
    return int(fields[2]) if len(fields) > 2 else -1


@pytest.mark.skipif(not os.path.exists(CHRONYD) or not NTPGATE or os.geteuid() != 0,
                    reason="needs chrony, NTPGATE_BIN and root")
def test_ntpgate_drops_chronyds_time_once_the_module_no_longer_knows_it():
    root = tempfile.mkdtemp(prefix="ntpgate.")
    try:
        write(root, "dev/pps-kx", "")
        write(root, "sys/pps_filter/gpsfix", "1\n")
        write(root, "sys/pps_filter/timeknown", "1\n")
        os.makedirs(os.path.join(root, "run/chrony"), mode=0o700)
        write(root, "chrony.conf", CONF.format(root=root))
        sock = os.path.join(root, "run/chrony/chronyd.sock")
        with kxproc.Process([CHRONYD, "-x", "-d", "-u", "root", "-f",
                             os.path.join(root, "chrony.conf")], name="chronyd") as chronyd, \
             kxproc.Process([NTPGATE], root=root) as gate:
            chronyd.wait_until(lambda: commands_received(sock) >= 0, "chronyd's command socket")
            before = commands_received(sock)
            write(root, "sys/pps_filter/timeknown", "0\n")
            gate.wait_output("time not known: chronyd's measurements dropped (chronyc ok)")
            # tracking, then reset sources, through the run's command socket
            assert commands_received(sock) >= before + 3
    finally:
        shutil.rmtree(root, ignore_errors=True)
