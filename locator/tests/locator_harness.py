"""Runs the real locator binary against a private KX_ROOT tree.

Meant to run inside a private network namespace (unshare --net, lo up): the
service binds the fixed UDP port 7372 on all addresses.
"""
import os
import select
import shutil
import socket
import time
from datetime import datetime, timedelta, timezone

import kxproc

PORT = 7372
REPLY_SIZE = 80

# The time zone the service runs in: UTC+05:30, so local time differs from
# UTC in hours and minutes.
TZ = "IST-5:30"
TZ_OFFSET = timedelta(hours=5, minutes=30)

SOURCES = [
    "etc/device_name",
    "var/volatile/rundata/addr0.dat",
    "sys/class/net/eth0/address",
    "var/volatile/rundata/ntp_kount",
    "sys/pps_filter/gpsfix",
    "var/volatile/rundata/coords.dat",
    "etc/version.num",
    "var/volatile/rundata/addr1.dat",
    "sys/class/net/eth1/address",
    "var/volatile/rundata/altitude.dat",
]

# A complete, healthy unit.
DEFAULT_FILES = {
    "etc/device_name": "timesrv-lab\n",
    "var/volatile/rundata/addr0.dat": "192.168.1.20\n",
    "sys/class/net/eth0/address": "00:04:a3:12:34:56\n",
    "var/volatile/rundata/ntp_kount": "258\n",
    "sys/pps_filter/gpsfix": "1\n",
    "var/volatile/rundata/coords.dat": "5130.1234N,00007.5678W",
    "etc/version.num": "v1.4.17-MX93\n",
    "var/volatile/rundata/addr1.dat": "10.20.30.40\n",
    "sys/class/net/eth1/address": "00:04:a3:ab:cd:ef\n",
    "var/volatile/rundata/altitude.dat": "123.4M",
}


def locator_bin():
    path = os.environ.get("LOCATOR_BIN")
    assert path, "LOCATOR_BIN must name the locator binary"
    return path


class Tree:
    """The KX_ROOT tree the service reads its files from."""

    def __init__(self, root):
        self.root = root

    def path(self, rel):
        return os.path.join(self.root, rel)

    def reset(self, files=None):
        for top in ("etc", "var", "sys"):
            shutil.rmtree(self.path(top), ignore_errors=True)
        self.write_all(DEFAULT_FILES if files is None else files)

    def write_all(self, files):
        for rel, content in files.items():
            self.write(rel, content)

    def write(self, rel, content):
        p = self.path(rel)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        mode = "wb" if isinstance(content, bytes) else "w"
        with open(p, mode) as f:
            f.write(content)

    def remove(self, rel):
        try:
            os.unlink(self.path(rel))
        except FileNotFoundError:
            pass


class Locator:
    """One running locator process with its standard output in a file."""

    def __init__(self, root, workdir, binary=None):
        self.tree = Tree(root)
        self.root = root
        self.binary = binary or locator_bin()
        self.out_path = os.path.join(workdir, "locator.out")
        self.start()

    def start(self):
        """Starts the process (again, after stop) and waits for the bind."""
        self.proc = kxproc.Process([self.binary], root=self.root,
                                   env=dict(os.environ, TZ=TZ), log=self.out_path)
        self.proc.wait_until(lambda: kxproc.udp_port_bound(PORT), "locator to bind port 7372")

    def output(self):
        return self.proc.output()

    def cpu_seconds(self):
        """User plus system CPU time the process has used so far."""
        return sum(self.proc.cpu_seconds())

    def stop(self):
        self.proc.stop()


def client(addr="127.0.0.1", port=0):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((addr, port))
    return s


def receive(sock, timeout):
    """One datagram, or None when nothing comes within the timeout."""
    r, _, _ = select.select([sock], [], [], timeout)
    if not r:
        return None
    data, _ = sock.recvfrom(4096)
    return data


def request(sock, payload=b"\xa1", timeout=3.0):
    """Sends one datagram; returns (reply or None, local times around it)."""
    before = local_now()
    sock.sendto(payload, ("127.0.0.1", PORT))
    data = receive(sock, timeout)
    after = local_now()
    return data, (before, after)


def local_now():
    return datetime.now(timezone.utc) + TZ_OFFSET


def hms_between(reply, window):
    """True when bytes 18..20 hold a local time within the window."""
    before, after = window
    got = (reply[18], reply[19], reply[20])
    t = before.replace(microsecond=0)
    while t <= after:
        if (t.hour, t.minute, t.second) == got:
            return True
        t += timedelta(seconds=1)
    return False


def text_field(text, size):
    """A text in a fixed field: cut to the field, zero padded."""
    raw = text.encode("latin-1")[:size]
    return raw + b"\0" * (size - len(raw))


def expected_reply(addr0=(0, 0, 0, 0), mac0=(0,) * 6, version=(0, 0), fix=0,
                   ntp_kount=0, position="No Fix", name="", addr1=(0, 0, 0, 0),
                   mac1=(0,) * 6, altitude=""):
    """The reply for the given field values, with zero local time."""
    r = bytearray()
    r.append(6)
    r += bytes(addr0)
    r += bytes(mac0)
    r += bytes(version)
    r.append(fix)
    r += (ntp_kount & 0xFFFFFFFF).to_bytes(4, "big")
    r += b"\0\0\0"
    r += text_field(position, 25)
    r += text_field(name, 16)
    r += bytes(addr1)
    r += bytes(mac1)
    r += text_field(altitude, 7)
    r.append(0)
    assert len(r) == REPLY_SIZE
    return bytes(r)


# The reply DEFAULT_FILES must give (time bytes zero).
DEFAULT_REPLY = expected_reply(
    addr0=(192, 168, 1, 20), mac0=(0x00, 0x04, 0xA3, 0x12, 0x34, 0x56),
    version=(4, 17), fix=1, ntp_kount=258, position="5130.1234N,00007.5678W",
    name="timesrv-lab", addr1=(10, 20, 30, 40),
    mac1=(0x00, 0x04, 0xA3, 0xAB, 0xCD, 0xEF), altitude="123.4M")


def without_time(reply):
    return reply[:18] + b"\0\0\0" + reply[21:]


def load(loc, total, clients=5, window=4, expected=DEFAULT_REPLY, quiet_timeout=10.0):
    """Sends `total` requests from several client sockets, each keeping up
    to `window` requests outstanding, and checks every reply in full.
    Returns (answered, bad, elapsed seconds)."""
    socks = [client() for _ in range(clients)]
    outstanding = {s: [] for s in socks}
    sent = answered = bad = 0
    start = time.monotonic()
    try:
        def top_up(s):
            nonlocal sent
            while len(outstanding[s]) < window and sent < total:
                outstanding[s].append(local_now())
                s.sendto(b"\xa1", ("127.0.0.1", PORT))
                sent += 1

        for s in socks:
            top_up(s)
        while answered + bad < total:
            r, _, _ = select.select(socks, [], [], quiet_timeout)
            if not r:
                break
            for s in r:
                data, src = s.recvfrom(4096)
                before = outstanding[s].pop(0)
                ok = (len(data) == REPLY_SIZE and src == ("127.0.0.1", PORT)
                      and without_time(data) == expected
                      and hms_between(data, (before, local_now())))
                if ok:
                    answered += 1
                else:
                    bad += 1
                top_up(s)
    finally:
        for s in socks:
            s.close()
    return answered, bad, time.monotonic() - start
