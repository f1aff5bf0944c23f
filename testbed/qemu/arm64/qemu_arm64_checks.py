#!/usr/bin/python3
"""Checks the console of an arm64 qemu board run (qemu_arm64.sh).

    qemu_arm64_checks.py MODE WORKDIR

WORKDIR/console.txt holds the guest's KXQ, KXQLOG and KXQPULSE lines
(qemu_arm64_init.sh), WORKDIR/gps_log.txt the receiver model's command log
at the end of the run. Prints every failure and a summary; the exit status
is 1 when anything failed.
"""
import os
import re
import sys
import time

sys.path.insert(0, __file__.rsplit("/", 1)[0])
sys.path.insert(0, __file__.rsplit("/", 2)[0] + "/lib")
from kxq import Console  # noqa: E402
from qemu_arm64_loop import (N0, PPM, SLOPE, convergence, expected_freqcorr,  # noqa: E402
                             parse_records)

LOAD_MESSAGES = [
    "pps:  Starting pps_probe", "pps: pps-led GPIO acquired",
    "pps: registered LinuxPPS source", "PPS says hello!", "ppsdac: got i2c adapter 1!",
    "Initial write to DAC", "tpm4 clk root is: 300", "Found device tree node pwm4",
    "register SW_PAD_CTL_PAD_GPIO_IO10 is:", "register SW_MUX_CTL_PAD_PDM_BIT_STREAM1 is:",
    "DAISY register CCMSRCGPCMIX_EXT1_CLK is:", "register SC is: 48", "register CONF is: 0",
    "register C0SC is:", "register MOD: FFFFFFFF", "register gpio2 PDDR is:",
    "register SW_PAD_CTL_PAD_GPIO_IO01 is:", "register SW_MUX_CTL_PAD_GPIO_IO01 is:",
    "pps-uart: Initialized successfully",
]
UNLOAD_MESSAGES = [
    "pps-uart: UART driver unloaded", "pps chardev: Removed", "PPS driver exit!",
    "All sysfs_remove_file call done", "kobject_put done", "Remove filter done",
]
ATTRIBUTES = sorted("""k1 k2 pause gpsfix tai_offset gpsmode timeknown holdover_time
    holdover_setting prv_integ_fp freqcorr freqcorrdelta gps_time_set phy_delta1 phy_delta2
    manualtime ppsled deleth0 deleth1
    gnss_state gnss_reason gnss_since gnss_counts gnss_accept gnss_home""".split())
GUEST_OK = ["pps_open", "pps_caps", "pps_fetch", "pps_pulses", "pps_time_advances",
            "pps_one_event_per_pulse", "nmea_open", "nmea_whole_sentences",
            "phc_open", "phc_on_gps_tai"]


class Run(Console):
    def __init__(self, text):
        super().__init__(text, "qemu_arm64")

    def state(self, phase, present):
        for key in ("filter_dir", "platform_driver", "serdev_driver", "dev_node", "module"):
            self.expect(phase, f"^{1 if present else 0}$", key)
        self.expect(phase, "^pps0 $" if present else "^$", "pps_source")
        self.expect(phase, f"^{2 if present else 0}$", "threads")

    def common_end(self):
        self.ended()
        self.expect("cpus", "^%s$" % os.environ.get("KX_QEMU_CPUS", "1"))
        self.kernel_clean("Call trace|KFENCE|ppsdac: unable to send")


def check_loop(run, phase, offset):
    """the loop from offset (1e-15): converged and held, freqcorr where the
    oscillator model puts it"""
    recs = parse_records(run.pulses.get(phase, []))
    conv = convergence(recs)
    if conv is None:
        run.bad(f"{phase}: the 64-pulse mean error never fell below 1e-9 "
                f"in {len(recs)} pulses")
        return
    at, held, worst = conv
    print(f"qemu_arm64: {phase}: converged at pulse {at} of {len(recs)}, "
          f"worst later 64-pulse mean {worst / 1e15:.2e}")
    if len(recs) - at < 100:
        run.bad(f"{phase}: converged only at pulse {at} of {len(recs)}")
    if not held:
        run.bad(f"{phase}: the loop did not hold (a later 64-pulse mean {worst / 1e15:.2e})")
    m = run.expect(phase, r"^([ -])(\d+)\.(\d{4})$", "freqcorr")
    if m:
        got = int(m.group(2)) + int(m.group(3)) / 1e4
        got = -got if m.group(1) == "-" else got
        want = expected_freqcorr(offset)
        # ten DAC codes: the loop dithers by a few around the balance point
        if abs(got - want) > 10 / 1024:
            run.bad(f"{phase}: freqcorr {got:.4f}, the oscillator model wants {want:.4f}")
        print(f"qemu_arm64: {phase}: freqcorr {got:.4f} (model {want:.4f})")


