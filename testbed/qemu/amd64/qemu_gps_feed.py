#!/usr/bin/python3
"""GPS receiver stand-in for the qemu smoke test (qemu_smoke.sh).

Connects to the guest's second UART (a qemu Unix socket chardev) and sends
one GGA (fix quality 1) and one ZDA sentence per GPS second, both with the
same time field, the seconds advancing by one every 0.1 s of wall time,
while the guest's console says so: from "KXQ gps start", silent from each
"KXQ gps pause" to the next "KXQ gps resume", over at "KXQ gps stop" (or
when the connection ends or the time limit runs out). Each "KXQ gps noise"
sends 32 KiB of line noise at once. What the guest's driver sends (the
receiver commands) is written to RX_LOG.

    qemu_gps_feed.py SOCKET CONSOLE_LOG LIMIT_SECONDS RX_LOG
"""
import random
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


def noise(seed, size):
    """random bytes with line ends and sentence heads mixed in, some lines
    far longer than the driver keeps"""
    rnd = random.Random(seed)
    heads = [b"$GPGGA,", b"$GNZDA,", b"$GPZDA,123456.5,06,12,2026,", b"\r\n", b"\n",
             b",,,,,,,,,,,,,,", b"$GPGGA,120000.00,1,2,3,4,6,"]
    out = bytearray()
    while len(out) < size:
        if rnd.random() < 0.3:
            out += rnd.choice(heads)
        else:
            out += bytes(rnd.getrandbits(8) for _ in range(rnd.choice([1, 8, 64, 400])))
    return bytes(out[:size])


def console_text(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return b""


def console_state(path):
    """"off", "on" or "stop", from the guest's markers so far"""
    text = console_text(path)
    if b"KXQ gps stop" in text:
        return "stop"
    if b"KXQ gps start" not in text:
        return "off"
    if text.count(b"KXQ gps pause") != text.count(b"KXQ gps resume"):
        return "off"
    return "on"


def main():
    sock_path, console, limit, rx_log = sys.argv[1], sys.argv[2], float(sys.argv[3]), sys.argv[4]
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

    t = 12 * 3600
    sent = 0
    bursts = 0
    received = bytearray()
    next_second = time.monotonic()
    while time.monotonic() < end:
        readable, _, _ = select.select([sock], [], [], 0.02)
        if readable:
            try:
                data = sock.recv(4096)
            except OSError:
                break
            if not data:
                break
            received += data
        if time.monotonic() < next_second:
            continue
        next_second = time.monotonic() + 0.1
        if console_text(console).count(b"KXQ gps noise") > bursts:
            try:
                sock.sendall(noise(bursts, 32768))
            except OSError:
                break
            bursts += 1
            continue
        state = console_state(console)
        if state == "stop":
            break
        if state == "off":
            continue
        try:
            sock.sendall(second(t))
        except OSError:
            break
        t += 1
        sent += 1
    sock.close()
    with open(rx_log, "wb") as f:
        f.write(received)
    print("qemu_gps_feed: %d seconds and %d noise bursts sent, %d bytes received" %
          (sent, bursts, len(received)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
