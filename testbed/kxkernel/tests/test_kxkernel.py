"""kxkernel's files as user space sees them: the module's attributes and
character device through FUSE, with their kernel semantics.

The test plays the GPS receiver itself on dev/ttyGPS0, so it decides when
a sentence arrives. Runs under `unshare --mount` (ctest does that).
"""
import errno
import os
import shutil
import signal
import socket
import sys
import tempfile
import threading

import kxproc
import pytest
from kxkernel import KxKernel

LIMIT = 30  # seconds: a safety cap, never a measure


@pytest.fixture
def live(request):
    """kxkernel with its receiver line; parametrise indirectly with the
    module's parameters at load."""
    root = tempfile.mkdtemp(prefix="kxk.")
    os.makedirs(os.path.join(root, "dev"))
    gps = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    gps.bind(os.path.join(root, "dev/ttyGPS0"))
    gps.listen(1)
    gps.settimeout(LIMIT)
    with KxKernel(root, params=getattr(request, "param", ())) as k:
        uart, _ = gps.accept()
        k.uart = uart
        yield k
        uart.close()
    gps.close()
    shutil.rmtree(root, ignore_errors=True)


def gga(second):
    body = "GPGGA,1200%02d.000,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,," % second
    sum_ = 0
    for c in body.encode():
        sum_ ^= c
    return "$%s*%02X\r\n" % (body, sum_)


@pytest.mark.parametrize("name,text,err", [
    ("k1", "2068961", errno.EINVAL),     # beyond the exact-product limit
    ("k1", "-2068961", errno.EINVAL),
    ("gpsfix", "1", errno.EACCES),       # read-only attribute
])
def test_store_error_reaches_writer(live, name, text, err):
    before = live.read_attr(name)
    with pytest.raises(OSError) as e:
        live.write_attr(name, text)
    assert e.value.errno == err
    assert live.read_attr(name) == before


def test_store_then_show(live):
    assert live.write_attr("k1", "300") == 3
    assert live.read_attr("k1").split()[0] == "300"
    names = os.listdir(os.path.join(live.root, "sys/pps_filter"))
    # the nineteen, and the integrity guard's six
    guard = {"gnss_state", "gnss_reason", "gnss_since", "gnss_counts", "gnss_accept", "gnss_home"}
    assert len(names) == 19 + 6 and "k1" in names and guard <= set(names)
    assert all(os.path.isfile(live.attr(n)) for n in names)


def test_one_opener(live):
    fd = os.open(live.device, os.O_RDONLY)
    try:
        with pytest.raises(OSError) as e:
            os.open(live.device, os.O_RDONLY)
        assert e.value.errno == errno.EBUSY
    finally:
        os.close(fd)
    # free again as soon as close() has returned, however quickly the next
    # open follows
    for _ in range(100):
        os.close(os.open(live.device, os.O_RDONLY))


def test_blocking_read_wakes_on_a_sentence(live):
    fd = os.open(live.device, os.O_RDONLY)
    got = []
    reader = threading.Thread(target=lambda: got.append(os.read(fd, 4096)))
    reader.start()
    reader.join(0.5)
    assert reader.is_alive() and not got     # nothing queued: the read sleeps
    live.uart.sendall(gga(1).encode())
    reader.join(LIMIT)
    os.close(fd)
    assert got == [gga(1).rstrip("\r\n").encode() + b"\n"]


def test_reads_are_cut_at_256_bytes(live):
    fd = os.open(live.device, os.O_RDONLY)
    lines = b"".join(gga(s).encode() for s in range(6))
    want = lines.replace(b"\r\n", b"\n")
    live.uart.sendall(lines)
    data = b""
    while len(data) < len(want):
        chunk = os.read(fd, 4096)
        assert 0 < len(chunk) <= 256
        data += chunk
    os.close(fd)
    assert data == want


