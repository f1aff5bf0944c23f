#!/usr/bin/python3
"""Runs the arm64 qemu board for qemu_arm64.sh and wires it to the host.

    qemu_arm64_run.py --dir DIR --boot CMD [--sim ROOT] [--limit S] -- QEMU...

QEMU... is the qemu command line. It must give the PL011 to a listening
socket DIR/uart, the virtio console to stdio and a virtio serial port to a
listening socket DIR/ctl. This program:

- types BOOT_CMD into U-Boot's console on the PL011 (stopping its autoboot)
  and writes what U-Boot prints to DIR/uboot.log;
- when the guest says "KXQGPS connect", gives the PL011 to the GPS
  receiver: the bytes are carried both ways between qemu and the simulated
  board's receiver socket ROOT/dev/ttyGPS0 (the receiver model answers the
  guest's commands); bytes qemu does not take at once are lost (overrun);
- writes the guest's console to DIR/console.log and serves the guest's
  "KXQGPS <command>" lines: the command goes to the simulated board's
  control socket as "gps <command>", its reply line back to the guest on
  the control port;
- ends qemu after --limit seconds if it has not powered off by then.
"""
import argparse
import os
import select
import socket
import subprocess
import sys
import threading
import time


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


def forward(src, dst, overruns=None):
    """carries bytes from src to dst until either end closes. With
    overruns (a one-element list), bytes dst cannot take at once are
    dropped and counted, as a UART's receiver loses what overruns its
    FIFO; otherwise the sender waits."""
    while True:
        try:
            data = src.recv(4096)
        except OSError:
            data = b""
        if not data:
            break
        try:
            if overruns is None:
                dst.sendall(data)
            else:
                try:
                    sent = dst.send(data, socket.MSG_DONTWAIT)
                except BlockingIOError:
                    sent = 0
                overruns[0] += len(data) - sent
        except OSError:
            break
    for s in (src, dst):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def serve_uart(args, status, gps_wanted):
    try:
        uart = connect(os.path.join(args.dir, "uart"), 60)
        with open(os.path.join(args.dir, "uboot.log"), "wb") as log:
            uboot(uart, args.boot, log)
        status["booted"] = True
        # Nothing is on the line until the guest asks for the receiver:
        # qemu's PL011 stops taking input while its FIFO is full (instead
        # of losing it), so a receiver talking from boot on would queue
        # stale sentences in the socket for the driver to find.
        while not gps_wanted.wait(0.2):
            if select.select([uart], [], [], 0)[0] and not uart.recv(4096):
                raise EOFError("qemu closed the PL011")
        if not args.sim:
            status["gps"] = "no simulated board"
            return
        gps = connect(os.path.join(args.sim, "dev", "ttyGPS0"), 10)
        # a small send buffer towards qemu: what the guest does not read
        # in time is lost, as on the board
        uart.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 2048)
        overruns = [0]
        status["overruns"] = overruns
        status["gps"] = "connected"
        rx = threading.Thread(target=forward, args=(gps, uart, overruns), daemon=True)
        rx.start()
        gps_wanted.connected.set()
        forward(uart, gps)
        rx.join()
    except (OSError, TimeoutError, EOFError) as e:
        status["uart_error"] = str(e)
    finally:
        gps_wanted.connected.set()


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


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--dir", required=True)
    ap.add_argument("--boot", required=True)
    ap.add_argument("--sim")
    ap.add_argument("--limit", type=float, default=280)
    ap.add_argument("qemu", nargs=argparse.REMAINDER)
    args = ap.parse_args()
    qemu_cmd = args.qemu[1:] if args.qemu[:1] == ["--"] else args.qemu

    board = Board(args.sim)
    qemu = subprocess.Popen(qemu_cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT)
    status = {}
    gps_wanted = threading.Event()
    gps_wanted.connected = threading.Event()
    threading.Thread(target=serve_uart, args=(args, status, gps_wanted), daemon=True).start()
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
            if text.startswith("KXQ "):
                # when each step reported, for finding where the time goes
                timing.write(f"{time.monotonic() - t0:7.1f} {text[:100]}\n")
            if text == "KXQGPS connect":
                gps_wanted.set()
                gps_wanted.connected.wait(15)
                ctl.sendall(f"ok {status.get('gps', 'not connected')}\n".encode())
            elif text.startswith("KXQGPS "):
                reply = board.command("gps " + text[7:])
                ctl.sendall(reply.encode() + b"\n")
    rc = qemu.wait()
    timer.cancel()
    if "uart_error" in status:
        print(f"qemu_arm64_run: PL011: {status['uart_error']}", file=sys.stderr)
    print(f"qemu_arm64_run: qemu exit {rc}, U-Boot handed over: {status.get('booted', False)}, "
          f"receiver bytes lost to overruns: {status.get('overruns', [0])[0]}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
