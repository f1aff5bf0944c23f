#!/usr/bin/python3
"""Loop convergence of kx-pps on the real arm64 kernel (a benchmark: prints
figures, checks nothing).

    testbed/bench/loop_qemu_arm64.py [--build DIR] [--pulses N] [--offset PPM]
        [--seed S] [--walk E15] [--temp-amp E15] [--temp-period S]
        [--period-us US] [--loop-mode M] [--csv FILE] [--host HOST.csv]

Boots the arm64 board (testbed/qemu/arm64/qemu_arm64.sh, mode bench) with the
VCXO of the timing hardware model (kx-timinghw.ko) at the given offset and
options, lets N pulses pass from load and writes them as CSV in the host
benchmark's format (pulse,count,dac_code,integ_fp,osc_error_e15;
testbed/bench/README.md):

- count, osc_error_e15: from the timing hardware model's record of each second;
- dac_code: the code the DAC held when the next pulse came (the model's
  record of the next second);
- integ_fp: the module's integrator after the pulse. The module keeps it in
  a variable no other module can read per pulse, so it is rebuilt here from
  the counts the way the loop forms it (seeded 0 at the first capture,
  (N0 - N) x k1 x 671 added for every count within N0 +- 99); each DAC code
  that landed in time is then checked against the code of that value, which
  is the module's own arithmetic on arm64. With --loop-mode 1 (kx-pps
  loaded with loop_mode=1, the phase-and-frequency loop) the column is 0:
  that loop's arithmetic on arm64 is checked by comparing the DAC codes
  with the host run (--host, made with kx_loop_bench --loop-mode 1).

Prints the convergence pulse (from which the mean fractional frequency
error over 64 pulses stays below 1e-9), the steady-state error (mean and
standard deviation of the per-second error from there), the pulses whose DAC
write had not landed before the next pulse, and, with --host, the pulses
where the host layer's run (kx_loop_bench, same options) differs.
"""
import argparse
import os
import statistics
import subprocess
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "qemu", "arm64"))
sys.path.insert(0, os.path.join(here, "..", "qemu", "lib"))
from kxq import read_console  # noqa: E402
from qemu_arm64_loop import N0, WINDOW, parse_records, window_means  # noqa: E402

K1 = 200 * 671


