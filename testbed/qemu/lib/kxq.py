"""The console protocol of the qemu rigs, host side (lib/README.md).

The guest's /init (guest_init.sh) and its check programs (kxcheck.c) print
"KXQ <key> <value...>" results, "KXQ ok NAME" / "KXQ FAIL NAME: why" per
guest check, "KXQLOG <phase> <line>" logs, "KXQPULSE <phase> <record>"
pulse records and "KXQ end" at the end. Console parses a console's text;
its checks print each failure and count them.
"""
import re
import sys

RESULT, LOG, PULSE = "KXQ ", "KXQLOG ", "KXQPULSE "
# requests to the host (qemu_arm64_run.py answers them on the control port)
GPS, TIME, HOST = "KXQGPS ", "KXQTIME", "KXQHOST "

# a fault in the kernel log; taint W (512) or D (128) means one was printed
FAULTS = r"WARNING|BUG|Oops|Call Trace|[Rr]efcount|[Ll]eak|general protection|UBSAN"
TAINT_BAD = 512 | 128


class Console:
    def __init__(self, text, rig):
        self.rig = rig
        self.text = text
        self.results = []   # "key value..." of each KXQ line, in order
        self.logs = {}
        self.pulses = {}
        self.errors = []
        for line in text.splitlines():
            for marker, into in ((LOG, self.logs), (PULSE, self.pulses)):
                if line.startswith(marker):
                    phase, _, rest = line[len(marker):].partition(" ")
                    into.setdefault(phase, []).append(rest)
            if line.startswith(RESULT):
                self.results.append(line[len(RESULT):])
        self.oks = [r[3:] for r in self.results if r.startswith("ok ")]
        self.guest_fails = [r for r in self.results if r.startswith("FAIL ")]

    def bad(self, what):
        self.errors.append(what)
        print(f"{self.rig}: FAIL: {what}", file=sys.stderr)

    def values(self, key):
        """the values of the 'KXQ key value' lines; key may be several words"""
        return [r[len(key) + 1:] for r in self.results if r == key or r.startswith(key + " ")]

    def get(self, key, sub=None, index=0):
        """the value of the index-th 'KXQ key [sub] value' line, or None"""
        vals = self.values(key if sub is None else f"{key} {sub}")
        return vals[index] if index < len(vals) else None

    def expect(self, key, pattern, sub=None, index=0):
        v = self.get(key, sub, index)
        m = re.search(pattern, v) if v is not None else None
        if not m:
            self.bad(f"{key}{' ' + sub if sub else ''}: got {v!r}, want /{pattern}/")
        return m

    def logged(self, phase, msg):
        return any(msg in line for line in self.logs.get(phase, []))

    def in_order(self, phase, messages):
        """the phase's log holds the messages in this order (others between)"""
        log = self.logs.get(phase, [])
        pos = -1
        for msg in messages:
            hits = [i for i, line in enumerate(log) if msg in line]
            if not hits:
                self.bad(f"{phase}: no {msg!r} in the kernel log")
            elif hits[0] <= pos:
                self.bad(f"{phase}: {msg!r} out of order")
            else:
                pos = hits[0]

    def absent(self, phase, msg):
        if self.logged(phase, msg):
            self.bad(f"{phase}: unexpected {msg!r} in the kernel log")

    def ended(self):
        if "end" in self.results:
            return True
        self.bad("the guest did not reach the end of its script")
        print("\n".join(self.text.splitlines()[-60:]), file=sys.stderr)
        return False

    def passed(self, names):
        """every named guest check printed its ok line: a check that
        silently disappears is noticed too"""
        for name in names:
            if name not in self.oks:
                self.bad(f"guest check {name} did not pass")

    def kernel_clean(self, more_faults=None):
        """no guest check failed; no fault in any phase's kernel log after
        boot (the missed-GGA reports quote received text, line noise
        included); no warning or oops in the taint"""
        for fail in self.guest_fails:
            self.bad(f"guest: {fail}")
        faults = re.compile(FAULTS + ("|" + more_faults if more_faults else ""))
        for phase, lines in self.logs.items():
            for line in lines:
                if phase != "boot" and faults.search(line) and not line.startswith("missed GGA, "):
                    self.bad(f"kernel log, {phase}: {line}")
        t = self.get("tainted")
        if t is None or not t.isdigit() or int(t) & TAINT_BAD:
            self.bad(f"kernel taint {t!r} (W or D set)")

    def summary(self, what):
        print(f"{self.rig}: {what}{len(self.oks)} guest checks passed, "
              f"{len(self.errors)} failures")
        return 1 if self.errors else 0


def read_console(path, rig):
    with open(path, errors="replace") as f:
        return Console(f.read(), rig)
