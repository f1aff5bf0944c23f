#!/usr/bin/python3
"""Runs the appliance's user space on the simulated board for a few seconds.

simboard stands in for the board (LCD, GPIO chip, AD9544, antenna monitor,
EEPROM); a FIFO at dev/kx_pps stands in for the kernel module's NMEA device
and files under sys/pps_filter for its attributes. The recorded NMEA session
is played into nmeafeed at one GPS second per second while panelmon drives
the display and locator answers discovery requests. Each second the demo
prints what a person at the unit and on the network would see.

Run as root inside private network and IPC namespaces (scripts/demo does
that), so the locator port and the NTP shared-memory segment stay private.
"""
import os
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from simboard import SimBoard  # noqa: E402


def write(root, path, text):
    full = os.path.join(root, path.lstrip("/"))
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "w") as f:
        f.write(text)


def read(root, path):
    try:
        with open(os.path.join(root, path.lstrip("/"))) as f:
            return f.read()
    except OSError:
        return "(missing)"


def seconds_of(session):
    """Splits the recorded session into GPS seconds (each ends with its ZDA)."""
    second, out = [], []
    with open(session) as f:
        for line in f:
            second.append(line.rstrip("\r\n") + "\r\n")
            if line[3:6] == "ZDA":
                out.append(second)
                second = []
    return out


def locator_query():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(1.0)
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
    ip0 = ".".join(str(b) for b in r[1:5])
    mac0 = ":".join("%02x" % b for b in r[5:11])
    (kount,) = struct.unpack(">I", r[14:18])
    return ("type %d  %s %s  v1.%d.%d  fix %d  ntp %d  %02d:%02d:%02d  '%s'  "
            "name '%s'  alt '%s'" % (r[0], ip0, mac0, r[11], r[12], r[13], kount,
                                     r[18], r[19], r[20], text(r[21:46]),
                                     text(r[46:62]), text(r[72:79])))


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    session = sys.argv[2] if len(sys.argv) > 2 else "samples/session.nmea"
    seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 12
    sim_bin = os.path.join(build, "sim", "bin")
    root = tempfile.mkdtemp(prefix="kxdemo.")

    # What the kernel module and the appliance's scripts would provide.
    for name, value in (("gpsfix", "0"), ("timeknown", "0"),
                        ("holdover_time", "0"), ("gps_time_set", "0"),
                        ("ppsled", "0")):
        write(root, "/sys/pps_filter/" + name, value)
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
    os.makedirs(os.path.join(root, "dev"), exist_ok=True)
    fifo = os.path.join(root, "dev/kx_pps")
    os.mkfifo(fifo)

    procs = []
    with SimBoard(root=root, binary=os.path.join(build, "bin", "simboard")) as board:
        env = board.env()
        logs = {}

        def start(name, argv):
            log = open(os.path.join(root, name + ".log"), "w")
            logs[name] = log.name
            procs.append(subprocess.Popen(argv, env=env, stdout=log,
                                          stderr=subprocess.STDOUT))

        start("nmeafeed", [os.path.join(sim_bin, "nmeafeed")])
        writer = open(fifo, "w")      # the "device" stays open, as the module's does
        start("panelmon", [os.path.join(sim_bin, "panelmon"), "KX time server",
                           "simulated board"])
        start("locator", [os.path.join(build, "bin", "locator")])
        time.sleep(1.5)
        print("start     LCD |%s|  |%s|" % tuple(board.lcd_rows()))

        for n, lines in enumerate(seconds_of(session)[:seconds]):
            if n == 2:          # the module has qualified the fix
                for name, value in (("gpsfix", "1"), ("timeknown", "1"),
                                    ("gps_time_set", "1")):
                    write(root, "/sys/pps_filter/" + name, value)
            writer.write("".join(lines))
            writer.flush()
            time.sleep(1.0)
            rows = board.lcd_rows()
            zda = [l for l in open(logs["nmeafeed"]).read().splitlines() if l.startswith("ZDA")]
            print("second %2d  LCD |%s|  |%s|" % (n + 1, rows[0], rows[1]))
            print("           nmeafeed: %s   numsats %s  coords %s  alt %s" % (
                zda[-1] if zda else "-",
                read(root, "/var/volatile/rundata/numsats.dat"),
                read(root, "/var/volatile/rundata/coords.dat"),
                read(root, "/var/volatile/rundata/altitude.dat")))
            print("           gsnrlist: %s" % read(root, "/var/volatile/rundata/gsnrlist.dat"))
            print("           locator:  %s" % describe_reply(locator_query()))

        print("\nfront-panel pages (button presses):")
        for page in range(1, 6):
            board.press()
            board.release()
            time.sleep(1.2)
            rows = board.lcd_rows()
            print("page %d    |%s|  |%s|" % (page, rows[0], rows[1]))
        print("\nAD9544 status files: bits %s  temperature %s" % (
            read(root, "/var/volatile/rundata/ad9544bits.dat").strip(),
            read(root, "/var/volatile/rundata/ad9544temp.dat").strip()))
        print("antenna: %s mA  %s mW" % (
            read(root, "/var/volatile/rundata/antenna_current.dat").strip(),
            read(root, "/var/volatile/rundata/antenna_power.dat").strip()))

        for p in procs:
            p.terminate()
        for p in procs:
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        writer.close()
        print("\npanelmon said:")
        print("  " + open(logs["panelmon"]).read().replace("\n", "\n  ").rstrip())
    return 0


if __name__ == "__main__":
    sys.exit(main())
