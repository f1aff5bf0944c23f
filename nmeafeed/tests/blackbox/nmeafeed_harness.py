"""Runs the nmeafeed binary in a private KX_ROOT tree and watches it.

The tree holds dev/kx_pps as a FIFO (the kernel module's character device
stand-in) and var/volatile/rundata for the status files. The harness keeps
a writer of the FIFO open for the daemon's whole life (so it never sees end
of data), collects its standard output and standard error, and reads the
NTP shared-memory segment with the System V calls through ctypes. Tests
that read the segment run under `unshare --ipc`, so the segment is private.
"""
import ctypes
import ctypes.util
import os
import shutil
import subprocess
import tempfile
import threading
import time

NTP_KEY = 0x4E545030
# The standard GGA example with its published checksum, and the recorded
# 75-second session.
GGA = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47"
SAMPLE = os.path.join(os.path.dirname(__file__), "../../../samples/session.nmea")

_libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
_libc.shmget.argtypes = [ctypes.c_int, ctypes.c_size_t, ctypes.c_int]
_libc.shmget.restype = ctypes.c_int
_libc.shmat.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
_libc.shmat.restype = ctypes.c_void_p
_libc.shmdt.argtypes = [ctypes.c_void_p]
_libc.shmctl.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_void_p]
IPC_CREAT = 0o1000
IPC_RMID = 0
SHM_RDONLY = 0o10000


class ShmTime(ctypes.Structure):
    """The 96-byte segment, field by field, native layout."""
    _fields_ = [
        ("mode", ctypes.c_int32),
        ("count", ctypes.c_int32),
        ("clockTimeStampSec", ctypes.c_int64),
        ("clockTimeStampUSec", ctypes.c_int32),
        ("pad0", ctypes.c_int32),
        ("receiveTimeStampSec", ctypes.c_int64),
        ("receiveTimeStampUSec", ctypes.c_int32),
        ("leap", ctypes.c_int32),
        ("precision", ctypes.c_int32),
        ("nsamples", ctypes.c_int32),
        ("valid", ctypes.c_int32),
        ("clockTimeStampNSec", ctypes.c_uint32),
        ("receiveTimeStampNSec", ctypes.c_uint32),
        ("dummy", ctypes.c_int32 * 8),
        ("pad1", ctypes.c_int32),
    ]


assert ctypes.sizeof(ShmTime) == 96


def shm_attach():
    """The segment of unit 0 (read-only view), or None when absent."""
    shm_id = _libc.shmget(NTP_KEY, 96, 0)
    if shm_id < 0:
        return None
    addr = _libc.shmat(shm_id, None, SHM_RDONLY)
    if addr is None or addr == ctypes.c_void_p(-1).value:
        return None
    return ShmTime.from_address(addr)


def shm_create(size):
    """Creates a segment under the key (to provoke set-up failures)."""
    shm_id = _libc.shmget(NTP_KEY, size, IPC_CREAT | 0o600)
    assert shm_id >= 0, os.strerror(ctypes.get_errno())
    return shm_id


def shm_remove():
    shm_id = _libc.shmget(NTP_KEY, 0, 0)
    if shm_id >= 0:
        _libc.shmctl(shm_id, IPC_RMID, None)


def with_checksum(body):
    s = 0
    for ch in body[1:]:
        s ^= ord(ch)
    return "%s*%02X" % (body, s)


def zda(hhmmss_sss, day, month, year):
    return with_checksum("$GPZDA,%s,%02d,%02d,%04d,00,00" % (hhmmss_sss, day, month, year))


