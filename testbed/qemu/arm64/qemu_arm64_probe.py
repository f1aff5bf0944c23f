#!/usr/bin/python3
"""Queries the arm64 board's network services from the host side, through
qemu's forwarded loopback ports; prints one line of key=value figures.

    qemu_arm64_probe.py --work DIR --ntp-port P --locator-port P ntp|locator

ntp: this machine's chronyd in client-only mode (-Q: measures, never sets
the clock) with its own configuration, pid file and log directory, a few
quick polls of the guest's server. Prints the offset of the guest's time
against this machine's clock and the last reply's stratum, root delay,
root dispersion and reference ID (chronyd's measurements log).
locator: one discovery request (0xA1), the reply in hex.
client start|state|mark|stop: a lasting client, this machine's chronyd (-x:
never touches the clock) polling the guest's server every second, in
WORK/client; state: one plain NTP request's reply (li, stratum; li=none when
none came within 2 s), the client's view of the server in chronyc's sources
(sel: * selected, ? unusable ...), the samples it has taken so far (taken,
from its measurements log; replies that say not synchronised are not taken)
and, over the samples since the last mark, the largest change of the
measured offset from one sample to the next beyond what their round-trip
delays explain (maxstep, seconds; a step of the server's time shows there
whole, a delay spike of one reply does not) and the last offset; mark:
notes where the samples stand.
"""
import argparse
import os
import signal
import socket
import subprocess
import tempfile
import time


def ntp(args):
    with tempfile.TemporaryDirectory(dir=args.work) as tmp:
        conf = os.path.join(tmp, "chrony.conf")
        with open(conf, "w") as f:
            f.write(f"server 127.0.0.1 port {args.ntp_port} iburst maxsamples 4\n"
                    f"pidfile {tmp}/chronyd.pid\nbindcmdaddress {tmp}/chronyd.sock\n"
                    f"cmdport 0\nlogdir {tmp}\nlog measurements\n")
        user = ["-u", "root"] if os.geteuid() == 0 else ["-U"]
        r = subprocess.run(["chronyd", "-Q", "-f", conf, *user, "-t", "40"],
                           capture_output=True, text=True, timeout=60, check=False)
        text = r.stdout + r.stderr
        offset = "none"
        for line in text.splitlines():
            # "System clock wrong by -17280000.123456 seconds (ignored)"
            if "System clock wrong by" in line:
                offset = line.split("wrong by")[1].split()[0]
        last = None
        try:
            with open(os.path.join(tmp, "measurements.log")) as f:
                rows = [l.split() for l in f if l[:1].isdigit()]
            last = rows[-1] if rows else None
        except OSError:
            pass
        if not last:
            return f"err no reply: {' | '.join(text.splitlines()[-3:])}"
        # date time ip leap stratum t123 t567 tABCD lp rp score offset
        # peer-delay peer-disp root-delay root-disp refid mtxrx
        return (f"offset={offset} replies={len(rows)} leap={last[3]} stratum={last[4]} "
                f"rootdelay={last[14]} rootdisp={last[15]} refid={last[16]}")


def locator(args):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(5)
    for _ in range(3):
        s.sendto(b"\xa1", ("127.0.0.1", args.locator_port))
        try:
            data = s.recv(2048)
            return f"len={len(data)} hex={data.hex()}"
        except socket.timeout:
            continue
    return "err no reply"


def client(args, what):
    d = os.path.join(args.work, "client")
    pidfile = os.path.join(d, "chronyd.pid")
    if what == "start":
        os.makedirs(d, mode=0o700, exist_ok=True)
        conf = os.path.join(d, "chrony.conf")
        with open(conf, "w") as f:
            f.write(f"server 127.0.0.1 port {args.ntp_port} minpoll 0 maxpoll 0\n"
                    f"pidfile {pidfile}\nbindcmdaddress {d}/chronyd.sock\n"
                    f"cmdport 0\nport 0\nlogdir {d}\nlog measurements\n")
        user = ["-u", "root"] if os.geteuid() == 0 else ["-U"]
        r = subprocess.run(["chronyd", "-x", "-f", conf, *user], capture_output=True, text=True,
                           timeout=30, check=False)
        return f"started rc={r.returncode}"
    log = os.path.join(d, "measurements.log")
    marker = os.path.join(d, "mark")

    def samples():
        # date time ip leap stratum t123 t567 tABCD lp rp score offset
        # peer-delay ...: (offset, round-trip delay)
        try:
            with open(log) as f:
                return [(float(l.split()[11]), float(l.split()[12]))
                        for l in f if l[:1].isdigit()]
        except OSError:
            return []
    if what == "mark":
        with open(marker, "w") as f:
            f.write(str(len(samples())))
        return "marked"
    if what == "stop":
        try:
            with open(pidfile) as f:
                os.kill(int(f.read().strip()), signal.SIGTERM)
        except (OSError, ValueError) as e:
            return f"err {e}"
        return "stopped"
    # one plain request (version 4, client mode)
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(2)
    li = stratum = "none"
    try:
        s.sendto(b"\x23" + bytes(47), ("127.0.0.1", args.ntp_port))
        reply = s.recv(512)
        li, stratum = reply[0] >> 6, reply[1]
    except OSError:
        pass
    r = subprocess.run(["chronyc", "-h", f"{d}/chronyd.sock", "-n", "-c", "sources"],
                       capture_output=True, text=True, timeout=10, check=False)
    sel = next((l.split(",")[1] for l in r.stdout.splitlines() if l.startswith("^,")), "none")
    taken = samples()
    try:
        with open(marker) as f:
            since = taken[int(f.read()):]
    except (OSError, ValueError):
        since = taken
    # a sample's offset is off by at most half its round trip: a delay
    # spike of the guest's network moves one sample, a step of the server's
    # time moves all that follow by more than their delays explain
    steps = [max(0.0, abs(b[0] - a[0]) - (a[1] + b[1]) / 2) for a, b in zip(since, since[1:])]
    step = f" maxstep={max(steps):.6f} offset={since[-1][0]:.6f}" if steps else ""
    return f"li={li} stratum={stratum} sel={sel} taken={len(taken)}{step} at={time.time():.1f}"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--work", required=True)
    ap.add_argument("--ntp-port", type=int, required=True)
    ap.add_argument("--locator-port", type=int, required=True)
    ap.add_argument("what", choices=["ntp", "locator", "client"])
    ap.add_argument("sub", nargs="?", choices=["start", "state", "mark", "stop"], default="state")
    args = ap.parse_args()
    if args.what == "client":
        print(client(args, args.sub))
    else:
        print(ntp(args) if args.what == "ntp" else locator(args))


if __name__ == "__main__":
    main()
