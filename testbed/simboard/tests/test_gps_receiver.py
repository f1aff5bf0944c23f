"""simboard's GPS receiver model on its serial socket dev/ttyGPS0.

Checks what reaches the UART side: whole seconds of sentences with valid
checksums and consistent contents, the speed change on PMTK251 and the
garbling of a baud mismatch, the fix, silence, pulse and time controls.
Timing is only checked from below: data may come late on a busy machine,
never earlier than the line speed allows.
"""
import calendar
import os
import re
import socket
import time

import kxproc
import pytest
from simboard import BoardError, SimBoard, unescape

CAP = 20.0  # safety cap of every wait, seconds
HOME = ("4807.0380", "N"), ("01131.0000", "E")  # the receiver's start position


def nmea(body):
    c = 0
    for ch in body.encode():
        c ^= ch
    return "$%s*%02X" % (body, c)


class Line:
    """the UART side of the receiver's serial line"""

    def __init__(self, board):
        self.board = board
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(os.path.join(board.root, "dev/ttyGPS0"))
        self.buf = b""
        self.lines = []  # (host time when the line's last byte was read, bytes)

    def close(self):
        self.sock.close()

    def pump(self, seconds):
        end = time.time() + seconds
        while time.time() < end:
            self.sock.settimeout(max(0.01, end - time.time()))
            try:
                data = self.sock.recv(65536)
            except socket.timeout:
                break
            if not data:
                break
            now = time.time()
            self.buf += data
            while b"\n" in self.buf:
                line, self.buf = self.buf.split(b"\n", 1)
                self.lines.append((now, line + b"\n"))

    def take(self):
        out, self.lines = self.lines, []
        return out

    def bursts(self, count):
        """the next count complete seconds (GGA ... ZDA), as lists of (time, bytes)"""
        found, cur = [], None
        end = time.time() + CAP
        while len(found) < count and time.time() < end:
            self.pump(0.3)
            for t, line in self.take():
                if line[3:6] == b"GGA":
                    cur = []
                if cur is not None:
                    cur.append((t, line))
                    if line[3:6] == b"ZDA":
                        found.append(cur)
                        cur = None
        assert len(found) == count, "no %d whole seconds within %s s" % (count, CAP)
        return found


def state(board):
    return dict(kv.split("=", 1) for kv in board.command("gps state").split())


def wait_state(board, key, pred):
    def check():
        v = state(board)[key]
        return v if pred(v) else None
    return kxproc.wait_for(check, "gps state %s as wanted" % key, CAP, step=0.05)


def next_edge(board, line):
    """waits for a pulse edge and drops what came before it, so the next
    whole second was made after the commands sent so far"""
    e = int(state(board)["edges"])
    wait_state(board, "edges", lambda v: int(v) > e)
    line.pump(0.05)
    line.take()


def log_entries(board):
    words = board.command("gps log").split()
    return [(int(w.split(":", 2)[0]), w.split(":", 2)[1] == "ok", unescape(w.split(":", 2)[2]))
            for w in words[1:]]


def fields(line):
    text = line.decode("ascii")
    body, cs = text.rstrip("\r\n")[1:].split("*")
    assert text.endswith("\r\n") and text[0] == "$"
    assert nmea(body) == text.rstrip("\r\n"), text
    return body.split(",")


@pytest.fixture
def board():
    with SimBoard() as b:
        yield b