class Daemon:
    """One nmeafeed process in its own KX_ROOT tree."""

    def __init__(self, binary=None, root=None, make_fifo=True, extra_env=None, user=None,
                 wrapper=None):
        self.binary = binary or os.environ["NMEAFEED_BIN"]
        self.own_root = root is None
        self.root = root or tempfile.mkdtemp(prefix="nmeafeed.")
        self.rundata = os.path.join(self.root, "var/volatile/rundata")
        self.fifo = os.path.join(self.root, "dev/kx_pps")
        os.makedirs(os.path.join(self.root, "dev"), exist_ok=True)
        os.makedirs(self.rundata, exist_ok=True)
        self.writer = None
        if make_fifo:
            self.make_fifo()
        self.extra_env = extra_env or {}
        self.user = user  # run the daemon as this uid (the test runs as root)
        self.wrapper = wrapper or []  # command line the daemon is started through
        self.proc = None
        self.out = bytearray()
        self.err = bytearray()
        self.lock = threading.Condition()
        self.threads = []

    def make_fifo(self):
        if not os.path.exists(self.fifo):
            os.mkfifo(self.fifo, 0o600)
        # Read-write: opening does not wait for the reader, and the daemon
        # never sees end of data while the harness lives.
        self.writer = os.open(self.fifo, os.O_RDWR)

    def start(self):
        env = dict(os.environ)
        env["KX_ROOT"] = self.root
        env.update(self.extra_env)
        self.proc = subprocess.Popen(self.wrapper + [self.binary], env=env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     user=self.user)
        for stream, buf in ((self.proc.stdout, self.out), (self.proc.stderr, self.err)):
            t = threading.Thread(target=self._collect, args=(stream, buf), daemon=True)
            t.start()
            self.threads.append(t)
        return self

    def _collect(self, stream, buf):
        while True:
            chunk = stream.read1(65536)
            if not chunk:
                break
            with self.lock:
                buf += chunk
                self.lock.notify_all()

    def stdout(self):
        with self.lock:
            return self.out.decode("latin-1")

    def stderr(self):
        with self.lock:
            return self.err.decode("latin-1")

    def wait_output(self, text, count=1, timeout=10.0):
        """Waits until text appears count times on standard output."""
        deadline = time.monotonic() + timeout
        with self.lock:
            while self.out.decode("latin-1").count(text) < count:
                left = deadline - time.monotonic()
                if left <= 0 or (self.proc.poll() is not None):
                    raise AssertionError("timed out waiting for %r x%d; output so far: %r"
                                         % (text, count, self.out.decode("latin-1")[-2000:]))
                self.lock.wait(min(left, 0.1))

    def wait_opened(self, timeout=10.0):
        """Waits until the daemon has the FIFO open (and its 1 s pause is over)."""
        self.wait_output("Starting nmeafeed: opening port", timeout=timeout)
        pid = self.proc.pid
        target = os.path.realpath(self.fifo)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                for fd in os.listdir("/proc/%d/fd" % pid):
                    try:
                        if os.readlink("/proc/%d/fd/%s" % (pid, fd)) == target:
                            return
                    except OSError:
                        pass
            except OSError:
                pass
            time.sleep(0.02)
        raise AssertionError("nmeafeed did not open %s" % self.fifo)

    def send(self, data):
        if isinstance(data, str):
            data = data.encode("latin-1")
        view = memoryview(data)
        while view:
            n = os.write(self.writer, view)
            view = view[n:]

    def send_lines(self, lines):
        self.send("".join(line + "\r\n" for line in lines))

    def read_file(self, name):
        with open(os.path.join(self.rundata, name), "rb") as f:
            return f.read().decode("latin-1")

    def has_file(self, name):
        return os.path.exists(os.path.join(self.rundata, name))

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    def stop(self):
        if self.proc is not None:
            if self.proc.poll() is None:
                self.proc.terminate()
                try:
                    self.proc.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    self.proc.kill()
                    self.proc.wait()
            for t in self.threads:
                t.join(timeout=5)
            self.proc.stdout.close()
            self.proc.stderr.close()
            self.proc = None
        if self.writer is not None:
            os.close(self.writer)
            self.writer = None
        if self.own_root:
            shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


def sat_text(values):
    """The content of a satellite or SNR list: 12 values, "%3d " each."""
    values = list(values) + [0] * (12 - len(values))
    return "".join("%3d " % v for v in values)


def shm_wait_count(samples, timeout=10.0):
    """Waits until the segment holds that many samples: count rises by 2
    per sample (before and after the fields)."""
    deadline = time.monotonic() + timeout
    seg = None
    while time.monotonic() < deadline:
        seg = seg or shm_attach()
        if seg is not None and seg.count >= 2 * samples and seg.valid == 1:
            return seg
        time.sleep(0.005)
    raise AssertionError("segment count did not reach %d" % (2 * samples))


def shm_wait_stamp(clock_sec, timeout=10.0):
    """Waits until the segment holds a finished sample of that receiver time."""
    deadline = time.monotonic() + timeout
    seg = None
    while time.monotonic() < deadline:
        seg = seg or shm_attach()
        if seg is not None and seg.valid == 1 and seg.clockTimeStampSec == clock_sec:
            return seg
        time.sleep(0.005)
    raise AssertionError("no sample of %d in the segment" % clock_sec)