def gap_then(recs, tag, run):
    """after pulses that did not reach TPM4: the first capture makes no DAC
    write (out of the window, or seeding), the next one does"""
    for i, r in enumerate(recs):
        if i > 0 and r["captured"] and not recs[i - 1]["captured"]:
            if i + 2 >= len(recs):
                break
            if recs[i + 1]["dac_writes"] != 0 or recs[i + 2]["dac_writes"] != 1:
                run.bad(f"{tag}: DAC writes after the gap "
                        f"{recs[i + 1]['dac_writes']}, {recs[i + 2]['dac_writes']}; want 0, 1")
            return recs[i + 1]
    run.bad(f"{tag}: no gap in the pulse records")
    return None


def check_board(run, gps_log):
    run.expect("gpsreply", "^connect = ok connected$")
    for v in run.values("kmod"):
        if not re.search(r" 0 no-message$", v):
            run.bad(f"kernel module: {v}")
    run.expect("phystub_insmod", "^0 no-message$")
    run.expect("timinghw_insmod", "^0 no-message$")
    run.expect("adapter", "^kx timing hardware I2C$")
    # both PHYs on the board's MDIO bus, bound as LAN8841s
    for i, addr in enumerate(("01", "02")):
        run.expect("phy", rf"^\S+:{addr} 0x00221650 LAN8841 stand-in", index=i)

    # load and probe
    run.expect("load", "^0 no-message$", "insmod")
    run.in_order("load", LOAD_MESSAGES)
    if not run.logged("load", "pps-uart: running @ 9600 baud (flow=1)"):
        run.bad("load: the GPS port did not start at 9600 baud with flow control")
    for msg in ("unable", "Failed", "not defined", "did not take"):
        run.absent("load", msg)
    run.state("loaded", True)
    attrs = (run.get("attrs") or "").split()
    if attrs != ATTRIBUTES:
        run.bad(f"/sys/pps_filter holds {attrs}")
    run.expect("k1", r"^200 \(134200\)$")
    run.expect("ppsname", "^kx-pps$")
    run.expect("ppspath", "^ppstimer$")
    run.passed(GUEST_OK)
    run.expect("ppscheck_rc", "^0$")

    # GPS: fix after the qualifying seconds, the clock set, the PHYs aligned
    run.expect("gps_fix", r"^1 \d+$")
    run.expect("gps_time_set", r"^1 \d+$")
    run.expect("timeknown", r"^1 \d+$")
    run.expect("nmea_rc", "^0$")
    m = run.expect("nmea", r"types (.*)$")
    if m:
        for t in ("GGA", "GSA", "GSV", "RMC", "ZDA"):
            if t not in m.group(1):
                run.bad(f"no {t} sentence came through /dev/kx_pps")
    m = run.expect("clock", r"^zda=(\d+) now=(\d+)$")
    if m and abs(int(m.group(2)) - int(m.group(1))) > 3:
        run.bad(f"system clock {m.group(2)} is not GPS time {m.group(1)} (set 1000 s back)")
    if not run.logged("gps", "Set Linux system clock from GPS"):
        run.bad("gps: the system clock was not set from GPS time")
    m = run.expect("phy_delta", r"^(-?\d+) (-?\d+)$")
    if m and (m.group(1) == "0" or m.group(2) == "0"):
        run.bad(f"PHY alignment applied no delta: {m.group(0)}")

    # the PHY clocks as the kernel's PTP clocks: one /dev/ptpN per PHY, read
    # by phc_ctl as GPS time plus the TAI offset (to the second: phc_ctl
    # prints whole seconds beside the shell's date), by the guest's check
    # against the receiver model's time, and ptppin's pin requests taken
    clocks = run.values("ptp_clock")
    if len(clocks) != 2:
        run.bad(f"PTP clocks of the PHY stub: {clocks}, want two")
    m = run.expect("tai_offset", r"^(\d+)$")
    tai = int(m.group(1)) if m else 37
    for i, dev in enumerate(clocks):
        m = run.expect("phc_ctl", rf"^{dev} (\d+) (\d+)$", index=i)
        if m and abs(int(m.group(1)) - int(m.group(2)) - tai) > 1:
            run.bad(f"phc_ctl: {dev} reads {m.group(1)}, the system clock {m.group(2)}: "
                    f"not GPS time plus {tai} s")
        run.expect("phc_rc", rf"^{dev} 0$", index=i)
        run.expect("ptppin", rf"^{dev} 0 0$", index=i)

    # the receiver's command log: speed switch at 9600, modes at 115200
    cmds = re.findall(r"(\d+):(ok|bad):(\S+)", gps_log)
    def count(text, speed=None, status="ok"):
        return sum(1 for s, st, t in cmds
                   if t.startswith(text) and st == status and (speed is None or s == speed))
    if count("$PMTK251,115200*1F", "9600") < 1:
        run.bad(f"the receiver never took the speed switch at 9600: {cmds[:4]}")
    if count("$PMTK353,1,1,1,0,0*2A", "115200") != 2:
        run.bad(f"mode 3 reached the receiver {count('$PMTK353,1,1,1,0,0*2A', '115200')} "
                "times at 115200, want 2")
    if count("$PMTK353") != 2 or count("$PMTK256,1*2E", "115200") != 2:
        run.bad("mode commands: want two PMTK353 (mode 3, none for 7) and two PMTK256")
    if any(st == "bad" for _, st, _ in cmds):
        run.bad(f"garbled commands at the receiver: {[c for c in cmds if c[1] == 'bad']}")
    if count("$PMTK251,115200*1F") < 4:
        run.bad("the timeout monitor's speed switch did not reach the receiver")
    print(f"qemu_arm64: receiver got: {' '.join(f'{s}:{t}' for s, _, t in cmds)}")

    # the closed loop
    check_loop(run, "plus1", PPM)
    run.expect("minus3", "^32767$", "dac_after_seed")
    check_loop(run, "minus3", -3 * PPM)
    m = run.expect("paused", r"^pulses=(\d+) before=(\d+) (-?\d+) after=(\d+) (-?\d+) fcd=(.*)$")
    if m:
        if int(m.group(1)) < 5 or m.group(2, 3) != m.group(4, 5) or m.group(6) != "none":
            run.bad(f"paused loop moved: {m.group(0)}")
    run.expect("resumed", r"^fcd=-?\d+$")
    m = run.expect("reseed", r"^dac=(\d+) shown=(-?\d+) old=(-?\d+)$")
    if m:
        # 2.0 in 2^26 fixed point: 0x7FFF + 2^27 * 65535 / 2^32
        if int(m.group(1)) != 0x7FFF + (2**27 * 65535) // 2**32 or m.group(2) != m.group(3):
            run.bad(f"re-seed: {m.group(0)}")
    rec = gap_then(parse_records(run.pulses.get("reseed", [])), "reseed", run)
    if rec and rec["dac_code"] != 0x7FFF + (2**27 * 65535) // 2**32:
        run.bad(f"re-seed: the seeding capture left DAC code {rec['dac_code']}")
    m = run.expect("lost", r"^dac_before=(\d+) dac_during=(\d+) timeknown=1$")
    if m and m.group(1) != m.group(2):
        run.bad(f"lost pulses: the DAC moved {m.group(0)}")
    lost = parse_records(run.pulses.get("lost", []))
    gap_then(lost, "lost pulses", run)

    # holdover: fix lost, held 3 s, expired; fix back
    run.expect("nofix", r"^0 \d+$")
    run.expect("nofix_holdover", r"^1 \d+$")
    run.expect("expired", r"^0 \d+ [3-9]\d*$")
    run.expect("refix", r"^1 \d+ 1 0$")
    run.expect("silent", r"^0 \d+$")
    if not run.logged("holdover", "No NMEA strings received in past 5 seconds, resetting."):
        run.bad("silent receiver: no timeout monitor report")
    run.expect("unsilent", r"^1 \d+$")

    # rebinding both drivers under traffic, unload, reload
    run.expect("rebind", "^5$")
    run.state("rebound", True)
    run.expect("rebound_ppscheck_rc", "^0$")
    run.expect("rebound_nmea_rc", "^0$")
    run.expect("unload_rmmod", "^0 no-message$")
    run.in_order("unload", UNLOAD_MESSAGES)
    run.state("unloaded", False)
    for i in (1, 2, 3):
        run.expect(f"cycle{i}", "^0 no-message$", "insmod")
        run.expect(f"cycle{i}", "^1 threads 2$", "source")
        run.expect(f"cycle{i}", "^0 no-message$", "rmmod")
        run.expect(f"cycle{i}", "^000$", "left")
    run.expect("timinghw_rmmod", "^0 no-message$")
    run.expect("phystub_rmmod", "^0 no-message$")


