#!/usr/bin/python3
"""Figures and picture of the discipline loop (see testbed/bench/README.md).

  loop_report.py run [--bench PATH] [--out DIR] [--png FILE] [bench options]
      runs kx_loop_bench with each loop (loop_mode 0, the integrating loop;
      1, phase and frequency) and free-running with the same oscillator,
      and each loop through a 30-minute holdover after 24 h of lock; prints
      the figures and draws the picture
  loop_report.py report DISCIPLINED.csv [FREE.csv] [--phase PHASE.csv] [--png FILE]
      the same figures from CSV files written earlier (or by the virtual
      board under qemu)
  loop_report.py compare A.csv B.csv [--all]
      the pulses where two runs differ (exit status 1 when any do)

Frequency errors are fractional, y = (f - 25 MHz) / 25 MHz. "counts" are
what TPM4 measured (whole cycles per second, 4e-8 resolution in one second);
"oscillator" is the model's own frequency in force during each second.
"""

import argparse
import math
import os
import subprocess
import sys
import tempfile

N0 = 25_000_000
COLUMNS = ("pulse", "count", "dac_code", "integ_fp", "osc_error_e15")
E15 = 1e-15
WINDOW = 64                # pulses in the convergence mean
THRESHOLD = 1e-9           # convergence: |64-pulse mean| below this, for good
TABLE_TAUS = (1, 10, 100, 1000, 10000)
LOOPS = ("integrating loop", "phase-and-frequency loop")
HOLD_LOCK = 86400          # pulses of lock before the holdover
HOLD_SECONDS = 1800        # seconds of holdover
PLOT_TAUS = (1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000)
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


# ---- data -------------------------------------------------------------------

def read_csv(path):
    """Rows as tuples of ints, in file order; the header must be ours."""
    with open(path) as f:
        header = f.readline().strip()
        if tuple(header.split(",")) != COLUMNS:
            sys.exit(f"{path}: header is not {','.join(COLUMNS)}")
        rows = []
        for lineno, line in enumerate(f, 2):
            fields = line.strip().split(",")
            if len(fields) != len(COLUMNS):
                sys.exit(f"{path}:{lineno}: {len(fields)} fields")
            rows.append(tuple(int(v) for v in fields))
    return rows


def count_deviations(rows):
    """Cycles above nominal per second (exact integers)."""
    return [r[1] - N0 for r in rows]


def osc_errors(rows):
    """Oscillator frequency error per second, 1e-15 (exact integers)."""
    return [r[4] for r in rows]


# ---- statistics ---------------------------------------------------------------

def phase(freq):
    """Running sum of per-second frequencies: the phase, x[0] = 0."""
    x = [0]
    for v in freq:
        x.append(x[-1] + v)
    return x


def oadev(freq, m, scale=1.0):
    """Overlapping Allan deviation at tau = m seconds of per-second
    frequencies (any unit; the result is multiplied by scale). None when the
    run is too short (fewer than 2m + 1 phase points)."""
    x = phase(freq)
    terms = len(x) - 2 * m
    if m < 1 or terms < 1:
        return None
    s = sum((c - 2 * b + a) ** 2 for a, b, c in zip(x, x[m:], x[2 * m:]))
    return math.sqrt(s / (2 * m * m * terms)) * scale


def trailing_means(freq, window):
    """Mean of the last `window` values ending at each index (None before)."""
    out = [None] * len(freq)
    acc = 0
    for i, v in enumerate(freq):
        acc += v
        if i >= window:
            acc -= freq[i - window]
        if i >= window - 1:
            out[i] = acc / window
    return out


def convergence(freq, scale, window=WINDOW, threshold=THRESHOLD):
    """Index of the first pulse from which every trailing `window`-pulse mean
    stays below threshold to the end of the run; None if the last does not."""
    means = trailing_means(freq, window)
    first = None
    for i in range(len(freq) - 1, window - 2, -1):
        if abs(means[i]) * scale >= threshold:
            break
        first = i
    return first


