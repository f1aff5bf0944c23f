"""Black-box tests of the locator service: the real binary, its files in a
KX_ROOT tree, requests over UDP on loopback in a private network namespace."""
import os
import random
import signal
import socket
import struct
import subprocess
import time
from datetime import datetime, timedelta, timezone

import kxproc
import pytest
from locator_harness import (DEFAULT_FILES, DEFAULT_REPLY, PORT, SOURCES,
                             Locator, client, expected_reply, hms_between,
                             load, receive, request, without_time)


@pytest.fixture(scope="module")
def service(tmp_path_factory):
    work = tmp_path_factory.mktemp("locator")
    root = work / "root"
    root.mkdir()
    loc = Locator(str(root), str(work))
    yield loc
    loc.stop()


@pytest.fixture
def loc(service):
    """The running service with a fresh, complete file tree."""
    service.tree.reset()
    yield service
    assert service.proc.alive(), "locator died:\n" + service.output()


@pytest.fixture
def sock():
    s = client()
    yield s
    s.close()


def put(loc, rel, content):
    """Writes the file, or removes it when content is None."""
    if content is None:
        loc.tree.remove(rel)
    else:
        loc.tree.write(rel, content)


def ask(sock, payload=b"\xa1"):
    reply, window = request(sock, payload)
    assert reply is not None, "no reply"
    assert len(reply) == 80
    return reply, window


# --- the reply, field by field ---------------------------------------------

def test_full_reply_with_fix(loc, sock):
    reply, window = ask(sock)
    assert without_time(reply) == DEFAULT_REPLY
    assert hms_between(reply, window)


@pytest.mark.parametrize("content", ["0\n", "256\n", "none\n"])  # 256: low 8 bits only
def test_no_fix_sends_no_time_and_no_fix_text(loc, sock, content):
    loc.tree.write("sys/pps_filter/gpsfix", content)
    reply, _ = ask(sock)
    assert reply == DEFAULT_REPLY[:13] + b"\0" + DEFAULT_REPLY[14:21] + \
        b"No Fix" + b"\0" * 19 + DEFAULT_REPLY[46:]


def test_fix_byte_keeps_low_8_bits(loc, sock):
    loc.tree.write("sys/pps_filter/gpsfix", "258\n")
    reply, window = ask(sock)
    assert reply[13] == 2
    assert hms_between(reply, window)


def test_unreadable_fix_counts_as_fix(loc, sock):
    loc.tree.remove("sys/pps_filter/gpsfix")
    reply, window = ask(sock)
    assert reply[13] == 255
    assert hms_between(reply, window)
    assert reply[21:46] == DEFAULT_REPLY[21:46]
    assert "Error opening: %s/sys/pps_filter/gpsfix\n" % loc.tree.root in loc.output()


@pytest.mark.parametrize("content,expected", [
    ("258\n", b"\x00\x00\x01\x02"),
    ("0", b"\x00\x00\x00\x00"),
    ("-2\n", b"\xff\xff\xff\xfe"),
    ("2147483647", b"\x7f\xff\xff\xff"),
    ("junk", b"\x00\x00\x00\x00"),
    ("", b"\x00\x00\x00\x00"),
    (None, b"\xff\xff\xff\xff"),  # missing
])
def test_ntp_counter_big_endian(loc, sock, content, expected):
    put(loc, "var/volatile/rundata/ntp_kount", content)
    reply, _ = ask(sock)
    assert reply[14:18] == expected
    assert reply[:14] == DEFAULT_REPLY[:14]


@pytest.mark.parametrize("content,expected", [
    ("v1.4.17-MX93\n", (4, 17)),
    ("v1.0.255-MX93", (0, 255)),
    ("v1.300.2-MX93", (300 & 0xFF, 2)),
    ("v1.7-MX93", (7, 0)),
    ("v2.4.17-MX93", (0, 0)),
    ("", (0, 0)),
    (None, (0, 0)),
])
def test_version_numbers(loc, sock, content, expected):
    put(loc, "etc/version.num", content)
    reply, _ = ask(sock)
    assert (reply[11], reply[12]) == expected
    assert without_time(reply)[13:] == DEFAULT_REPLY[13:]