def check_rounds(run):
    run.expect("gpsreply", "^connect = ok connected$")
    rounds = os.environ.get("KX_QEMU_ROUNDS", "100")
    run.expect("rounds", f"^{rounds}$")
    run.expect("rounds_failed", "^0$")
    run.expect("rebind", "^10$")
    # the slab check needs 60 rounds or more
    run.expect("slab_growth", "^$" if int(rounds) >= 60 else "^skipped$")
    run.state("rounds_end", False)


# the receiver model's setting in qemu_arm64_ntp.sh: GPS time 200 days before
# this machine's, the position as the status files and the locator carry it
GPS_OFFSET = -17280000
COORDS = "-33.8568,151.2153"
ALTITUDE = "58.0"


def figures(text):
    return dict(kv.split("=", 1) for kv in (text or "").split() if "=" in kv)


def check_ntp(run):
    run.expect("gps_time_set", "^1 ")
    clock = run.expect("clock", r"^(\d+) ")
    if clock and abs(int(clock[1]) - (time.time() + GPS_OFFSET)) > 900:
        run.bad(f"guest clock {clock[1]} is not the model's GPS time")
    # chronyc -c tracking: reference PPS, leap status normal
    sync = run.expect("synced", r"^(\d+) 50505300,PPS,1,")
    settled = run.expect("settled", r"^(\d+) 50505300,PPS,1,[^,]*,([-\d.e]+),(?:[^,]*,){6}([\d.e]+),"
                         r"[^,]*,Normal$")
    run.expect("sources", r"#,\*,PPS,")
    run.expect("status_files", rf"^{COORDS} alt={ALTITUDE} sats=\d+")
    # the reply while locked, then early and late in holdover
    served = []
    for i in range(3):
        f = figures(run.get("host_ntp", index=i))
        served.append(f)
        try:
            off = float(f["offset"])
            # the pulses lie on the model's second edges (to within half the
            # guest's round trip to this side), so the time served is the
            # model's GPS time, give or take the network and the holdover
            ok = (abs(off - GPS_OFFSET) < 0.25 and f["stratum"] == "1" and f["leap"] == "N"
                  and 0 < float(f["rootdisp"]) < 1)
        except (KeyError, ValueError):
            ok = False
        if not ok:
            run.bad(f"NTP reply {i}: {run.get('host_ntp', index=i)!r}")
    loc = figures(run.get("host_locator"))
    reply = bytes.fromhex(loc.get("hex", ""))
    if len(reply) != 80 or reply[0] != 6 or reply[13] != 1:
        run.bad(f"locator reply {loc.get('hex')!r}: want 80 bytes, type 6, fix 1")
    else:
        pos = reply[21:46].split(b"\0")[0].decode(errors="replace")
        alt = reply[72:79].split(b"\0")[0].decode(errors="replace")
        if pos != COORDS or alt != ALTITUDE:
            run.bad(f"locator position {pos!r} altitude {alt!r}")
    # GPS lost: PPS out of the selection, still served, the error bound grows
    run.expect("lost", r"^\d+ ")
    if re.search(r"#,\*,PPS,", run.get("lost_sources") or "#,*,PPS,"):
        run.bad(f"PPS still selected after the pulses stopped: {run.get('lost_sources')!r}")
    try:
        grew = float(served[2]["rootdisp"]) > float(served[1]["rootdisp"])
    except (KeyError, ValueError):
        grew = False
    if not grew:
        run.bad("the root dispersion did not grow in holdover")
    check_pulse_source_and_limit(run)
    check_gnss_jump(run, served[0])
    if sync and settled:
        print(f"qemu_arm64: ntp: synchronised to PPS {sync[1]} s after the pulse source appeared, "
              f"root dispersion below 10 ms after {settled[1]} s (system clock's offset "
              f"{settled[2]} s, root dispersion {settled[3]} s)")
    for i, f in enumerate(served):
        print(f"qemu_arm64: ntp: {('locked', 'early holdover', 'late holdover')[i]} reply: offset against this clock "
              f"{f.get('offset')} s (model {GPS_OFFSET} s), stratum {f.get('stratum')}, "
              f"root delay {f.get('rootdelay')} s, root dispersion {f.get('rootdisp')} s")


