"""The real ptppin binary: argument checks and device errors."""
import os
import subprocess

BIN = os.environ.get("PTPPIN_BIN", "")
USAGE = "Usage: %s /dev/ptpX <pin_index> <channel> <enable|disable>\n"


def run(*args):
    p = subprocess.run([BIN, *args], capture_output=True, text=True, timeout=10)
    return p.returncode, p.stdout, p.stderr


def test_three_or_five_arguments_give_usage_before_open():
    # the device does not exist: an attempt to open it would say "open: ..."
    for args in (("/nonexistent/ptp0", "1", "2"),
                 ("/nonexistent/ptp0", "1", "2", "enable", "extra"), ()):
        rc, out, err = run(*args)
        assert (rc, out, err) == (1, "", USAGE % BIN)


def test_capitalised_enable_refused():
    rc, out, err = run("/nonexistent/ptp0", "1", "2", "Enable")
    assert (rc, out, err) == (1, "", USAGE % BIN)


def test_missing_device():
    rc, out, err = run("/nonexistent/ptp0", "1", "2", "enable")
    assert (rc, out, err) == (1, "", "open: No such file or directory\n")


def test_device_that_is_no_ptp_clock(tmp_path):
    f = tmp_path / "ptp0"
    f.write_bytes(b"")
    for word in ("enable", "disable"):
        rc, out, err = run(str(f), "0", "0", word)
        assert (rc, out, err) == (1, "", "PTP_PIN_SETFUNC: Inappropriate ioctl for device\n")
    assert f.read_bytes() == b""


def test_character_device_without_ptp_support():
    rc, out, err = run("/dev/null", "pin", "0", "disable")
    assert (rc, out, err) == (1, "", "PTP_PIN_SETFUNC: Inappropriate ioctl for device\n")


def test_unwritable_device(tmp_path):
    d = tmp_path / "dir"
    d.mkdir()
    rc, out, err = run(str(d), "1", "2", "enable")
    assert (rc, out, err) == (1, "", "open: Is a directory\n")
