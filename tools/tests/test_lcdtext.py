"""lcdtext (simulation build) against the simulated board's LCD."""
import os
import signal
import subprocess
import tempfile

import pytest
from simboard import SimBoard

LCDTEXT = os.environ.get("LCDTEXT_BIN", "lcdtext")
LCDTEXT_BOARD = os.environ.get("LCDTEXT_BOARD_BIN")
BLANK = " " * 20


def run(board_env, *args, binary=LCDTEXT):
    return subprocess.run([binary, *args], env=board_env, capture_output=True,
                          timeout=30)


@pytest.fixture
def board():
    with SimBoard() as b:
        yield b


@pytest.mark.parametrize("runs,rows", [
    ([("Hello",)], ["Hello".ljust(20), BLANK]),  # row 1 left blank
    ([("Line one", "Line two")], ["Line one".ljust(20), "Line two".ljust(20)]),
    ([("ABCDEFGHIJKLMNOPQRSTUVWXY", "0123456789012345678901234")],  # cut to 20
     ["ABCDEFGHIJKLMNOPQRST", "01234567890123456789"]),
    ([("first", "second"), ("third",)], ["third".ljust(20), BLANK]),  # every run clears both
])
def test_arguments_fill_the_rows(board, runs, rows):
    for args in runs:
        r = run(board.env(), *args)
        assert (r.returncode, r.stdout) == (0, b"")
    assert board.lcd_rows() == rows


def test_third_argument_changes_nothing(board):
    run(board.env(), "a", "b")
    log_two = board.i2c_log(0, 0x3E)
    board.i2c_clear(0, 0x3E)
    r = run(board.env(), "a", "b", "c")
    assert r.returncode == 0
    assert board.lcd_rows() == ["a".ljust(20), "b".ljust(20)]
    assert board.i2c_log(0, 0x3E) == log_two


def test_width_counts_bytes_not_characters(board):
    text = "Grüße".encode()  # 7 bytes, 5 characters
    run(board.env(), text)
    assert board.lcd_row(0).encode("latin-1") == text + b" " * 13


def test_no_argument_clears_reports_and_exits_255(board):
    run(board.env(), "something", "else")
    r = run(board.env())
    assert r.returncode == 255
    assert r.stdout == b"Missing arguments, exiting\n"
    assert board.lcd_rows() == [BLANK, BLANK]


def test_frames_on_the_bus(board):
    run(board.env(), "Hi")
    log = board.i2c_log(0, 0x3E)
    init = ["w:0038", "w:000c", "w:0001", "w:0006", "w:0002"]
    assert log[:5] == init
    assert log[5] == "w:0080"
    chars = log[6:]
    assert chars == ["w:80004048", "w:80004069"] + ["w:80004020"] * 18
    state = board.lcd_state()
    assert state["display"] == "1" and state["cursor"] == "0" and state["blink"] == "0"
    assert state["two_line"] == "1" and state["increment"] == "1"
    # Nothing arrived while the controller was busy clearing or homing.
    assert state["early"] == "0"


def test_second_row_addresses_0x40(board):
    run(board.env(), "", "x")
    log = board.i2c_log(0, 0x3E)
    assert log.count("w:00c0") == 1
    assert board.lcd_rows() == [BLANK, "x".ljust(20)]


def no_board_env(root):
    e = dict(os.environ)
    e["KX_ROOT"] = root
    return e


@pytest.mark.parametrize("binary", [LCDTEXT, LCDTEXT_BOARD])
def test_no_board_reports_and_still_exits_0(binary):
    if binary is None:
        pytest.skip("board build not given")
    with tempfile.TemporaryDirectory() as root:
        r = run(no_board_env(root), "Hello", binary=binary)
        assert r.returncode == 0
        assert r.stdout == ("Error opening: %s/dev/i2c-0\n" % root).encode()
        r = run(no_board_env(root), binary=binary)
        assert r.returncode == 255
        assert r.stdout == ("Error opening: %s/dev/i2c-0\nMissing arguments, exiting\n"
                            % root).encode()


def test_board_that_went_away(board):
    # A stale socket left by a board that is gone reads as no device.
    root = board.root
    env = board.env()
    board.proc.stop(sig=signal.SIGKILL)
    assert os.path.exists(os.path.join(root, "dev", "i2c-0"))
    r = run(env, "Hello")
    assert r.returncode == 0
    assert r.stdout == ("Error opening: %s/dev/i2c-0\n" % root).encode()
    board.sock.close()
    board.sock = None


def test_display_that_does_not_answer(board):
    # Every frame goes unacknowledged: the tool runs through and exits as
    # usual, the display keeps what it showed, the next run after the chip
    # answers again is whole.
    run(board.env(), "before")
    board.command("lcd nack on")
    board.i2c_clear(0, 0x3E)
    r = run(board.env(), "during")
    assert (r.returncode, r.stdout) == (0, b"")
    log = board.i2c_log(0, 0x3E)
    assert log and all(e.startswith("w!") for e in log)
    assert board.lcd_rows() == ["before".ljust(20), BLANK]
    board.command("lcd nack off")
    assert run(board.env(), "after").returncode == 0
    assert board.lcd_rows() == ["after".ljust(20), BLANK]