@pytest.mark.parametrize("content,field", [
    ("ABCDEFGHIJKLMNOPQRST\n", b"ABCDEFGHIJKLMNOP"),      # 20 chars: first 16, no NUL
    ("ABCDEFGHIJKLMNOP", b"ABCDEFGHIJKLMNOP"),            # exactly 16
    ("ABCDEFGHIJKLMNO", b"ABCDEFGHIJKLMNO\0"),            # 15: terminated
    ("  rack-7 spare\n", b"rack-7" + b"\0" * 10),         # first word only
    ("N" * 300, b"N" * 16),                               # very long word
    ("", b"\0" * 16),
])
def test_device_name_cut_to_field(loc, sock, content, field):
    loc.tree.write("etc/device_name", content)
    reply, _ = ask(sock)
    assert reply[46:62] == field
    assert reply[62:] == DEFAULT_REPLY[62:]
    assert without_time(reply)[:46] == DEFAULT_REPLY[:46]


@pytest.mark.parametrize("content,field", [
    ("1234.5678M\n", b"1234.56"),        # 10 chars: first 7
    ("12.3M", b"12.3M\0\0"),
    ("1234567", b"1234567"),
    (" 88.1M extra", b"88.1M\0\0"),
    ("", b"\0" * 7),                    # before the first GGA: zeros
    (None, b"\0" * 7),                  # missing: zeros, never the position
])
def test_altitude_cut_to_field(loc, sock, content, field):
    put(loc, "var/volatile/rundata/altitude.dat", content)
    reply, _ = ask(sock)
    assert reply[72:79] == field
    assert reply[79] == 0
    assert without_time(reply)[:72] == DEFAULT_REPLY[:72]


@pytest.mark.parametrize("content,field", [
    ("5130.1234N,00007.5678W,extra-long", b"5130.1234N,00007.5678W,ex"),   # cut at 25
    ("4807.038N,01131.000E", b"4807.038N,01131.000E\0\0\0\0\0"),
    ("first second", b"first" + b"\0" * 20),
    ("P" * 60, b"P" * 25),
    ("", b"\0" * 25),
    (None, b"\0" * 25),  # missing, with a fix
])
def test_position_text_cut_to_field(loc, sock, content, field):
    put(loc, "var/volatile/rundata/coords.dat", content)
    reply, _ = ask(sock)
    assert reply[21:46] == field
    assert reply[46:] == DEFAULT_REPLY[46:]


@pytest.mark.parametrize("content,addr", [
    ("192.168.1.20", (192, 168, 1, 20)),
    ("10.1\n", (10, 1, 0, 0)),
    ("300.256.-1.7", (300 & 0xFF, 0, 255, 7)),
    ("none", (0, 0, 0, 0)),
])
def test_port0_address(loc, sock, content, addr):
    loc.tree.write("var/volatile/rundata/addr0.dat", content)
    reply, _ = ask(sock)
    assert tuple(reply[1:5]) == addr
    assert reply[62:66] == bytes((10, 20, 30, 40))


@pytest.mark.parametrize("content,mac", [
    ("AA:BB:CC:DD:EE:FF\n", (0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF)),
    ("0:1:2:3:4:5", (0, 1, 2, 3, 4, 5)),
    ("de:ad:be", (0xDE, 0xAD, 0xBE, 0, 0, 0)),
    ("1ff:2:3:4:5:6", (0xFF, 2, 3, 4, 5, 6)),
])
def test_port0_mac(loc, sock, content, mac):
    loc.tree.write("sys/class/net/eth0/address", content)
    reply, _ = ask(sock)
    assert tuple(reply[5:11]) == mac
    assert reply[66:72] == DEFAULT_REPLY[66:72]


def test_port1_fields_never_carry_port0_values(loc, sock):
    loc.tree.remove("var/volatile/rundata/addr1.dat")
    loc.tree.remove("sys/class/net/eth1/address")
    reply, _ = ask(sock)
    assert reply[62:72] == b"\0" * 10
    assert reply[1:11] == DEFAULT_REPLY[1:11]

    loc.tree.write("var/volatile/rundata/addr1.dat", "172.16\n")
    loc.tree.write("sys/class/net/eth1/address", "02:03\n")
    reply, _ = ask(sock)
    assert reply[62:66] == bytes((172, 16, 0, 0))
    assert reply[66:72] == bytes((2, 3, 0, 0, 0, 0))


def output_holds(loc, start, text, cap=kxproc.CAP):
    """Waits until the service's output from start on holds text."""
    return loc.proc.wait_output(text, start=start, timeout=cap)


