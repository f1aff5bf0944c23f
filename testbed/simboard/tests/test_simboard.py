"""simboard as a process: start-up, shut-down and the control socket."""
import os
import signal
import socket
import subprocess
import tempfile
import time

import kxproc
import pytest
from simboard import BoardError, SimBoard

SIMBOARD = os.environ.get("KX_SIMBOARD", "simboard")
SOCKETS = ["dev/i2c-0", "dev/i2c-1", "dev/gpiochip0", "dev/ttyGPS0", "run/simboard.sock"]


def test_creates_its_sockets_and_removes_them_on_quit():
    with tempfile.TemporaryDirectory() as root:
        board = SimBoard(root=root).start()
        for s in SOCKETS:
            assert os.path.exists(os.path.join(root, s)), s
        board.stop()
        for s in SOCKETS:
            assert not os.path.exists(os.path.join(root, s)), s


def test_sigterm_stops_it_cleanly():
    with tempfile.TemporaryDirectory() as root:
        board = SimBoard(root=root).start()
        assert board.proc.stop(sig=signal.SIGTERM) == 0
        for s in SOCKETS:
            assert not os.path.exists(os.path.join(root, s)), s
        board.sock.close()
        board.sock = None
        board.proc = None


def test_second_board_under_the_same_root_refuses():
    with SimBoard() as board:
        r = subprocess.run([SIMBOARD, "--root", board.root], capture_output=True, timeout=10)
        assert r.returncode == 1
        assert b"already runs" in r.stderr
        assert board.command("ping") == ""


def test_root_is_required():
    env = dict(os.environ)
    env.pop("KX_ROOT", None)
    r = subprocess.run([SIMBOARD], env=env, capture_output=True, timeout=10)
    assert r.returncode == 2
    r = subprocess.run([SIMBOARD, "--bogus"], env=env, capture_output=True, timeout=10)
    assert r.returncode == 2


def test_kx_root_from_the_environment():
    with tempfile.TemporaryDirectory() as root:
        env = dict(os.environ, KX_ROOT=root)
        with kxproc.Process([SIMBOARD], env=env) as p:
            p.wait_output("simboard ready\n")
            assert p.output().startswith("simboard ready\n")
            s = socket.socket(socket.AF_UNIX)
            s.connect(os.path.join(root, "run/simboard.sock"))
            s.sendall(b"quit\n")
            assert s.recv(100) == b"ok\n"
            assert p.stop(sig=None) == 0
            s.close()


def test_pipelined_commands_answer_in_order():
    with SimBoard() as board:
        # The press's reply waits for the debounce period; the commands
        # behind it wait with it, so the replies keep their order.
        board.sock.sendall(b"button press\ngpio get 1\nfrobnicate\nbutton release\ngpio get 1\n")
        replies = []
        buf = b""
        deadline = time.time() + 5
        while len(replies) < 5 and time.time() < deadline:
            buf += board.sock.recv(4096)
            *done, buf = buf.split(b"\n")
            replies += done
        assert replies[0] == b"ok"
        assert replies[1] == b"ok 0"
        assert replies[2].startswith(b"err unknown command")
        assert replies[3] == b"ok"
        assert replies[4] == b"ok 0"  # nobody requested the line: no pull-up


def test_errors_raise_in_the_client():
    with SimBoard() as board:
        with pytest.raises(BoardError):
            board.command("gpio get 99")
        with pytest.raises(BoardError):
            board.command("i2c log 2 0x3e")
        with pytest.raises(BoardError):
            board.command("lcd row 2")
        assert board.gpio_consumer(5) is None
        assert board.lcd_rows() == [" " * 20, " " * 20]  # display still off


def test_button_nowait_drives_the_line():
    # (whether nowait answers before the debounce period is checked with a
    # requested line in simboard_test.cpp)
    with SimBoard() as board:
        board.command("gpio set 1 1")
        board.command("button press nowait")
        assert board.gpio_get(1) == 0
