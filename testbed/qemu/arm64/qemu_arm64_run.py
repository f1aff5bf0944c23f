#!/usr/bin/python3
"""Runs the arm64 qemu board for qemu_arm64.sh and wires it to the host.

    qemu_arm64_run.py --dir DIR --boot CMD [--sim ROOT] [--limit S] [--host PROBE] -- QEMU...

QEMU... is the qemu command line. It must give the PL011 to a listening
socket DIR/uart, the virtio console to stdio and a virtio serial port to a
listening socket DIR/ctl. This program:

- types BOOT_CMD into U-Boot's console on the PL011 (stopping its autoboot)
  and writes what U-Boot prints to DIR/uboot.log;
- when the guest says "KXQGPS connect", gives the PL011 to the GPS
  receiver: the bytes are carried both ways between qemu and the simulated
  board's receiver socket ROOT/dev/ttyGPS0 (the receiver model answers the
  guest's commands); the receiver's bytes reach the guest only while it
  says its port is open ("KXQGPS rx 1" / "rx 0", see Line);
- writes the guest's console to DIR/console.log and serves the guest's
  "KXQGPS <command>" lines: the command goes to the simulated board's
  control socket as "gps <command>", its reply line back to the guest on
  the control port;
- answers the guest's "KXQTIME" with this machine's real time in ns;
- serves the guest's "KXQHOST <args>" lines: runs PROBE <args> on the host
  (queries of the guest's network services) and sends the last line it
  printed back on the control port;
- ends qemu after --limit seconds if it has not powered off by then.
"""
import argparse
import os
import select
import shlex
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, __file__.rsplit("/", 2)[0] + "/lib")
from kxq import GPS, HOST, RESULT, TIME  # noqa: E402


def connect(path, timeout):
    end = time.monotonic() + timeout
    while True:
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            s.connect(path)
            return s
        except OSError:
            s.close()
            if time.monotonic() > end:
                raise
            time.sleep(0.05)


def wait_for(sock, log, text, timeout):
    seen = b""
    end = time.monotonic() + timeout
    while text not in seen:
        left = end - time.monotonic()
        if left <= 0 or not select.select([sock], [], [], left)[0]:
            raise TimeoutError(f"no {text!r} from U-Boot")
        data = sock.recv(4096)
        if not data:
            raise EOFError("qemu closed the PL011")
        log.write(data)
        log.flush()
        seen = seen[-200:] + data


def uboot(uart, command, log):
    wait_for(uart, log, b"Hit any key to stop autoboot", 180)
    uart.sendall(b"\r")
    wait_for(uart, log, b"=> ", 30)
    # a few bytes at a time: the emulated UART has a small receive FIFO
    for i in range(0, len(command), 8):
        uart.sendall(command[i:i + 8].encode())
        time.sleep(0.01)
    uart.sendall(b"\r")
    wait_for(uart, log, b"Starting kernel", 180)
    # the rest of U-Boot's last line is not for the receiver
    end = time.monotonic() + 1
    while select.select([uart], [], [], max(0, end - time.monotonic()))[0]:
        data = uart.recv(4096)
        if not data:
            raise EOFError("qemu closed the PL011")
        log.write(data)


class Line:
    """the PL011's receive line from the receiver. While the guest's port
    is closed (rx off) the receiver's bytes are lost, as a UART that nobody
    reads loses them. qemu's PL011 would instead keep them queued and stop
    taking input, and a port opened onto such a backlog can miss the
    receive interrupt for good: the guest says when its port is open."""

    def __init__(self, path, uart):
        self.path = path
        self.uart = uart
        self.rx_on = False
        self.lost = 0
        self.lock = threading.Lock()

    def set_rx(self, on):
        with self.lock:
            self.rx_on = on
            if on:
                return
            # what is queued towards the guest goes too: a new connection
            old, self.uart = self.uart, connect(self.path, 10)
            self.uart.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 65536)
        old.shutdown(socket.SHUT_RDWR)
        old.close()

    def to_guest(self, gps):
        while True:
            data = gps.recv(4096)
            if not data:
                return
            with self.lock:
                if not self.rx_on:
                    self.lost += len(data)
                    continue
                # never waits (rx off must get the lock): beyond the
                # socket's buffer a guest that does not read loses bytes
                try:
                    sent = self.uart.send(data, socket.MSG_DONTWAIT)
                except BlockingIOError:
                    sent = 0
                except OSError:
                    return
                self.lost += len(data) - sent

    def from_guest(self, gps):
        while True:
            sock = self.uart
            try:
                data = sock.recv(4096)
            except OSError:
                data = b""
            if data:
                gps.sendall(data)
            elif sock is self.uart:
                return