def mean_std(values, scale):
    n = len(values)
    if n == 0:
        return None, None
    mean = sum(values) / n
    var = sum((v - mean) ** 2 for v in values) / n
    return mean * scale, math.sqrt(var) * scale


# ---- figures ------------------------------------------------------------------

def figures(disc, free):
    """Everything printed and drawn, from the rows of the two runs."""
    f = {"pulses": len(disc)}
    for name, freq, scale in (("counts", count_deviations(disc), 1.0 / N0),
                              ("oscillator", osc_errors(disc), E15)):
        first = convergence(freq, scale)
        mean, std = mean_std(freq[first:] if first is not None else [], scale)
        f[name] = {"first": first, "mean": mean, "std": std,
                   "converged": None if first is None else disc[first][0]}
    # stability is that of the locked loop: from the convergence on, and the
    # free-running oscillator over the same seconds. The oscillator's own
    # convergence where the run has it: a 64-s mean of counts resolves only
    # 6e-10 (a cycle in 64 s), so near 1e-9 it can cross the line late in a
    # run that the oscillator never did.
    start = f["oscillator"]["first"]
    if start is None:
        start = f["counts"]["first"] or 0
    f["adev_from"] = disc[start][0]
    disc, free = disc[start:], free[start:] if free else None
    runs = [("disciplined, counts", count_deviations(disc), 1.0 / N0),
            ("disciplined, oscillator", osc_errors(disc), E15)]
    if free:
        runs += [("free-running, counts", count_deviations(free), 1.0 / N0),
                 ("free-running, oscillator", osc_errors(free), E15)]
    f["adev"] = {name: {m: oadev(freq, m, scale) for m in PLOT_TAUS}
                 for name, freq, scale in runs}
    return f


def fmt(v):
    return "-" if v is None else f"{v:.3g}"


def print_figures(f, title="disciplined"):
    print(f"loop run of {f['pulses']} pulses, {title}")
    print(f"{'':28}{'counts (TPM4)':>16}{'oscillator':>16}")
    c, o = f["counts"], f["oscillator"]
    conv = [("not converged" if s["converged"] is None else f"{s['converged']} s")
            for s in (c, o)]
    print(f"{'convergence (64-s mean <1e-9)':28}{conv[0]:>16}{conv[1]:>16}")
    print(f"{'steady-state mean':28}{fmt(c['mean']):>16}{fmt(o['mean']):>16}")
    print(f"{'steady-state std (per s)':28}{fmt(c['std']):>16}{fmt(o['std']):>16}")
    names = list(f["adev"])
    print()
    print(f"overlapping Allan deviation, pulses {f['adev_from']} to {f['pulses']}")
    print(f"{'tau':>8}" + "".join(f"{n:>26}" for n in names))
    for m in TABLE_TAUS:
        print(f"{str(m) + ' s':>8}" + "".join(f"{fmt(f['adev'][n][m]):>26}" for n in names))


# ---- picture --------------------------------------------------------------------

GNUPLOT = """\
set terminal png size 800,1080 font ",9"
set output '{png}'
set datafile separator ','
set multiplot layout 3,1
set grid
set key top right
set xlabel 'time since load (s)'
set ylabel 'frequency error (ppb)'
set y2label 'DAC code'
set ytics nomirror
set y2tics
set title 'Convergence from {offset}'
set xrange [0:{early}]
plot {early_plots}
unset y2label
unset y2tics
set ytics mirror
set title 'Whole run (room temperature cycle, random walk), 64-s means of the oscillator'
set xrange [0:{last}]
set yrange [-{hold}:{hold}]
set samples 2
plot {whole_plots}, \\
     {hold_lim} w l lc rgb 'red' t '+-1 ppb', -{hold_lim} w l lc rgb 'red' notitle
set autoscale y
set title 'Overlapping Allan deviation of the locked loops (from their convergence)'
set logscale xy
set format y '10^{{%L}}'
set format x '10^{{%L}}'
set xrange [1:{taumax}]
set xlabel 'tau (s)'
set ylabel 'ADEV'
set key outside below maxrows 3
plot {adev_plots}
unset multiplot
"""

