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
"""
import argparse
import os
import socket
import subprocess
import tempfile


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


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--work", required=True)
    ap.add_argument("--ntp-port", type=int, required=True)
    ap.add_argument("--locator-port", type=int, required=True)
    ap.add_argument("what", choices=["ntp", "locator"])
    args = ap.parse_args()
    print(ntp(args) if args.what == "ntp" else locator(args))


if __name__ == "__main__":
    main()