def test_nonblocking_read_of_an_empty_queue(live):
    fd = os.open(live.device, os.O_RDONLY | os.O_NONBLOCK)
    try:
        with pytest.raises(OSError) as e:
            os.read(fd, 100)
        assert e.value.errno == errno.EAGAIN
    finally:
        os.close(fd)


def test_reader_killed_while_blocked(live):
    # nmeafeed stopped while it waits for a line: the read ends, the device
    # is released and can be opened again
    reader = kxproc.Process([sys.executable, "-c",
                             "import os, sys; fd = os.open(sys.argv[1], os.O_RDONLY); "
                             "print('open', flush=True); os.read(fd, 100)", live.device])
    reader.wait_output("open\n", timeout=LIMIT)
    assert reader.output() == "open\n"
    assert reader.stop(timeout=LIMIT) == -signal.SIGTERM
    for _ in range(LIMIT * 10):     # the release follows the exit
        try:
            os.close(os.open(live.device, os.O_RDONLY))
            return
        except OSError as e:
            assert e.errno == errno.EBUSY
            threading.Event().wait(0.1)
    raise AssertionError("the device stayed busy after its reader died")


def test_module_parameters_are_files_as_their_modes_say(live):
    params = os.path.join(live.root, "sys/module/kx_pps/parameters")
    names = os.listdir(params)
    assert "last_count" in names and "loop_mode" in names and "gnss_radius" in names
    # the others are the site's settings, writable at run time
    for name in set(names) - {"last_count", "loop_mode"}:
        assert os.stat(os.path.join(params, name)).st_mode & 0o777 == 0o644, name
    with open(os.path.join(params, "loop_mode")) as f:
        assert f.read() == "0\n"
    with pytest.raises(PermissionError):
        open(os.path.join(params, "last_count"), "w")
    assert os.stat(os.path.join(params, "last_count")).st_mode & 0o777 == 0o444
    # a site's setting is written at run time as with echo, a bad text refused
    radius = os.path.join(params, "gnss_radius")
    assert os.stat(radius).st_mode & 0o777 == 0o644
    fd = os.open(radius, os.O_WRONLY)
    try:
        assert os.write(fd, b"120\n") == 4
        with pytest.raises(OSError) as e:
            os.write(fd, b"wide\n")
        assert e.value.errno == errno.EINVAL
    finally:
        os.close(fd)
    with open(radius) as f:
        assert f.read() == "120\n"
    # the holdover limit is the attribute holdover_setting's value
    with open(os.path.join(params, "holdover_limit"), "w") as f:
        f.write("600\n")
    assert live.read_attr("holdover_setting").split()[0] == "600"
    # two pulses 25,000,007 cycles apart: last_count is that capture's count
    pulse = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    for count in (1000, 25001007):
        pulse.sendto(b"%d 0 0" % count, os.path.join(live.root, "dev/tpm4"))
    pulse.close()
    def last_count():
        with open(os.path.join(params, "last_count")) as f:
            return f.read()
    kxproc.wait_for(lambda: last_count() == "25000007\n", "last_count 25000007", LIMIT, 0.05)


@pytest.mark.parametrize("live", [["loop_mode=1"]], indirect=True)
def test_parameters_given_at_load(live):
    """As insmod's "name=value": set before the module's init runs."""
    with open(os.path.join(live.root, "sys/module/kx_pps/parameters/loop_mode")) as f:
        assert f.read() == "1\n"


@pytest.mark.parametrize("arg", ["no_such_parameter=1", "loop_mode=one", "loop_mode"])
def test_a_parameter_insmod_would_refuse_stops_the_start(tmp_path, arg):
    p = kxproc.Process([os.environ.get("KX_KERNEL", "kxkernel"), arg],
                       env=dict(os.environ, KX_ROOT=str(tmp_path)), name="kxkernel")
    p.popen.wait(timeout=LIMIT)
    assert p.returncode == 2 and "parameter " + arg in p.output()