def test_all_files_missing(loc, sock):
    for rel in SOURCES:
        loc.tree.remove(rel)
    before = len(loc.output())
    reply, window = ask(sock)
    assert without_time(reply) == expected_reply(fix=255, ntp_kount=-1, position="")
    assert hms_between(reply, window)
    # the reply can overtake the service's last line on its way to us
    assert output_holds(loc, before, "Locator Sent 80 bytes to: 127.0.0.1\n")
    lines = loc.output()[before:].splitlines()
    root = loc.tree.root
    # one message per source, in the order they are read
    assert lines[:10] == ["Error opening: %s/%s" % (root, rel) for rel in SOURCES]
    assert lines[10] == "Locator Sent 80 bytes to: 127.0.0.1"


def tzif(offset, abbr):
    """A TZif (version 1) zone file of one fixed offset from UTC."""
    header = b"TZif" + b"\0" * 16 + struct.pack(">6l", 0, 0, 0, 0, 1, len(abbr) + 1)
    return header + struct.pack(">lBB", offset, 0, 0) + abbr + b"\0"


def _exe(pid):
    try:
        return os.readlink("/proc/%d/exe" % pid)
    except OSError:
        return None


def ask_in_netns(pid):
    """One request from inside the network namespace of process pid."""
    client_code = ("import socket,sys;s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM);"
                   "s.settimeout(3);s.sendto(b'\\xa1',('127.0.0.1',%d));"
                   "sys.stdout.write(s.recv(4096).hex())" % PORT)
    p = subprocess.run(["nsenter", "--net=/proc/%d/ns/net" % pid, "/usr/bin/python3", "-c",
                        client_code], capture_output=True, text=True, timeout=10)
    assert p.returncode == 0, p.stderr
    return bytes.fromhex(p.stdout)


def zone_time_between(reply, offset, before):
    """True when bytes 18..20 hold the time in a zone of the given offset
    some time between `before` (UTC) and now."""
    t = (before + timedelta(seconds=offset)).replace(microsecond=0)
    end = datetime.now(timezone.utc) + timedelta(seconds=offset)
    while t <= end:
        if (t.hour, t.minute, t.second) == tuple(reply[18:21]):
            return True
        t += timedelta(seconds=1)
    return False


@pytest.mark.skipif(not os.path.exists("/etc/localtime"), reason="no /etc/localtime to cover")
def test_time_zone_change_seen_without_restart(tmp_path):
    # The unit's time zone is /etc/localtime (TZ unset). A new zone written
    # there while the service runs applies to the next reply. The service
    # runs in a mount namespace with a zone file of the test's own over
    # /etc/localtime, and in a network namespace of its own (the shared
    # service holds the port here).
    zone = tmp_path / "localtime"
    zone.write_bytes(tzif(2 * 3600, b"AAA"))
    root = tmp_path / "root"
    root.mkdir()  # no files: the fix byte is 255, so the time is sent
    env = {k: v for k, v in os.environ.items() if k != "TZ"}
    env["KX_ROOT"] = str(root)
    script = ('ip link set lo up && mount --bind "$1" /etc/localtime && exec "$0"')
    proc = kxproc.Process(["unshare", "--net", "--mount", "sh", "-c", script,
                           os.environ["LOCATOR_BIN"], str(zone)], env=env, name="locator")
    try:
        def bound():
            # Until unshare has exec'd the service, the process still sees
            # this test's network, where the shared service holds the port.
            return (_exe(proc.pid) == os.path.realpath(os.environ["LOCATOR_BIN"])
                    and kxproc.udp_port_bound(PORT, proc.pid))
        proc.wait_until(bound, "locator to bind port 7372 in its own network")
        before = datetime.now(timezone.utc)
        assert zone_time_between(ask_in_netns(proc.pid), 2 * 3600, before)

        # the new zone, written in place with a new modification time
        zone.write_bytes(tzif(-7 * 3600, b"BBB"))
        os.utime(zone, (1000000000, 1000000000))
        before = datetime.now(timezone.utc)
        assert zone_time_between(ask_in_netns(proc.pid), -7 * 3600, before)
    finally:
        proc.stop(sig=signal.SIGKILL)


