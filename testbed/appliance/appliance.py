"""The whole appliance on the simulated board, for the demo and the
end-to-end test: simboard (receiver, VCXO, panel, chips), kxkernel (the
kx_pps module's own code, live), the simulation builds of nmeafeed,
panelmon and locator, optionally a private chronyd (-x) on the NTP
segment, and optionally kxmetrics with Debian's node-exporter serving its
textfile on a loopback port.

Run as root inside private network, IPC and mount namespaces (the locator
port, the NTP segment and the FUSE mounts stay private):
    unshare --net --ipc --mount --propagation private ...
"""
import os
import shutil
import socket
import struct
import subprocess
import tempfile
import urllib.request

import kxproc
from kxkernel import KxKernel
from simboard import SimBoard

CHRONYD = shutil.which("chronyd") or "/usr/sbin/chronyd"
CHRONYC = shutil.which("chronyc") or "/usr/bin/chronyc"
NODE_EXPORTER = shutil.which("prometheus-node-exporter") or "/usr/bin/prometheus-node-exporter"
# inside the run's private network namespace, so the port is the run's own
NODE_EXPORTER_ADDRESS = "127.0.0.1:9100"
TEXTFILE_DIR = "/var/lib/prometheus/node-exporter"
# the appliance's refclock line (docs/chrony.md) with a one-second poll
CHRONY_CONF = """refclock SHM 0 refid GPS poll 0
pidfile {dir}/chronyd.pid
bindcmdaddress {dir}/run/chrony/chronyd.sock
cmdport 0
port 0
"""


def write(root, path, text):
    full = os.path.join(root, path.lstrip("/"))
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "w") as f:
        f.write(text)


def read(root, path, default="-"):
    try:
        with open(os.path.join(root, path.lstrip("/"))) as f:
            return f.read().strip()
    except OSError:
        return default


def configure(root):
    """What the appliance's own scripts would have written."""
    write(root, "/etc/time_mode", "0")
    write(root, "/etc/antenna_delay", "12")
    write(root, "/etc/device_name", "kx-demo-unit")
    write(root, "/etc/version.num", "v1.4.17-MX93")
    write(root, "/sys/class/net/eth0/address", "02:00:00:00:00:01\n")
    write(root, "/sys/class/net/eth1/address", "02:00:00:00:00:02\n")
    for port, addr in ((0, "192.168.1.20"), (1, "10.0.0.20")):
        write(root, "/var/volatile/rundata/addr%d.dat" % port, addr)
        write(root, "/var/volatile/rundata/mask%d.dat" % port, "255.255.255.0")
        write(root, "/var/volatile/rundata/gw%d.dat" % port, addr.rsplit(".", 1)[0] + ".1")
        write(root, "/var/volatile/rundata/mac%d.dat" % port, "02:00:00:00:00:0%d" % (port + 1))
    write(root, "/var/volatile/rundata/ntp_kount", "0")
    write(root, "/root/resetparms.sh", "#!/bin/sh\necho reset to defaults\n")
    os.chmod(os.path.join(root, "root/resetparms.sh"), 0o755)


def locator_query():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(0.5)
    try:
        s.sendto(b"\xa1", ("127.0.0.1", 7372))
        reply, _ = s.recvfrom(200)
    except OSError:
        return None
    finally:
        s.close()
    return reply


def describe_reply(r):
    if r is None or len(r) != 80:
        return "no reply"
    text = lambda b: b.split(b"\0", 1)[0].decode("latin-1")
    (kount,) = struct.unpack(">I", r[14:18])
    return "fix %d  ntp %d  %02d:%02d:%02d  '%s'  name '%s'" % (
        r[13], kount, r[18], r[19], r[20], text(r[21:46]), text(r[46:62]))