def check_second(burst, offset, fix, speed, lat, lon):
    """one second's sentences: order, checksums, one time, consistent counts"""
    kinds = "".join({"GGA": "g", "GSA": "a", "GSV": "v", "RMC": "r", "ZDA": "z"}[l[3:6].decode()]
                    for _, l in burst)
    assert re.fullmatch("ga+v+rz", kinds), kinds
    f = [fields(l) for _, l in burst]
    gga, rmc, zda = f[0], f[-2], f[-1]
    hms = zda[1]
    assert gga[1] == hms and rmc[1] == hms and re.fullmatch(r"\d{6}\.000", hms)
    s = calendar.timegm(time.strptime(hms[:6] + zda[2] + zda[3] + zda[4], "%H%M%S%d%m%Y"))
    assert rmc[9] == zda[2] + zda[3] + zda[4][2:]
    # the sentences describe the second whose edge has passed: they come after
    # it, and no sooner than the line could carry them
    nbytes = sum(len(l) for _, l in burst)
    assert burst[-1][0] >= s - offset + nbytes * 10 / speed

    used = [p for a in f if a[0][2:] == "GSA" for p in a[3:15] if p]
    seen = {}
    for v in (a for a in f if a[0][2:] == "GSV"):
        total, index, inview = int(v[1]), int(v[2]), int(v[3])
        sats = seen.setdefault(v[0][:2], [])
        assert index == len(sats) // 4 + 1 and index <= total
        groups = [v[4 + 4 * k:8 + 4 * k] for k in range((len(v) - 4) // 4)]
        assert len(groups) == min(4, inview - 4 * (index - 1))
        sats += groups
    assert set(seen) >= {"GP", "GL", "GA"}
    snrs = [int(g[3]) for sats in seen.values() for g in sats if g[3]]
    assert snrs and all(15 <= x <= 55 for x in snrs)
    if fix:
        assert gga[6] == "1" and int(gga[7]) == len(used) > 0
        assert all(a[2] == "3" for a in f if a[0][2:] == "GSA")
        assert (gga[2], gga[3], gga[4], gga[5]) == lat + lon and rmc[2] == "A"
        assert (rmc[3], rmc[4], rmc[5], rmc[6]) == lat + lon
    else:
        assert gga[6] == "0" and gga[2] == "" and rmc[2] == "V" and rmc[3] == ""
        assert used == [] and all(a[2] == "1" for a in f if a[0][2:] == "GSA")
    return s


@pytest.mark.parametrize("fix", [1, 0])
def test_seconds_are_whole_consistent_and_on_time(board, fix):
    line = Line(board)
    start = time.time()
    board.command("gps offset 3600")
    board.command("gps position -33.8568 151.2153 58.0")
    board.command("gps fix %d" % fix)
    next_edge(board, line)
    secs = [check_second(b, 3600, fix, 9600, ("3351.4080", "S"), ("15112.9180", "E"))
            for b in line.bursts(3)]
    assert secs == [secs[0], secs[0] + 1, secs[0] + 2]
    assert secs[0] - 3600 >= int(start)
    line.close()


def test_speed_change_and_baud_mismatch(board):
    line = Line(board)
    board.command("gps uart 9600")
    line.sock.sendall(b"$PMTK251,115200*1F\r\n")
    wait_state(board, "speed", lambda v: v == "115200")
    # the UART still runs at 9600: what it hears now is noise, and what it
    # says is not understood
    wait_state(board, "tx_pending", lambda v: v == "0")  # what went out at 9600
    line.pump(0.2)
    line.take()
    line.buf = b""
    noise = b""
    end = time.time() + CAP
    while len(noise) < 200 and time.time() < end:
        line.pump(0.3)
        noise += b"".join(l for _, l in line.take()) + line.buf
        line.buf = b""
    assert len(noise) >= 200 and b"$" not in noise and any(c >= 0x80 for c in noise)
    line.sock.sendall(b"$PMTK251,9600*17\r\n")
    wait_state(board, "rx_pending", lambda v: v == "0")
    assert state(board)["speed"] == "115200"
    log = log_entries(board)
    assert log[0] == (9600, True, "$PMTK251,115200*1F")
    assert log[1][:2] == (115200, False) and "PMTK" not in log[1][2]
    # the UART follows: clean seconds at the new speed, paced at it
    board.command("gps uart 115200")
    line.buf = b""
    for b in line.bursts(2):
        check_second(b, 0, 1, 115200, *HOME)
    # back to 9600 once the command has left the UART
    line.sock.sendall(b"$PMTK251,9600*17\r\n")
    wait_state(board, "rx_pending", lambda v: v == "0")
    board.command("gps uart 9600")
    assert log_entries(board)[2] == (115200, True, "$PMTK251,9600*17")
    assert state(board)["speed"] == "9600"
    line.bursts(1)


COMMANDS = [
    # line, understood, acknowledgement
    (nmea("PMTK353,1,1,1,0,1"), True, nmea("PMTK001,353,3")),
    (nmea("PMTK353,1,1,1,0,1")[:-1] + "0", False, None),  # wrong checksum
    (nmea("PMTK353,0,0,0,0,0"), False, nmea("PMTK001,353,1")),
    (nmea("PMTK353,1,2,0,0,0"), False, nmea("PMTK001,353,1")),
    (nmea("PMTK256,1"), True, nmea("PMTK001,256,3")),
    (nmea("PMTK999"), False, nmea("PMTK001,999,1")),
    (nmea("PMTK251,12345"), False, nmea("PMTK001,251,1")),
    ("$PMTK251,115200", False, None),
    ("hello", False, None),
    (nmea("PMTK251,38400"), True, None),
]


def test_command_lines_table(board):
    line = Line(board)
    line.sock.sendall("".join(c + "\r\n" for c, _, _ in COMMANDS).encode())
    wait_state(board, "rx_pending", lambda v: v == "0")
    log = log_entries(board)
    assert [(t, ok) for _, ok, t in log] == [(c, ok) for c, ok, _ in COMMANDS]
    assert [s for s, _, _ in log] == [9600] * len(COMMANDS)
    st = state(board)
    assert st["speed"] == "38400" and st["systems"] == "1,1,1,0,1"
    wait_state(board, "tx_pending", lambda v: v == "0")
    line.pump(0.3)
    acks = [l.decode().rstrip() for _, l in line.take() if l.startswith(b"$PMTK001")]
    assert acks == [a for _, _, a in COMMANDS if a]
    # BeiDou is now in the seconds
    assert any(l.startswith(b"$BDGSV") for b in line.bursts(1) for _, l in b)
    # a new peer takes the line over
    second = Line(board)
    line.sock.settimeout(CAP)
    while line.sock.recv(65536):
        pass
    second.bursts(1)


def test_pulses_silence_and_time_jump(board):
    line = Line(board)
    board.command("gps pulses 0")
    e = state(board)["edges"]
    s = int(state(board)["seconds"])
    wait_state(board, "seconds", lambda v: int(v) >= s + 2)
    assert state(board)["edges"] == e
    board.command("gps pulses 1")
    wait_state(board, "edges", lambda v: int(v) > int(e))

    board.command("gps silent 1")
    wait_state(board, "tx_pending", lambda v: v == "0")
    line.pump(0.2)
    s, e = state(board)["seconds"], int(state(board)["edges"])
    line.take()
    line.buf = b""
    wait_state(board, "edges", lambda v: int(v) >= e + 2)
    line.pump(0.1)
    assert line.take() == [] and line.buf == b"" and state(board)["seconds"] == s
    board.command("gps silent 0")

    a = check_second(line.bursts(1)[0], 0, 1, 9600, *HOME)
    board.command("gps jump 5")
    next_edge(board, line)
    b = check_second(line.bursts(1)[0], 5, 1, 9600, *HOME)
    assert b - a >= 6
    c = check_second(line.bursts(1)[0], 5, 1, 9600, *HOME)
    assert c == b + 1
    # and back past where it was: a receiver a second behind
    board.command("gps jump -6")
    next_edge(board, line)
    d = check_second(line.bursts(1)[0], -1, 1, 9600, *HOME)
    assert c - 5 <= d < c


def test_position_moved_by_metres(board):
    """A spoofer's drag: metres north and east on the mean Earth sphere
    (1 km north = 0.0089932 degrees; 2 km west at 48 degrees north =
    0.0268803 degrees of longitude), seen in the sentences."""
    line = Line(board)
    board.command("gps position 48.0 11.0 500")
    board.command("gps position move 1000 -2000")
    lat, lon, alt = (float(v) for v in board.command("gps position").split())
    assert abs(lat - 48.0089932) < 2e-7 and abs(lon - 10.9731197) < 2e-7 and alt == 500
    next_edge(board, line)
    check_second(line.bursts(1)[0], 0, 1, 9600, ("4800.5396", "N"), ("01058.3872", "E"))
    for bad in ("1e8 0", "north 0", "5000000 0"):   # the last past the pole
        with pytest.raises(BoardError):
            board.command("gps position move " + bad)
    assert board.command("gps position").split()[:2] == ["48.0089932", "10.9731197"]
    line.close()