# per loop: oscillator, 64-s mean of counts, DAC code
LOOP_COLOURS = (("#1f77b4", "#9be0c8", "#808080"), ("#9400d3", "#f4a3c0", "#c08040"))


def write_plot_data(d, k, disc):
    counts = trailing_means(count_deviations(disc), WINDOW)
    osc = trailing_means(osc_errors(disc), WINDOW)

    def ppb(v, scale):
        return "" if v is None else f"{v * scale * 1e9:.4f}"

    def row(i):
        return (f"{disc[i][0]},{ppb(disc[i][4], E15)},{ppb(counts[i], 1.0 / N0)},"
                f"{disc[i][2]},{ppb(osc[i], E15)}\n")

    early = min(len(disc), 1500)
    with open(os.path.join(d, f"early{k}.csv"), "w") as out:
        out.writelines(row(i) for i in range(early))
    step = max(1, len(disc) // 2000)
    with open(os.path.join(d, f"whole{k}.csv"), "w") as out:
        out.writelines(row(i) for i in range(0, len(disc), step))
    return early


def adev_curves(d, loops):
    """(file, title, style) of each Allan deviation curve: each loop's
    oscillator and counts, and the free-running oscillator once"""
    curves, n = [], 0
    for k, (label, f) in enumerate(loops):
        osc, counts, _ = LOOP_COLOURS[k % 2]
        for name, style in (("disciplined, oscillator", f"lw 2 pt 7 lc rgb '{osc}'"),
                            ("disciplined, counts", f"lw 1 pt 6 lc rgb '{counts}'")):
            curves.append((name.replace("disciplined", label), f["adev"][name], style))
        if k == 0 and "free-running, oscillator" in f["adev"]:
            curves.append(("free-running oscillator", f["adev"]["free-running, oscillator"],
                           "lw 1 pt 4 lc rgb '#d62728'"))
    out = []
    for title, by_tau, style in curves:
        path = os.path.join(d, f"adev{n}.csv")
        with open(path, "w") as fh:
            fh.writelines(f"{m},{v}\n" for m, v in by_tau.items() if v)
        out.append(f"'{path}' u 1:2 w lp ps 0.8 {style} t '{title}'")
        n += 1
    return out


def draw(png, loops, offset_text):
    """loops: (label, rows, figures) of each disciplined run"""
    with tempfile.TemporaryDirectory() as d:
        early_plots, whole_plots = [], []
        for k, (label, rows, _) in enumerate(loops):
            early = write_plot_data(d, k, rows)
            osc, counts, dac = LOOP_COLOURS[k % 2]
            early_plots += [f"'{d}/early{k}.csv' u 1:2 w l lw 2 lc rgb '{osc}' t '{label}, oscillator'",
                            f"'' u 1:3 w l lc rgb '{counts}' t '{label}, 64-s mean of counts'",
                            f"'' u 1:4 axes x1y2 w l lc rgb '{dac}' t '{label}, DAC code'"]
            whole_plots.append(f"'{d}/whole{k}.csv' u 1:5 w l lw 2 lc rgb '{osc}' t '{label}'")
        plots = adev_curves(d, [(label, f) for label, _, f in loops])
        taumax = max((m for _, _, f in loops for by_tau in f["adev"].values()
                      for m, v in by_tau.items() if v), default=10)
        last = max(rows[-1][0] for _, rows, _ in loops)
        script = GNUPLOT.format(png=png, early=early, last=last, hold=2,
                                hold_lim=THRESHOLD * 1e9, offset=offset_text, taumax=taumax,
                                early_plots=", \\\n     ".join(early_plots),
                                whole_plots=", \\\n     ".join(whole_plots),
                                adev_plots=", \\\n     ".join(plots))
        subprocess.run(["gnuplot"], input=script, text=True, check=True)


def offset_of(rows):
    """The free-running offset the run started from, as a text."""
    ppm = rows[0][4] * E15 * 1e6 if rows else 0
    return f"{ppm:+.3f} ppm"


def print_comparison(fs, holdover):
    """The loops side by side: convergence, the oscillator's Allan deviation
    against the free-running one, the holdover"""
    print()
    print("the loops side by side (oscillator)")
    width = 28
    print(f"{'':24}" + "".join(f"{label:>{width}}" for label, _ in fs))
    conv = []
    for _, f in fs:
        c, o = f["counts"]["converged"], f["oscillator"]["converged"]
        conv.append(f"{'-' if c is None else c} s / {'-' if o is None else o} s")
    print(f"{'convergence counts/osc':24}" + "".join(f"{v:>{width}}" for v in conv))
    free = fs[0][1]["adev"].get("free-running, oscillator")
    for m in TABLE_TAUS:
        cells = []
        for _, f in fs:
            v = f["adev"]["disciplined, oscillator"].get(m)
            fr = f["adev"].get("free-running, oscillator", {}).get(m)
            ratio = f" ({v / fr:.2f}x free)" if v and fr else ""
            cells.append(fmt(v) + ratio)
        ref = f"   free-running {fmt(free.get(m))}" if free else ""
        print(f"{'ADEV ' + str(m) + ' s':24}" + "".join(f"{c:>{width}}" for c in cells) + ref)
    if holdover:
        for k, name in enumerate(("holdover time error", "  without the room cycle")):
            cells = [f"{holdover[label][k]:.0f} ns" if label in holdover and
                     holdover[label][k] is not None else "-" for label, _ in fs]
            print(f"{name:24}" + "".join(f"{c:>{width}}" for c in cells))
        print(f"(holdover: the oscillator's time error gathered in {HOLD_SECONDS} s without "
              f"fix after {HOLD_LOCK} pulses of lock; the room's cycle alone makes some "
              f"7.5 us of it)")


# ---- commands -----------------------------------------------------------------

def bench_path(arg):
    for p in (arg, os.environ.get("KX_LOOP_BENCH"),
              os.path.join(ROOT, "build", "bin", "kx_loop_bench")):
        if p and os.access(p, os.X_OK):
            return p
    sys.exit("kx_loop_bench not found: build it (cmake --build build --target "
             "kx_loop_bench) or give --bench")


def holdover_ns(bench, opts, mode, steady=False):
    """the time error of a holdover after HOLD_LOCK pulses with loop mode;
    steady: the same without the room's temperature cycle"""
    opts = [o for o in opts]
    for name in ("--pulses",) + (("--temp-amp",) if steady else ()):
        if name in opts:
            k = opts.index(name)
            del opts[k:k + 2]
    if steady:
        opts += ["--temp-amp", "0"]
    run = subprocess.run([bench, *opts, "--pulses", str(HOLD_LOCK), "--holdover",
                          str(HOLD_SECONDS), "--loop-mode", str(mode), "--csv", os.devnull],
                         check=True, capture_output=True, text=True)
    for line in run.stderr.splitlines():
        if line.startswith("holdover of"):
            return float(line.split("time error ")[1].split(" ns")[0])
    return None


def cmd_run(a):
    bench = bench_path(a.bench)
    os.makedirs(a.out, exist_ok=True)
    opts = []
    for name in ("pulses", "offset", "seed", "walk", "temp_amp", "temp_period", "k1"):
        v = getattr(a, name)
        if v is not None:
            opts += ["--" + name.replace("_", "-"), v]
    disc_csv = os.path.join(a.out, "loop_disciplined.csv")
    phase_csv = os.path.join(a.out, "loop_phase.csv")
    free_csv = os.path.join(a.out, "loop_free.csv")
    subprocess.run([bench, *opts, "--csv", disc_csv], check=True)
    subprocess.run([bench, *opts, "--loop-mode", "1", "--csv", phase_csv], check=True)
    subprocess.run([bench, *opts, "--free-run", "--csv", free_csv], check=True)
    holdover = {label: (holdover_ns(bench, opts, mode), holdover_ns(bench, opts, mode, True))
                for mode, label in enumerate(LOOPS)}
    print(f"runs: {os.path.relpath(disc_csv)}, {os.path.relpath(phase_csv)}, "
          f"{os.path.relpath(free_csv)}", flush=True)
    return report(disc_csv, free_csv, a.png, phase_csv, holdover)


def report(disc_csv, free_csv, png, phase_csv=None, holdover=None):
    free = read_csv(free_csv) if free_csv else None
    loops = []
    for label, path in zip(LOOPS, (disc_csv, phase_csv)):
        if not path:
            continue
        rows = read_csv(path)
        if not rows:
            sys.exit(f"{path}: no pulses")
        f = figures(rows, free)
        print_figures(f, label)
        print()
        loops.append((label, rows, f))
    if len(loops) > 1 or holdover:
        print_comparison([(label, f) for label, _, f in loops], holdover)
    if png:
        draw(png, loops, offset_of(free or loops[0][1]))
        print(f"\npicture: {png}", flush=True)
    return 0


def compare(a_rows, b_rows):
    """(differences, only_a, only_b): differences are (pulse, [(column, a, b)])."""
    a = {r[0]: r for r in a_rows}
    b = {r[0]: r for r in b_rows}
    diffs = []
    for p in sorted(a.keys() & b.keys()):
        cols = [(COLUMNS[i], a[p][i], b[p][i])
                for i in range(1, len(COLUMNS)) if a[p][i] != b[p][i]]
        if cols:
            diffs.append((p, cols))
    return diffs, sorted(a.keys() - b.keys()), sorted(b.keys() - a.keys())


def dac_only(cols):
    """The loop agreed but the DAC held another code at the next pulse."""
    return [c for c, _, _ in cols] == ["dac_code"]


def cmd_compare(a):
    diffs, only_a, only_b = compare(read_csv(a.a), read_csv(a.b))
    shown = diffs if a.all else diffs[:20]
    for p, cols in shown:
        late = " (DAC write late)" if dac_only(cols) else ""
        print(f"pulse {p}: " + ", ".join(f"{c} {x} vs {y}" for c, x, y in cols) + late)
    if len(shown) < len(diffs):
        print(f"... {len(diffs) - len(shown)} more (--all lists them)")
    for name, only in ((a.a, only_a), (a.b, only_b)):
        if only:
            print(f"only in {name}: {len(only)} pulses ({only[0]}..{only[-1]})")
    first = f", the first at pulse {diffs[0][0]}" if diffs else ""
    late = sum(1 for _, cols in diffs if dac_only(cols))
    print(f"{len(diffs)} pulses differ{first}; {late} only in the DAC code "
          "(the same loop output, its write not landed by the next pulse)")
    return 1 if diffs or only_a or only_b else 0


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = ap.add_subparsers(dest="cmd", required=True)
    r = sub.add_parser("run")
    r.add_argument("--bench")
    r.add_argument("--out", default=os.path.join(ROOT, "build", "loop"))
    r.add_argument("--png")
    # unset options take the bench's defaults (bench/README.md)
    for opt in ("--pulses", "--offset", "--seed", "--walk", "--temp-amp",
                "--temp-period", "--k1"):
        r.add_argument(opt)
    p = sub.add_parser("report")
    p.add_argument("disciplined")
    p.add_argument("free", nargs="?")
    p.add_argument("--phase")
    p.add_argument("--png")
    c = sub.add_parser("compare")
    c.add_argument("a")
    c.add_argument("b")
    c.add_argument("--all", action="store_true")
    a = ap.parse_args(argv)
    if a.cmd == "run":
        return cmd_run(a)
    if a.cmd == "report":
        return report(a.disciplined, a.free, a.png, a.phase)
    return cmd_compare(a)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