def test_values_are_read_afresh_for_every_request(loc, sock):
    reply, _ = ask(sock)
    assert reply[46:57] == b"timesrv-lab"
    loc.tree.write("etc/device_name", "renamed")
    loc.tree.write("var/volatile/rundata/ntp_kount", "7")
    reply, _ = ask(sock)
    assert reply[46:54] == b"renamed\0"
    assert reply[14:18] == b"\0\0\0\x07"


def test_no_file_is_written(loc, sock):
    before = sorted(os.walk(loc.tree.root))
    contents = {rel: open(loc.tree.path(rel), "rb").read() for rel in DEFAULT_FILES}
    ask(sock)
    assert sorted(os.walk(loc.tree.root)) == before
    assert contents == {rel: open(loc.tree.path(rel), "rb").read() for rel in DEFAULT_FILES}


# --- requests ---------------------------------------------------------------

def test_reply_goes_to_the_requesters_address_and_port(loc):
    subprocess.run(["ip", "addr", "add", "10.0.0.5/32", "dev", "lo"], check=False)
    s = client("10.0.0.5", 50000)
    try:
        before = len(loc.output())
        s.sendto(b"\xa1", ("10.0.0.5", PORT))
        data = receive(s, 10.0)
        assert data is not None and len(data) == 80 and data[0] == 6
        assert output_holds(loc, before, "Locator Sent 80 bytes to: 10.0.0.5\n")
    finally:
        s.close()


@pytest.mark.parametrize("payload", [bytes([first]) + b"\xa1" * 20
                                     for first in (0xA0, 0x00, 0xA2, 0xFF, 0x06)] + [b""])
def test_other_first_bytes_or_empty_get_no_reply(loc, sock, payload):
    sock.sendto(payload, ("127.0.0.1", PORT))
    assert receive(sock, 0.5) is None
    # the service is still there and answers the next proper request
    ask(sock)


@pytest.mark.parametrize("payload", [b"\xa1\xa0\x00garbage"] + [
    b"\xa1" + bytes(random.Random(size).randrange(256) for _ in range(size - 1))
    for size in (1500, 1501, 4000, 65000)])
def test_rest_of_request_ignored_and_answered_once(loc, sock, payload):
    reply, _ = ask(sock, payload)
    assert without_time(reply) == DEFAULT_REPLY
    # a cut-off tail is not taken for a further request
    assert receive(sock, 0.4) is None


def test_random_datagrams(loc, sock):
    rnd = random.Random(7372)
    wanted = 0
    for _ in range(30):
        n = rnd.choice([0, 1, 2, 80, 1499, 1500, 1501, 3000])
        first = rnd.choice([0xA1, 0xA1, rnd.randrange(256)])
        data = (bytes([first]) + rnd.randbytes(n - 1)) if n else b""
        sock.sendto(data, ("127.0.0.1", PORT))
        if n and first == 0xA1:
            wanted += 1
    got = 0
    while receive(sock, 1.0) is not None:
        got += 1
    assert got == wanted


def test_start_line_printed_first(loc):
    assert loc.output().startswith("Locator Service Started\n")


def test_bind_retried_until_the_port_is_free(tmp_path, service):
    # The port is held (here by the running service, at boot by another
    # one): a second service reports it and tries again every second, then
    # answers once the port is free.
    service.tree.reset()
    out = tmp_path / "other.out"
    other = kxproc.Process([os.environ["LOCATOR_BIN"]], root=service.tree.root, log=str(out))
    try:
        other.wait_output("Error binding socket\n", count=2)
        assert other.output().startswith("Locator Service Started\nError binding socket\n")
        service.stop()
        s = client()
        reply = None
        deadline = time.monotonic() + kxproc.CAP
        while reply is None and time.monotonic() < deadline:
            reply, _ = request(s, timeout=0.5)
        s.close()
        assert reply is not None and len(reply) == 80
        # The line is printed after the send.
        other.wait_output("Locator Sent 80 bytes to: 127.0.0.1\n")
    finally:
        other.stop()
        if not service.proc.alive():
            service.start()
    assert not other.killed, "locator did not end on SIGTERM"


# --- load -------------------------------------------------------------------

@pytest.mark.slow
def test_thousand_requests_all_answered_in_full(loc):
    answered, bad, elapsed = load(loc, 1000)
    print("\nlocator load: %d answered, %d bad, %.1f s, %.1f requests/s"
          % (answered, bad, elapsed, answered / elapsed))
    assert bad == 0
    assert answered == 1000
