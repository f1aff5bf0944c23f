#!/usr/bin/python3
"""Runs the arm64 qemu board for qemu_arm64.sh and wires it to the host.

    qemu_arm64_run.py --dir DIR --boot CMD [--sim ROOT] [--limit S] -- QEMU...

QEMU... is the qemu command line. It must give the PL011 to a listening
socket DIR/uart, the virtio console to stdio and a virtio serial port to a
listening socket DIR/ctl. This program:

- types BOOT_CMD into U-Boot's console on the PL011 (stopping its autoboot)
  and writes what U-Boot prints to DIR/uboot.log;
- then gives the PL011 to the GPS receiver: the bytes are carried both ways
  between qemu and the simulated board's receiver socket
  ROOT/dev/ttyGPS0 (the receiver model answers the guest's commands);
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


def bridge(a, b):
    peers = {a: b, b: a}
    while True:
        for s in select.select(list(peers), [], [])[0]:
            try:
                data = s.recv(4096)
            except OSError:
                data = b""
            if not data:
                return
            try:
                peers[s].sendall(data)
            except OSError:
                return


def serve_uart(args, status):
    try:
        uart = connect(os.path.join(args.dir, "uart"), 60)
        with open(os.path.join(args.dir, "uboot.log"), "wb") as log:
            uboot(uart, args.boot, log)
        status["booted"] = True
        if not args.sim:
            while uart.recv(4096):
                pass
            return
        gps = connect(os.path.join(args.sim, "dev", "ttyGPS0"), 10)
        bridge(uart, gps)
    except (OSError, TimeoutError, EOFError) as e:
        status["uart_error"] = str(e)


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
    threading.Thread(target=serve_uart, args=(args, status), daemon=True).start()
    ctl = connect(os.path.join(args.dir, "ctl"), 30)
    timer = threading.Timer(args.limit, qemu.kill)
    timer.start()
    with open(os.path.join(args.dir, "console.log"), "wb") as console:
        for line in qemu.stdout:
            console.write(line)
            console.flush()
            text = line.decode(errors="replace").strip()
            if text.startswith("KXQGPS "):
                reply = board.command("gps " + text[7:])
                ctl.sendall(reply.encode() + b"\n")
    rc = qemu.wait()
    timer.cancel()
    if "uart_error" in status:
        print(f"qemu_arm64_run: PL011: {status['uart_error']}", file=sys.stderr)
    print(f"qemu_arm64_run: qemu exit {rc}, U-Boot handed over: {status.get('booted', False)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
