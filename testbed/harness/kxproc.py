"""Starting, watching and ending the testbed's processes.

Every test, harness and launcher of the testbed runs its programs (the
daemons, simboard, kxkernel, chronyd, node-exporter) through this module,
so that each one is started, waited for and torn down the same way:

    with kxproc.Process([binary], root=tree, log=path) as p:
        p.wait_output("Starting nmeafeed")
        kxproc.wait_for(lambda: os.path.exists(status), "the status file", watch=[p])
    # here the process has had SIGTERM, then SIGKILL if it lingered, and is reaped

A wait ends as soon as its condition holds; its cap only stops a run that
would otherwise hang, so it is generous and never a measure of speed. A
failed wait says what it waited for and shows the output of the processes
it watched. A process that is neither stopped nor used as a context
manager is still killed and reaped when it is collected or the
interpreter exits, so a failing test leaves no stray process behind.
"""
import configparser
import os
import shutil
import signal
import subprocess
import sys
import threading
import time
import weakref

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# Cap of every wait unless the caller names another: far above what any
# condition here needs on a loaded machine.
CAP = 30.0
# How long stop() gives a process between SIGTERM and SIGKILL.
STOP_GRACE = 5.0
# How much of a process's output a failure message shows.
TAIL = 4000


def _ended(popen):
    """True once the process has exited. It is not reaped here: until
    stop() reaps it, its pid stays reserved, so signalling its process
    group can never reach an unrelated process that got the pid again."""
    if popen.returncode is not None:
        return True
    try:
        return os.waitid(os.P_PID, popen.pid, os.WEXITED | os.WNOHANG | os.WNOWAIT) is not None
    except ChildProcessError:
        return True


def _signal_group(popen, sig):
    """sig to the program and whatever it started (its own process group),
    while the program is not reaped yet."""
    if popen.returncode is None:
        try:
            os.killpg(popen.pid, sig)
        except ProcessLookupError:
            pass


def _kill(popen):
    """Last resort of the finaliser: no process outlives its owner."""
    _signal_group(popen, signal.SIGKILL)
    popen.wait()


def _collect(stream, buf, lock):
    """Reads a pipe to its end into buf (no reference to the Process, so a
    forgotten one can still be collected and its finaliser run)."""
    while True:
        chunk = stream.read1(65536)
        if not chunk:
            break
        with lock:
            buf += chunk
            lock.notify_all()


