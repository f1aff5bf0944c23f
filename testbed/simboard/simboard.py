"""Test helper: run simboard in a private KX_ROOT and drive it.

    with SimBoard() as board:          # starts build/bin/simboard in a temp root
        run(["lcdtext", "Hello"], env=board.env())
        assert board.lcd_rows() == ["Hello" + " " * 15, " " * 20]

The simboard binary is taken from $KX_SIMBOARD (ctest sets it). Control
protocol: one command line, one reply line "ok ..." or "err ..." (see
testbed/hwsim/README.md).
"""
import os
import signal
import socket
import tempfile

import kxproc


class BoardError(Exception):
    pass


def unescape(text):
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            if text[i + 1] == "x" and i + 3 < len(text):
                out.append(int(text[i + 2:i + 4], 16))
                i += 4
                continue
            out += text[i + 1].encode()
            i += 2
            continue
        out += c.encode()
        i += 1
    return out.decode("latin-1")


class SimBoard(kxproc.Harness):
    def __init__(self, root=None, binary=None):
        self.binary = binary or os.environ.get("KX_SIMBOARD", "simboard")
        self.own_root = root is None
        self.root = root or tempfile.mkdtemp(prefix="kxsim.")
        self.proc = None
        self.sock = None
        self.pending = b""

    # lifecycle
    def start(self):
        self.proc = kxproc.Process([self.binary, "--root", self.root], name="simboard")
        try:
            self.proc.wait_output("simboard ready\n")
        except AssertionError as e:
            self.proc.stop()
            raise BoardError("simboard did not start: %s" % e)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(10)
        self.sock.connect(os.path.join(self.root, "run", "simboard.sock"))
        return self

    def stop(self):
        told = False
        if self.sock is not None:
            try:
                self.command("quit")
                told = True
            except (OSError, BoardError):
                pass
            self.sock.close()
            self.sock = None
        # after "quit" the board ends by itself; the signal is for one that
        # could not be told
        self.end_process(sig=None if told else signal.SIGTERM)
        self.remove_root()

    def env(self, **extra):
        """Environment for a program run against this board."""
        e = dict(os.environ)
        e["KX_ROOT"] = self.root
        e.update(extra)
        return e

    # protocol
    def command(self, line):
        """Sends one command, returns the text after "ok"; raises on "err"."""
        self.sock.sendall(line.encode() + b"\n")
        while b"\n" not in self.pending:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise BoardError("board closed the connection")
            self.pending += chunk
        reply, self.pending = self.pending.split(b"\n", 1)
        reply = reply.decode("latin-1")
        if reply == "ok":
            return ""
        if reply.startswith("ok "):
            return reply[3:]
        raise BoardError(reply)

    def lcd_row(self, row):
        return unescape(self.command("lcd row %d" % row))

    def lcd_rows(self):
        return [self.lcd_row(0), self.lcd_row(1)]

    def lcd_state(self):
        return dict(kv.split("=", 1) for kv in self.command("lcd state").split())

    def gpio_get(self, line):
        return int(self.command("gpio get %d" % line))

    def gpio_consumer(self, line):
        c = self.command("gpio consumer %d" % line)
        return None if c == "-" else unescape(c)

    def press(self):
        self.command("button press")

    def release(self):
        self.command("button release")

    def i2c_log(self, bus, addr):
        words = self.command("i2c log %d %d" % (bus, addr)).split()
        return words[1:]

    def i2c_clear(self, bus, addr):
        self.command("i2c clear %d %d" % (bus, addr))