def check_gnss_jump(run, locked):
    """the receiver an hour ahead after lock, then on time again: the
    guard's alarm, chronyd serving its held-over time as it served the
    locked one, no step seen by the client, no clock step in the guest"""
    run.expect("gnss_trusted", r"^trusted ")
    suspect = run.expect("gnss_suspect", r"^suspect \d+ time (\d+)$")
    # back on time, the pulse never moved: trusted again by agreement,
    # without the operator
    agreed = run.expect("gnss_agreed", r"^(trusted) \d+ (\d+)$")
    run.expect("suspect_client", r" suspect time$")
    served = {}
    for key in ("suspect_ntp", "agreed_ntp"):
        f = served[key] = figures(run.get(key))
        try:
            moved = float(f["offset"]) - float(locked["offset"])
            ok = abs(moved) < 0.01 and f["stratum"] == "1" and f["leap"] == "N"
        except (KeyError, ValueError):
            ok = False
        if not ok:
            run.bad(f"{key}: {run.get(key)!r}, want stratum 1, leap normal, within 10 ms "
                    f"of the locked reply's offset {locked.get('offset')}")
    clients = {}
    for key in ("suspect_client", "agreed_client"):
        f = clients[key] = figures(run.get(key))
        try:
            ok = f["li"] == "0" and f["sel"] == "*" and float(f["maxstep"]) < 0.05
        except (KeyError, ValueError):
            ok = False
        if not ok:
            run.bad(f"{key}: client state {run.get(key)!r}, want li=0 sel=* and no step "
                    "(maxstep below 50 ms)")
    steps = (run.get("gnss_steps") or "").split()
    if len(steps) < 2 or steps[0] != steps[1] or "time" not in steps:
        run.bad(f"gnss_steps: {steps}, want no clock step and the time check counted")
    elif int(steps[steps.index("time") + 1]) < 1:
        run.bad(f"gnss_steps: {steps}, want the time check counted")
    if suspect and agreed:
        def ms(f, key):
            try:
                return f"{(float(f[key]) - float(locked['offset'])) * 1e3:+.1f} ms"
            except (KeyError, ValueError):
                return "?"
        print(f"qemu_arm64: ntp: receiver +3600 s after lock: suspect (time) after "
              f"{suspect[1]} s; served 10 s later {ms(served['suspect_ntp'], 'offset')} from "
              f"the locked reply, stratum {served['suspect_ntp'].get('stratum')}; back on time: "
              f"trusted again after {agreed[2]} s"
              f", served {ms(served['agreed_ntp'], 'offset')}; "
              f"the client's largest step between polls "
              f"{clients['agreed_client'].get('maxstep')} s; no clock step")