def dac_code(x):
    """the module's correction-to-code conversion (truncating division)"""
    if x > 2**31:
        return 0xFFFF
    if x < -2**31:
        return 0
    q = x * 65535
    return 0x7FFF + (q // 2**32 if q >= 0 else -((-q) // 2**32))


def rows(recs, rebuild=True):
    """CSV rows and the pulses whose DAC write came late or whose code is
    not the one of the rebuilt integrator (rebuild: the integrating loop)"""
    out, late, mismatch = [], [], []
    integ, counter, ref = 0, 0, None
    for i, r in enumerate(recs[:-1]):
        counter = (counter + r["count"]) & 0xFFFFFFFF
        if ref is None:
            ref = counter
        else:
            n = (counter - ref) & 0xFFFFFFFF
            ref = counter
            if abs(n - N0) <= 99:
                integ = max(-2**31, min(2**31, integ + (N0 - n) * K1))
        nxt = recs[i + 1]
        code = nxt["dac_code"]
        if i > 0 and nxt["dac_writes"] != 1:
            late.append(r["pulse"])
        elif i > 0 and rebuild and code != dac_code(integ):
            mismatch.append(r["pulse"])
        out.append((r["pulse"], r["count"], code, integ if rebuild else 0, r["error"]))
    return out, late, mismatch


def figures(table):
    errs = [e for *_, e in table]
    recs = [{"error": e} for e in errs]
    means = window_means(recs)
    conv = None
    for k, (i, m) in enumerate(means):
        if all(abs(mm) < 10**6 for _, mm in means[k:]):
            conv = i + 1
            break
    if conv is None:
        print("convergence: the 64-pulse mean error did not stay below 1e-9")
        return
    tail = errs[conv:] or errs[-1:]
    print(f"convergence: pulse {conv} (mean error over {WINDOW} pulses below 1e-9 from there on)")
    print(f"steady state (pulses {conv + 1}-{len(errs)}): mean {statistics.mean(tail) / 1e15:+.3e}, "
          f"standard deviation {statistics.pstdev(tail) / 1e15:.3e}")


def compare(table, host_csv, with_integ=True):
    host = {}
    with open(host_csv) as f:
        next(f)
        for line in f:
            v = [int(x) for x in line.strip().split(",")]
            if not with_integ:
                v[3] = 0
            host[v[0]] = v
    diff = [t[0] for t in table if t[0] in host and list(t) != host[t[0]]]
    print(f"host layer ({host_csv}): {len(table)} pulses compared, {len(diff)} differ"
          + (f", first {diff[0]}: qemu {table[diff[0] - 1]} host {host[diff[0]]}" if diff else ""))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(here, "..", "..", "build"))
    ap.add_argument("--pulses", type=int, default=1500)
    ap.add_argument("--offset", type=float, default=1.0)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--walk", type=int, default=2000)
    ap.add_argument("--temp-amp", type=int, default=100000000)
    ap.add_argument("--temp-period", type=int, default=86400)
    ap.add_argument("--period-us", type=int, default=25000)
    ap.add_argument("--loop-mode", type=int, default=0)
    ap.add_argument("--csv", default="qemu_arm64_loop.csv")
    ap.add_argument("--host")
    args = ap.parse_args()

    build = os.path.abspath(args.build)
    kbuild = os.path.join(build, "kbuild", "6.12-arm64")
    work = os.path.join(build, "kernel", "qemu_arm64", "bench")
    subprocess.run([os.path.join(here, "..", "..", "kernel", "tests", "kbuild.sh"), "6.12-arm64", kbuild],
                   check=True, stdout=subprocess.DEVNULL)
    env = dict(os.environ,
               KX_SIMBOARD=os.path.join(build, "bin", "simboard"),
               KX_BENCH_PULSES=str(args.pulses + 1),
               KX_PPS_ARGS=f"loop_mode={args.loop_mode}" if args.loop_mode else "",
               KX_QEMU_LIMIT=str(120 + args.pulses * args.period_us // 200000),
               KX_TIMINGHW_ARGS=f"offset_e15={int(args.offset * 1e9)} seed={args.seed} "
                              f"walk_e15={args.walk} temp_e15={args.temp_amp} "
                              f"temp_period={args.temp_period} period_us={args.period_us}")
    subprocess.run([os.path.join(here, "..", "qemu", "arm64", "qemu_arm64.sh"), "bench", kbuild, work],
                   env=env, stdout=subprocess.DEVNULL)
    con = read_console(os.path.join(work, "console.txt"), "loop_qemu_arm64")
    recs = parse_records(con.pulses.get("bench", []))[:args.pulses + 1]
    if len(recs) < 2:
        print(f"no pulse records (see {work}/console.txt)")
        return 1
    table, late, mismatch = rows(recs, rebuild=args.loop_mode == 0)
    with open(args.csv, "w") as f:
        f.write("pulse,count,dac_code,integ_fp,osc_error_e15\n")
        for t in table:
            f.write(",".join(str(v) for v in t) + "\n")
    print(f"loop_mode {args.loop_mode}: {len(table)} pulses from {args.offset:+g} ppm (seed {args.seed}, "
          f"one every {args.period_us} us), CSV in {args.csv}")
    figures(table)
    print(f"DAC writes not landed before the next pulse: {len(late)}"
          + (f" (pulses {' '.join(map(str, late[:20]))}{' ...' if len(late) > 20 else ''})"
             if late else ""))
    print(f"DAC codes other than the rebuilt integrator's: {len(mismatch)}"
          + (f" (pulses {' '.join(map(str, mismatch[:20]))})" if mismatch else ""))
    if args.host:
        compare(table, args.host, with_integ=args.loop_mode == 0)
    return 0


if __name__ == "__main__":
    sys.exit(main())
