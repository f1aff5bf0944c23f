"""The timing hardware model's pulse records and what the loop should make of them,
shared by the arm64 board test (qemu_arm64_checks.py) and the convergence
benchmark (testbed/bench/loop_qemu_arm64.py).

Frequencies are fractional errors in units of 1e-15, as in kx_osc.h.
"""

N0 = 25000000
PPM = 10**9
SLOPE = 305176          # 1e-15 per DAC code (kx_osc.h, KX_OSC_SLOPE)
MIDSCALE = 0x7FFF
WINDOW = 64
THRESHOLD = 10**6       # 1e-9


def parse_records(lines):
    """'pulse count dac_code dac_writes error captured' lines (kx_timinghw's
    debugfs file "pulses") to dicts, in pulse order"""
    recs = []
    for line in lines:
        f = line.split()
        if len(f) != 6:
            continue
        recs.append({"pulse": int(f[0]), "count": int(f[1]), "dac_code": int(f[2]),
                     "dac_writes": int(f[3]), "error": int(f[4]), "captured": f[5] == "1"})
    recs.sort(key=lambda r: r["pulse"])
    return recs


def window_means(recs):
    """(index of the window's last record, mean error over the 64 pulses)"""
    errs = [r["error"] for r in recs]
    out = []
    s = sum(errs[:WINDOW])
    for i in range(WINDOW, len(errs) + 1):
        if i > WINDOW:
            s += errs[i - 1] - errs[i - 1 - WINDOW]
        out.append((i - 1, s / WINDOW))
    return out


def convergence(recs):
    """(pulses until the 64-pulse mean error first stays below 1e-9, whether
    every later window stayed below it, the worst later window mean), or
    None when it never got there"""
    means = window_means(recs)
    for k, (i, m) in enumerate(means):
        if abs(m) < THRESHOLD:
            later = [abs(mm) for _, mm in means[k + 1:]]
            worst = max(later) if later else abs(m)
            return i + 1, all(v < THRESHOLD for v in later), worst
    return None


def expected_freqcorr(offset):
    """freqcorr (units of 2^26) where the DAC code cancels the offset:
    code - 0x7FFF = -offset / slope, and a code step is 2^32 / 65535 of
    the correction"""
    codes = -offset / SLOPE
    return codes * 2**32 / 65535 / 2**26