class Process:
    """One started program.

    argv, cwd, user and stdin are as for subprocess.Popen. env is the base
    environment (default: this process's); root, when given, is put in it
    as KX_ROOT. Standard output and error go to the file log (a path) when
    given; otherwise they are collected from pipes, merged, or apart when
    separate_stderr is true (see output() and errors()).
    """

    def __init__(self, argv, *, env=None, root=None, cwd=None, log=None,
                 separate_stderr=False, user=None, stdin=subprocess.DEVNULL, name=None):
        self.argv = list(argv)
        self.name = name or os.path.basename(self.argv[0])
        env = dict(os.environ if env is None else env)
        if root is not None:
            env["KX_ROOT"] = root
        self.log = log
        self.killed = False
        self._out = bytearray()
        self._err = bytearray()
        self._lock = threading.Condition()
        self._threads = []
        self._log_file = None
        if log is not None:
            self._log_file = open(log, "wb")
            stdout, stderr = self._log_file, subprocess.STDOUT
        else:
            stdout = subprocess.PIPE
            stderr = subprocess.PIPE if separate_stderr else subprocess.STDOUT
        try:
            # a process group of its own, so that stop() also reaches
            # what the program starts (a shell's children, say)
            self.popen = subprocess.Popen(self.argv, env=env, cwd=cwd, stdin=stdin,
                                          stdout=stdout, stderr=stderr, user=user,
                                          process_group=0)
        except BaseException:
            if self._log_file:
                self._log_file.close()
            raise
        self._finalizer = weakref.finalize(self, _kill, self.popen)
        if log is None:
            streams = [(self.popen.stdout, self._out)]
            if separate_stderr:
                streams.append((self.popen.stderr, self._err))
            for stream, buf in streams:
                t = threading.Thread(target=_collect, args=(stream, buf, self._lock),
                                     daemon=True)
                t.start()
                self._threads.append(t)

    # what can be seen
    @property
    def pid(self):
        return self.popen.pid

    @property
    def returncode(self):
        """The exit status once stop() has reaped the process, else None."""
        return self.popen.returncode

    def alive(self):
        return not _ended(self.popen)

    def output(self):
        """Standard output so far (with standard error unless kept apart)."""
        if self.log is not None:
            with open(self.log, "rb") as f:
                return f.read().decode("latin-1")
        with self._lock:
            return self._out.decode("latin-1")

    def errors(self):
        """Standard error so far, when it is kept apart."""
        with self._lock:
            return self._err.decode("latin-1")

    def describe(self):
        """The process, its state and the end of its output, for a failure."""
        state = "running"
        if self.popen.returncode is not None:
            state = "exited with %d" % self.popen.returncode
        elif not self.alive():
            info = os.waitid(os.P_PID, self.pid, os.WEXITED | os.WNOHANG | os.WNOWAIT)
            if info is None or info.si_code == os.CLD_EXITED:
                state = "exited with %d" % (info.si_status if info else -1)
            else:
                state = "ended by signal %d" % info.si_status
        text = "%s (pid %d) %s; output:\n%s" % (self.name, self.pid, state, self.output()[-TAIL:])
        err = self.errors()
        if err:
            text += "\nstandard error:\n" + err[-TAIL:]
        return text

    def cpu_seconds(self):
        """(user, system) CPU seconds the process has used so far."""
        with open("/proc/%d/stat" % self.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        tick = os.sysconf("SC_CLK_TCK")
        return int(fields[11]) / tick, int(fields[12]) / tick

    # waiting
    def wait_until(self, check, what, timeout=CAP, step=0.02):
        """wait_for() that fails at once when this process ends meanwhile."""
        return wait_for(check, what, timeout=timeout, step=step, watch=[self])

    def wait_output(self, text, count=1, timeout=CAP, start=0):
        """Waits until text stands count times in the output from offset
        start on; fails when the process ends first."""
        def seen():
            return self.output()[start:].count(text) >= count
        if self.log is not None:
            return self.wait_until(seen, "%r x%d on %s's output" % (text, count, self.name),
                                   timeout)
        deadline = time.monotonic() + timeout
        while True:
            with self._lock:
                if seen():
                    return True
                left = deadline - time.monotonic()
                if left > 0 and self.alive():
                    self._lock.wait(min(left, 0.1))
                    continue
            # ended or out of time: its last words may still be in the pipe
            for t in self._threads:
                t.join(timeout=1)
            if seen():
                return True
            raise AssertionError("no %r x%d on %s's output after %.0f s: %s"
                                 % (text, count, self.name, timeout, self.describe()))

    # ending
    def send_signal(self, sig):
        """sig to the process and its process group."""
        if not _ended(self.popen):
            _signal_group(self.popen, sig)

    def stop(self, timeout=STOP_GRACE, sig=signal.SIGTERM):
        """Sends sig (none when sig is None: the process was told to end
        some other way), gives the process timeout seconds, then kills it;
        reaps it, kills what it left in its process group and closes its
        output. Returns the exit status; killed tells whether the process
        needed SIGKILL. Calling it again does nothing more."""
        if not _ended(self.popen):
            if sig is not None:
                self.send_signal(sig)
            deadline = time.monotonic() + timeout
            while not _ended(self.popen) and time.monotonic() < deadline:
                time.sleep(0.01)
            self.killed = not _ended(self.popen)
        # SIGKILL for a process that lingered, and for anything it started
        # that outlived it; then it is reaped
        _signal_group(self.popen, signal.SIGKILL)
        self.popen.wait()
        for t in self._threads:
            t.join(timeout=5)
        for stream in (self.popen.stdout, self.popen.stderr):
            if stream is not None:
                stream.close()
        if self._log_file is not None:
            self._log_file.close()
        self._finalizer.detach()
        return self.popen.returncode

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


class Harness:
    """Base of a harness object that starts its program in start() (kept in
    self.proc) and may own a temporary KX_ROOT tree (self.root when
    own_root is true); a with block starts it and always stops it."""
    proc = None
    root = None
    own_root = False

    def end_process(self, timeout=STOP_GRACE, sig=signal.SIGTERM):
        if self.proc is not None:
            self.proc.stop(timeout, sig)
            self.proc = None

    def remove_root(self):
        if self.own_root and self.root:
            shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


def stop_all(procs, timeout=STOP_GRACE, sig=signal.SIGTERM):
    """Ends several processes together: all get sig first, so their grace
    periods run at the same time."""
    procs = [p for p in procs if p is not None]
    for p in procs:
        if sig is not None:
            p.send_signal(sig)
    for p in procs:
        p.stop(timeout=timeout, sig=None)


def wait_for(check, what, timeout=CAP, step=0.02, watch=()):
    """Polls check() until it returns a true value and returns that value.
    Fails (AssertionError) after timeout seconds, or as soon as one of the
    processes in watch has ended; the message names what was awaited (what:
    a text, or a callable giving it at the failure, e.g. with the state
    seen last) and shows those processes' output."""
    deadline = time.monotonic() + timeout
    while True:
        value = check()
        if value:
            return value
        ended = [p for p in watch if not p.alive()]
        if ended or time.monotonic() >= deadline:
            why = "%s ended" % ended[0].name if ended else "not after %.0f s" % timeout
            if callable(what):
                what = what()
            raise AssertionError("waiting for %s: %s\n%s" % (
                what, why, "\n".join(p.describe() for p in watch)))
        time.sleep(step)


# a condition to wait for
def udp_port_bound(port, pid="self"):
    """True when the UDP port is bound in the network namespace of process
    pid (default: this one's)."""
    with open("/proc/%s/net/udp" % pid) as f:
        next(f)
        for line in f:
            local = line.split()[1]
            if int(local.split(":")[1], 16) == port:
                return True
    return False


def use_testbed_modules():
    """For a script run as a program (tests get them from pytest.ini): puts
    the folders of the testbed's Python modules, as pytest.ini lists them,
    on sys.path."""
    ini = configparser.ConfigParser()
    ini.read(os.path.join(TOP, "pytest.ini"))
    for folder in reversed(ini["pytest"]["pythonpath"].split()):
        path = os.path.join(TOP, folder)
        if path not in sys.path:
            sys.path.insert(0, path)