def serve_uart(args, status, line_ready):
    try:
        uart = connect(os.path.join(args.dir, "uart"), 60)
        with open(os.path.join(args.dir, "uboot.log"), "wb") as log:
            uboot(uart, args.boot, log)
        status["booted"] = True
        while not line_ready.wanted.wait(0.2):
            if select.select([uart], [], [], 0)[0] and not uart.recv(4096):
                raise EOFError("qemu closed the PL011")
        if not args.sim:
            raise EOFError("no simulated board")
        gps = connect(os.path.join(args.sim, "dev", "ttyGPS0"), 10)
        uart.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 65536)
        line = Line(os.path.join(args.dir, "uart"), uart)
        status["line"] = line
        line_ready.set()
        threading.Thread(target=line.to_guest, args=(gps,), daemon=True).start()
        line.from_guest(gps)
    except (OSError, TimeoutError, EOFError) as e:
        status["uart_error"] = str(e)
    finally:
        line_ready.set()


class Board:
    """the simulated board's control socket, one reply line per command"""

    def __init__(self, root):
        self.sock = connect(os.path.join(root, "run", "simboard.sock"), 10) if root else None
        self.buf = b""

    def command(self, line):
        if not self.sock:
            return "err no simulated board"
        self.sock.sendall(line.encode() + b"\n")
        while b"\n" not in self.buf:
            data = self.sock.recv(4096)
            if not data:
                return "err board closed"
            self.buf += data
        reply, self.buf = self.buf.split(b"\n", 1)
        return reply.decode(errors="replace")


def host_probe(cmd, args):
    try:
        out = subprocess.run(shlex.split(cmd) + args.split(), capture_output=True, text=True,
                             timeout=90, check=False).stdout.strip()
    except (OSError, subprocess.TimeoutExpired) as e:
        return f"err {e}"
    return out.splitlines()[-1] if out else "err no output"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--dir", required=True)
    ap.add_argument("--boot", required=True)
    ap.add_argument("--sim")
    ap.add_argument("--limit", type=float, default=280)
    ap.add_argument("--host")
    ap.add_argument("qemu", nargs=argparse.REMAINDER)
    args = ap.parse_args()
    qemu_cmd = args.qemu[1:] if args.qemu[:1] == ["--"] else args.qemu

    board = Board(args.sim)
    qemu = subprocess.Popen(qemu_cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT)
    status = {}
    line_ready = threading.Event()
    line_ready.wanted = threading.Event()
    threading.Thread(target=serve_uart, args=(args, status, line_ready), daemon=True).start()
    ctl = connect(os.path.join(args.dir, "ctl"), 30)
    timer = threading.Timer(args.limit, qemu.kill)
    timer.start()
    t0 = time.monotonic()
    with open(os.path.join(args.dir, "console.log"), "wb") as console, \
            open(os.path.join(args.dir, "timing.log"), "w") as timing:
        for line in qemu.stdout:
            console.write(line)
            console.flush()
            text = line.decode(errors="replace").strip()
            if text.startswith(RESULT):
                # when each step reported, for finding where the time goes
                timing.write(f"{time.monotonic() - t0:7.1f} {text[:100]}\n")
            if text == GPS + "connect":
                line_ready.wanted.set()
                line_ready.wait(15)
                reply = "ok connected" if "line" in status else "err not connected"
                ctl.sendall(reply.encode() + b"\n")
            elif text in (GPS + "rx 0", GPS + "rx 1"):
                if "line" in status:
                    status["line"].set_rx(text.endswith("1"))
                ctl.sendall(b"ok\n")
            elif text == TIME:
                # where the receiver model's pulse edges lie: this clock's seconds
                ctl.sendall(b"%d\n" % time.time_ns())
            elif text.startswith(HOST):
                reply = host_probe(args.host, text[len(HOST):]) if args.host else "err no probe"
                ctl.sendall(reply.encode() + b"\n")
            elif text.startswith(GPS):
                reply = board.command("gps " + text[len(GPS):])
                ctl.sendall(reply.encode() + b"\n")
    rc = qemu.wait()
    timer.cancel()
    if "uart_error" in status:
        print(f"qemu_arm64_run: PL011: {status['uart_error']}", file=sys.stderr)
    lost = status["line"].lost if "line" in status else 0
    print(f"qemu_arm64_run: qemu exit {rc}, U-Boot handed over: {status.get('booted', False)}, "
          f"receiver bytes lost to a closed port: {lost}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
