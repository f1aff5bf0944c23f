#!/usr/bin/python3
"""GPS receiver stand-in for the qemu smoke test (qemu_smoke.sh).

Connects to the guest's second UART (a qemu Unix socket chardev), waits
until the guest prints "KXQ gps start" on its console, then sends one GGA
(fix quality 1) and one ZDA sentence per GPS second, both with the same
time field, the seconds advancing by one every 0.1 s of wall time, until
the guest prints "KXQ gps stop", the connection ends or the time limit
runs out. What the guest's driver sends (receiver commands) is read and
dropped.

    qemu_gps_feed.py SOCKET CONSOLE_LOG LIMIT_SECONDS
"""
import os
import select
import socket
import sys
import time


def sentence(body):
    csum = 0
    for ch in body.encode():
        csum ^= ch
    return "$%s*%02X\r\n" % (body, csum)


def second(t):
    hh, mm, ss = t // 3600 % 24, t // 60 % 60, t % 60
    stamp = "%02d%02d%02d.00" % (hh, mm, ss)
    return (sentence("GPGGA,%s,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,," % stamp) +
            sentence("GPZDA,%s,08,12,2026,00,00" % stamp)).encode()


def console_has(path, marker):
    try:
        with open(path, "rb") as f:
            return marker in f.read()
    except OSError:
        return False


def main():
    sock_path, console, limit = sys.argv[1], sys.argv[2], float(sys.argv[3])
    end = time.monotonic() + limit
    sock = None
    while time.monotonic() < end:
        try:
            sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            sock.connect(sock_path)
            break
        except OSError:
            sock.close()
            sock = None
            time.sleep(0.05)
    if sock is None:
        print("qemu_gps_feed: no connection to %s" % sock_path, file=sys.stderr)
        return 1

    started = False
    t = 12 * 3600
    sent = 0
    while time.monotonic() < end:
        readable, _, _ = select.select([sock], [], [], 0.1)
        if readable:
            try:
                if not sock.recv(4096):
                    break
            except OSError:
                break
        if not started:
            started = console_has(console, b"KXQ gps start")
            continue
        if console_has(console, b"KXQ gps stop"):
            break
        try:
            sock.sendall(second(t))
        except OSError:
            break
        t += 1
        sent += 1
    sock.close()
    print("qemu_gps_feed: %d seconds sent" % sent)
    return 0


if __name__ == "__main__":
    sys.exit(main())
