"""Faults a deployed unit meets, as nmeafeed sees them: an NTP segment
that another user owns, and a run-data directory that is read-only or full.
The segment cases also run the daemon with the capabilities the shipped
systemd unit leaves it (its CapabilityBoundingSet=).
Runs as root under `unshare --ipc --mount`: the segment and the tmpfs
mounted over the run-data directory are private to the test."""
import calendar
import ctypes
import os
import subprocess

import pytest

from nmeafeed_harness import (GGA, NTP_KEY, Daemon, _libc, shm_attach, shm_remove,
                              shm_wait_count, with_checksum, zda)

NOBODY = 65534
IPC_CREAT, IPC_STAT = 0o1000, 2
UNIT = os.path.join(os.path.dirname(__file__), "../../../dist/systemd/nmeafeed.service")
GGA5 = with_checksum("$GPGGA,123520,4807.038,N,01131.000,E,1,05,0.9,545.4,M,46.9,M,,")


def segment_as(uid):
    """Creates the NTP segment (96 bytes, 0600) as that user."""
    pid = os.fork()
    if pid == 0:
        os.setuid(uid)
        os._exit(0 if _libc.shmget(NTP_KEY, 96, IPC_CREAT | 0o600) >= 0 else 1)
    _, status = os.waitpid(pid, 0)
    assert status == 0


def segment_owner():
    buf = ctypes.create_string_buffer(256)  # struct shmid_ds: ipc_perm first
    assert _libc.shmctl(_libc.shmget(NTP_KEY, 0, 0), IPC_STAT, buf) == 0
    return int.from_bytes(buf.raw[4:8], "little")  # ipc_perm.uid after the key


def as_the_unit_runs_it():
    """setpriv with the shipped unit's capability bounding set: root keeps
    only those capabilities across exec, as under systemd."""
    with open(UNIT) as f:
        sets = [l.split("=", 1)[1].split() for l in f if l.startswith("CapabilityBoundingSet=")]
    assert len(sets) == 1, "the unit sets its capability bounding set once"
    keep = ["+" + c.lower().removeprefix("cap_") for c in sets[0]]
    return ["setpriv", "--bounding-set=" + ",".join(["-all"] + keep), "--inh-caps=-all"]


def open_tree_to(d):
    for path in (d.root, os.path.join(d.root, "dev"), os.path.join(d.root, "var"),
                 os.path.join(d.root, "var/volatile")):
        os.chmod(path, 0o755)
    os.chmod(d.rundata, 0o777)
    os.chmod(d.fifo, 0o666)


@pytest.fixture(autouse=True)
def no_segment():
    if not os.environ.get("KX_PRIVATE_IPC"):
        pytest.skip("needs a private IPC namespace (unshare --ipc)")
    shm_remove()
    yield
    shm_remove()


@pytest.mark.parametrize("owner,daemon_user,unit,fed", [
    (NOBODY, None, False, True),  # root with every capability takes any segment
    (0, NOBODY, False, False),    # a daemon without rights to it runs on without the feed
    # as the unit runs it (root without capabilities): the segment chronyd
    # made (as root, 0600, before it drops to its own user) is fed, another
    # user's is not
    (0, None, True, True),
    (NOBODY, None, True, False),
])
def test_segment_owned_by_another_user(owner, daemon_user, unit, fed):
    segment_as(owner)
    with Daemon(user=daemon_user, wrapper=as_the_unit_runs_it() if unit else None) as d:
        open_tree_to(d)
        d.wait_opened()
        d.send_lines([zda("121211.000", 1, 1, 2026), GGA, zda("121212.000", 1, 1, 2026)])
        d.wait_output("ZDA: 1/1/2026 12:12:12\n")
        assert d.read_file("numsats.dat") == "8"
        if fed:
            stamp = calendar.timegm((2026, 1, 1, 12, 12, 12, 0, 0, 0))
            assert shm_wait_count(1).clockTimeStampSec == stamp
            assert d.stderr() == ""
        else:
            assert d.stderr() == "shmget failed: Permission denied\n"
            assert "Error initializing ntpshm!!!\n" in d.stdout()
            assert shm_attach().count == 0
        assert segment_owner() == owner
        assert d.alive()


def mount_tmpfs(path, size):
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d,mode=0755" % size, "tmpfs", path],
                   check=True)


def fill(path):
    """Takes every free byte of the file system at path."""
    with open(os.path.join(path, "filler"), "wb", buffering=0) as f:
        for chunk in (4096, 1):
            try:
                while True:
                    f.write(b"x" * chunk)
            except OSError:
                pass


def one_second(d, gga, n):
    # second n after 12:12:11, after the ZDA of the second before it (a
    # sample is only for a time that follows the previous ZDA)
    d.send_lines([zda("1212%02d.000" % (10 + n), 1, 1, 2026), gga,
                  zda("1212%02d.000" % (11 + n), 1, 1, 2026)])
    shm_wait_count(n)


@pytest.mark.parametrize("fault", ["read-only", "full"])
def test_run_data_read_only_or_full(fault):
    if os.environ.get("KX_PRIVATE_MOUNT") != "1":
        pytest.skip("needs a private mount namespace (unshare --mount)")
    with Daemon() as d:
        mount_tmpfs(d.rundata, 16384)
        try:
            d.wait_opened()
            one_second(d, GGA, 1)
            assert d.read_file("numsats.dat") == "8"
            if fault == "read-only":
                subprocess.run(["mount", "-o", "remount,ro", d.rundata], check=True)
            else:
                fill(d.rundata)
            # the seconds go on: the NTP feed and the daemon do not stop
            one_second(d, GGA5, 2)
            one_second(d, GGA5, 3)
            assert d.alive()
            if fault == "read-only":
                assert d.read_file("numsats.dat") == "8"
            else:
                # never an empty or cut value
                assert d.read_file("numsats.dat") in ("8", "5")
            # room again: the next second writes the files
            if fault == "read-only":
                subprocess.run(["mount", "-o", "remount,rw", d.rundata], check=True)
            else:
                os.unlink(os.path.join(d.rundata, "filler"))
            one_second(d, GGA5, 4)
            assert d.read_file("numsats.dat") == "5"
            assert d.read_file("coords.dat") == "48.117,11.516"
        finally:
            subprocess.run(["umount", "-l", d.rundata], check=False)
