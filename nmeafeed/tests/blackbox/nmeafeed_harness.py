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
import tempfile

import kxproc

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


class Daemon(kxproc.Harness):
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
        # the module's fix as its attribute shows it: nmeafeed writes NTP
        # samples only while it is above 0
        self.set_module_fix("1")
        self.writer = None
        if make_fifo:
            self.make_fifo()
        self.extra_env = extra_env or {}
        self.user = user  # run the daemon as this uid (the test runs as root)
        self.wrapper = wrapper or []  # command line the daemon is started through
        self.proc = None

    def set_module_fix(self, fix):
        """/sys/pps_filter/gpsfix of the run's root: "0", "1", "2", or None for none."""
        path = os.path.join(self.root, "sys/pps_filter/gpsfix")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if fix is None:
            if os.path.exists(path):
                os.unlink(path)
            return
        with open(path + ".new", "w") as f:
            f.write(fix + "\n")
        os.replace(path + ".new", path)

    def make_fifo(self):
        if not os.path.exists(self.fifo):
            os.mkfifo(self.fifo, 0o600)
        # Read-write: opening does not wait for the reader, and the daemon
        # never sees end of data while the harness lives.
        self.writer = os.open(self.fifo, os.O_RDWR)

    def start(self):
        self.proc = kxproc.Process(self.wrapper + [self.binary], root=self.root,
                                   env=dict(os.environ, **self.extra_env),
                                   separate_stderr=True, user=self.user, name="nmeafeed")
        return self

    def stdout(self):
        return self.proc.output()

    def stderr(self):
        return self.proc.errors()

    def wait_output(self, text, count=1, timeout=kxproc.CAP):
        """Waits until text appears count times on standard output."""
        self.proc.wait_output(text, count, timeout)

    def wait_opened(self, timeout=kxproc.CAP):
        """Waits until the daemon has the FIFO open (and its 1 s pause is over)."""
        self.wait_output("Starting nmeafeed: opening port", timeout=timeout)
        self.proc.wait_until(self.has_fifo_open, "nmeafeed to open %s" % self.fifo, timeout)

    def has_fifo_open(self):
        pid = self.proc.pid
        target = os.path.realpath(self.fifo)
        try:
            fds = os.listdir("/proc/%d/fd" % pid)
        except OSError:
            return False
        for fd in fds:
            try:
                if os.readlink("/proc/%d/fd/%s" % (pid, fd)) == target:
                    return True
            except OSError:
                pass
        return False

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
        return self.proc is not None and self.proc.alive()

    def stop(self):
        self.end_process()
        if self.writer is not None:
            os.close(self.writer)
            self.writer = None
        self.remove_root()


def sat_text(values):
    """The content of a satellite or SNR list: 12 values, "%3d " each."""
    values = list(values) + [0] * (12 - len(values))
    return "".join("%3d " % v for v in values)


def _shm_wait(ready, what, timeout):
    seg = None

    def check():
        nonlocal seg
        seg = seg or shm_attach()
        return seg if seg is not None and ready(seg) else None
    return kxproc.wait_for(check, what, timeout, step=0.005)


def shm_wait_count(samples, timeout=kxproc.CAP):
    """Waits until the segment holds that many samples: count rises by 2
    per sample (before and after the fields)."""
    return _shm_wait(lambda seg: seg.count >= 2 * samples and seg.valid == 1,
                     "segment count %d" % (2 * samples), timeout)


def shm_wait_stamp(clock_sec, timeout=kxproc.CAP):
    """Waits until the segment holds a finished sample of that receiver time."""
    return _shm_wait(lambda seg: seg.valid == 1 and seg.clockTimeStampSec == clock_sec,
                     "a sample of %d in the segment" % clock_sec, timeout)