class Appliance(kxproc.Harness):
    def __init__(self, build, chrony=False, metrics_interval=None, module_params=()):
        """metrics_interval: seconds between kxmetrics' runs (its SysV loop
        mode); None runs neither kxmetrics nor node-exporter.
        module_params: the kx_pps module's parameters at load, "name=value"
        as /etc/modprobe.d would give them."""
        self.build = build
        self.module_params = list(module_params)
        self.chrony = chrony and os.path.exists(CHRONYD)
        self.metrics_interval = metrics_interval
        self.root = tempfile.mkdtemp(prefix="kxapp.")
        self.procs = []
        self.board = None
        self.kernel = None

    def start(self):
        try:
            return self._start()
        except BaseException:
            self.stop()
            raise

    def _start(self):
        configure(self.root)
        self.board = SimBoard(root=self.root,
                              binary=os.path.join(self.build, "bin", "simboard")).start()
        # KXH_LOG=1: the module's kernel messages on kxkernel's output
        self.kernel = KxKernel(self.root, os.path.join(self.build, "bin", "kxkernel"),
                               env=self.board.env(KXH_LOG="1"),
                               params=self.module_params).start()
        sim_bin = os.path.join(self.build, "sim", "bin")
        self.spawn("nmeafeed", [os.path.join(sim_bin, "nmeafeed")])
        self.spawn("panelmon", [os.path.join(sim_bin, "panelmon")])
        self.spawn("locator", [os.path.join(self.build, "bin", "locator")])
        if self.chrony:
            conf = os.path.join(self.root, "chrony.conf")
            with open(conf, "w") as f:
                f.write(CHRONY_CONF.format(dir=self.root))
            self.spawn("chronyd", [CHRONYD, "-x", "-d", "-u", "root", "-f", conf])
        if self.metrics_interval:
            textfiles = os.path.join(self.root, TEXTFILE_DIR.lstrip("/"))
            os.makedirs(textfiles)
            self.spawn("kxmetrics", [os.path.join(self.build, "bin", "kxmetrics"),
                                     "-i", str(self.metrics_interval)])
            self.spawn("node-exporter", [
                NODE_EXPORTER, "--collector.disable-defaults", "--collector.textfile",
                "--collector.textfile.directory=" + textfiles,
                "--web.listen-address=" + NODE_EXPORTER_ADDRESS])
        return self

    def spawn(self, name, argv):
        self.procs.append(kxproc.Process(argv, env=self.board.env(), name=name,
                                         log=os.path.join(self.root, name + ".log")))

    def stop(self):
        kxproc.stop_all(self.procs, timeout=10)
        if self.kernel:
            self.kernel.stop()
        if self.board:
            self.board.stop()
        shutil.rmtree(self.root, ignore_errors=True)

    # what can be seen
    def attr(self, name):
        return read(self.root, "/sys/pps_filter/" + name)

    def osc(self):
        """The VCXO model's state as a dict (dac, count, error_ppb, ...)."""
        reply = self.board.command("osc state")
        return dict(w.split("=", 1) for w in reply.split() if "=" in w)

    def chrony_source(self):
        if not self.chrony:
            return "chronyd not installed"
        r = subprocess.run([CHRONYC, "-h", os.path.join(self.root, "run/chrony/chronyd.sock"), "-n",
                            "-c", "sources"], capture_output=True, text=True, timeout=10)
        for line in r.stdout.splitlines():
            f = line.split(",")
            if len(f) >= 10 and f[2] == "GPS":
                # LastRx: seconds since the last sample, huge before the first
                if f[5] == "0" and not (f[6].isdigit() and int(f[6]) < 10 ** 9):
                    return "GPS source, no sample yet"
                if f[5] == "0":
                    return "GPS %s no sample for %s s (reach 0), last offset %+.3f s%s" % (
                        f[1], f[6], float(f[7]), self.chrony_serving())
                # state: * selected, ? unusable; reach: octal register of the last 8 polls
                return "GPS %s reach %s, last sample %s s ago, offset %+.3f s" % (
                    f[1], f[5], f[6], float(f[7]))
        return "no GPS source yet"

    def chrony_serving(self):
        """What chronyd answers its clients: '; serves stratum N, root
        dispersion D ms', or '' while it does not answer."""
        r = subprocess.run([CHRONYC, "-h", os.path.join(self.root, "run/chrony/chronyd.sock"), "-n",
                            "-c", "tracking"], capture_output=True, text=True, timeout=10)
        f = r.stdout.strip().split(",")
        if len(f) < 14:
            return ""
        if f[-1] == "Not synchronised":
            return "; serves: not synchronised"
        return "; serves stratum %s, root dispersion %.1f ms" % (f[2], float(f[11]) * 1e3)

    def metrics_text(self):
        """node-exporter's /metrics as it serves it; "" while it does not answer."""
        try:
            with urllib.request.urlopen("http://%s/metrics" % NODE_EXPORTER_ADDRESS,
                                        timeout=5) as r:
                return r.read().decode()
        except OSError:
            return ""

    def scrape(self):
        """node-exporter's /metrics as {series: value}, the series written as
        in the text ('name' or 'name{labels}'); {} while it does not answer."""
        series = {}
        for line in self.metrics_text().splitlines():
            if line and not line.startswith("#"):
                name, value = line.rsplit(" ", 1)
                series[name] = float(value)
        return series

    def wait_for(self, what, test, limit=120):
        """Polls test() until it is true; a safety cap only, never a measure.
        Fails at once when one of the appliance's processes has ended."""
        return kxproc.wait_for(test, what, limit, step=0.2, watch=self.processes())

    def processes(self):
        """Every process of the appliance, the board and kxkernel first."""
        return [x.proc for x in (self.board, self.kernel) if x and x.proc] + self.procs
