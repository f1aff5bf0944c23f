#!/usr/bin/python3
"""Checks the console of panelmon's clock-step run (qemu_clock_step.sh):
six steps reported, panelmon's two status files rewritten within 3 s of
each step (20 s at its start-up), panelmon still running at the end.

    clockstep_checks.py CONSOLE_TXT
"""
import sys

sys.path.insert(0, __file__.rsplit("/", 2)[0] + "/lib")
from kxq import read_console  # noqa: E402


def main():
    con = read_console(sys.argv[1], "qemu_clock_step")
    print("\n".join(con.values("step")))
    for line in con.logs.get("panelmon", []):
        print(f"panelmon: {line}")
    con.ended()
    con.expect("alive", "^1$")
    steps = [v.split() for v in con.values("step")]
    if len(steps) != 6:
        con.bad(f"{len(steps)} of 6 steps reported")
    for step, f1, l1, f2, l2 in steps:
        limit = 20000 if int(step) == 0 else 3000  # the first: panelmon's start-up
        for name, latency in ((f1, int(l1)), (f2, int(l2))):
            if latency < 0 or latency > limit:
                con.bad(f"after a step of {step} ms, {name} was not rewritten "
                        f"within {limit} ms ({latency})")
    return con.summary("")


if __name__ == "__main__":
    sys.exit(main())