def check_pulse_source_and_limit(run):
    """chronyd without the pulse source, then with it, again after a module
    reload; and the holdover limit reaching the client on this side"""
    # started without /dev/pps-kx: running, serving the segment's time alone
    daemons = run.get("daemons") or ""
    pids = daemons.split()[:4]
    if "Fatal" in daemons or len(pids) < 4 or not all(p.isdigit() for p in pids):
        run.bad(f"chronyd did not start without the pulse source: {daemons!r}")
    run.expect("nopps_gps", r"#,\*,GPS,")
    # the source appeared (and again after the reload): a new chronyd
    # (chronyd serving NTS runs as two processes, the server and its NTS-KE
    # helper: the old ones must all be gone, new ones there)
    for key in ("pps_added", "reloaded"):
        old, _, new = (run.get(key) or "").partition("|")
        old, new = set(old.split()), set(new.split())
        if not old or not new or old & new:
            run.bad(f"{key}: chronyd was not restarted for the new pulse source: "
                    f"{sorted(old)} then {sorted(new)}")
    run.expect("reload_rmmod", "^0 no-message$")
    # chronyd gave up its time through ntpgate's command when the holdover
    # limit ran out. The reload may add one more: the new module does not
    # know the time yet, and when ntpgate looks before the udev helper has
    # restarted chronyd it drops the old chronyd's measurements too (or finds
    # chronyd going away: chronyc failed). Either is right; more is not.
    run.expect("ntpgate_log", r"^time not known: chronyd's measurements dropped \(chronyc ok\)\|"
               r"(time not known: chronyd's measurements dropped \(chronyc (ok|failed)\)\|)?$")
    # the client: synchronised, refused once the time is not known (no
    # sample taken while it is not), synchronised again after the fix
    st = {k: figures(run.get(k)) for k in ("client_synced", "unsynced", "still_unsynced",
                                          "resynced")}
    want = {"client_synced": ("0", "*"), "unsynced": ("3", None),
            "still_unsynced": ("3", None), "resynced": ("0", "*")}
    for key, (li, sel) in want.items():
        if st[key].get("li") != li or (sel and st[key].get("sel") != sel):
            run.bad(f"{key}: client state {run.get(key)!r}, want li={li}" + (f" sel={sel}" if sel else ""))
    try:
        taken = [int(st[k]["taken"]) for k in ("unsynced", "still_unsynced", "resynced")]
    except (KeyError, ValueError):
        taken = None
    if not taken or taken[1] != taken[0] or taken[2] <= taken[1]:
        run.bad(f"client samples at the refusal, 5 s later, resynchronised: {taken}, "
                "want none taken while the time is not known and new ones after")
    reload = run.expect("reload_sources", r"^(\d+) .*#,\*,PPS,")
    expired = run.expect("expired", r"^0 \d+ (\d+)$")
    unsynced = run.expect("unsynced", r"^(\d+) (\d+) ")
    known = run.expect("known", r"^1 \d+ (\d+)$")
    resynced = run.expect("resynced", r"^(\d+) (\d+) ")
    nopps = run.get("nopps_gps") or ""
    if expired and unsynced and known and resynced:
        print(f"qemu_arm64: ntp: without the pulse source chronyd served GPS (SHM) after "
              f"{nopps.split()[0] if nopps else '?'} s; holdover limit 5 s: the time not known "
              f"{expired[1]} s after the fix was cut, the client's replies not synchronised "
              f"{unsynced[1]} s after that; the fix back: time known after {known[1]} s, the "
              f"client synchronised again {resynced[1]} s after that; after a module reload "
              f"chronyd (restarted) selected PPS after {reload[1] if reload else '?'} s")


def main():
    mode, work = sys.argv[1], sys.argv[2]
    with open(f"{work}/console.txt", errors="replace") as f:
        run = Run(f.read())
    try:
        with open(f"{work}/gps_log.txt", errors="replace") as f:
            gps_log = f.read()
    except OSError:
        gps_log = ""
    if mode == "board":
        check_board(run, gps_log)
    elif mode == "rounds":
        check_rounds(run)
    elif mode == "ntp":
        check_ntp(run)
    run.common_end()
    return run.summary(f"{mode}: ")


if __name__ == "__main__":
    sys.exit(main())
