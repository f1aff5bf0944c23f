#!/usr/bin/python3
"""Checks the console of the amd64 smoke run (qemu_smoke.sh, qemu_init.sh)
and what the GPS receiver stand-in got (qemu_gps_feed.py).

    qemu_smoke_checks.py WORKDIR START

WORKDIR/console.log.txt: the console, WORKDIR/gps_rx.log: the bytes the
driver sent the receiver; START: when the run began (seconds since the
epoch). Prints every failure and a summary; exit status 1 on any failure.
"""
import sys
import time
from collections import Counter

sys.path.insert(0, __file__.rsplit("/", 2)[0] + "/lib")
from kxq import read_console  # noqa: E402

STATE_KEYS = ("filter_dir", "platform_driver", "serdev_driver", "dev_node", "class", "module")
# qemu_devcheck's checks, by the names of their ok lines
DEVCHECKS = """filter_dir attribute_set attribute_modes_0660
    read_k1 read_k2 read_pause read_gpsfix read_tai_offset read_gpsmode
    read_timeknown read_holdover_time read_holdover_setting read_prv_integ_fp
    read_gps_time_set read_freqcorr read_freqcorrdelta_format write_prv_integ_fp
    read_phy_delta1_enodev read_phy_delta2_enodev read_manualtime_eio
    read_ppsled_eio read_deleth0_eio read_deleth1_eio write_gpsfix_eio
    write_k1_garbage_consumed write_k1 write_gpsmode write_tai_offset write_pause
    write_ppsled_unprobed write_manualtime_unprobed write_deleth0
    dev_node dev_open dev_second_open_ebusy dev_nonblock_empty_eagain
    dev_write_hello dev_read_hello_no_lf dev_read_count1_a dev_read_count0
    dev_read_count1_b dev_write_cut_128 dev_read_cut_256 dev_read_rest
    dev_full_enospc dev_drain_all dev_ioctl_6b00 dev_ioctl_6b01_enotty
    dev_blocking_read_sleeps dev_blocking_read_woken dev_blocking_read_eintr
    dev_write_efault dev_read_efault dev_read_efault_consumed
    dev_reopen_after_close""".split()


def state_is(con, phase, want, keys=STATE_KEYS):
    for key in keys:
        con.expect(f"{phase} {key}", f"^{want}$")


def check_load(con):
    con.expect("phystub_insmod", "^0 no-message$")
    # without adapter 1: EIO after the three messages, nothing left behind
    # (busybox's insmod tries finit_module, then init_module: the messages twice)
    con.expect("noadapter_insmod", "^[1-9][0-9]* .*Input/output error")
    con.in_order("noadapter", ["PPS says hello!", "ppsdac: unable to get i2c adapter 1",
                               "unable to allocate dac client", "unable to allocate i2c clients"])
    con.absent("noadapter", "Initial write to DAC")
    state_is(con, "noadapter", 0)
    # the adapters: the stub must be number 1
    con.expect("i801_insmod", "^0 no-message / 0 no-message$")
    con.expect("stub_insmod", "^0 no-message$")
    if "i2c-1 SMBus stub driver" not in con.values("adapter"):
        con.bad(f"i2c-1 is not the SMBus stub: {';'.join(con.values('adapter'))}")
    # the load; the timer device (no MACs) is probed and deferred, the GPS
    # receiver bound
    con.expect("load_insmod", "^0 no-message$")
    con.in_order("load", ["pps:  Starting pps_probe", "pps: pps-led-gpios not present in DT",
                          "PPS says hello!", "ppsdac: got i2c adapter 1!", "Initial write to DAC",
                          "tpm4 clk root is:", "Device tree node pwm4 is not defined in DTS",
                          "Failed to map IRQ", "pps-uart: running @ 9600 baud (flow=0)"])
    for msg in ("registered LinuxPPS source", "unable to get i2c adapter", "unable to allocate",
                "unable to map"):
        con.absent("load", msg)
    con.expect("loaded deferred", "PRP0001")
    state_is(con, "loaded", 1)
    con.expect("loaded dac_client", "^ti-dac8571-pps$")


def check_devcheck(con):
    """attributes and device, from the guest's point of view"""
    con.expect("devcheck full failures", "^0$")
    con.expect("devcheck_rc", "^0$")
    con.expect("params", "^gnss_agree gnss_drag gnss_guard gnss_phase gnss_qualify gnss_radius "
               "holdover_limit last_count loop_mode 0 ?$")
    con.expect("holdover_limit", "^120 0$")
    con.passed(DEVCHECKS)
    con.in_order("devcheck", ["pps chardev: FIFO empty, O_NONBLOCK"])
    con.in_order("devcheck", ["g_pps/cap0/cap1 pointer error!!!"])
    con.in_order("devcheck", ["pps chardev: wake with ret=-512",
                              "pps chardev: copy_from_user failed",
                              "pps chardev: copy_to_user failed"])


def check_gps(con, rx):
    """a fix after the qualifying seconds, whole sentences in /dev/kx_pps,
    none from an unbound driver, again after binding it anew"""
    for key, want in (("gps_bound", "1"), ("gps_fix", "1"), ("gps_holdover_time", "0"),
                      ("gps_nmea_rc", "0"), ("gps_unbound", "0"), ("gps_unbound_queue", "0"),
                      ("gps_rebound", "1"), ("gps_rebound_nmea_rc", "0"),
                      ("gps_stress_reader_rc", "0"), ("gps_stress_binds", "10 1"),
                      ("gps_after_noise_nmea_rc", "0")):
        con.expect(key, f"^{want}$")
    v = con.get("gps_noise_queue")
    if not (v and v.isdigit() and 0 < int(v) <= 4096):
        con.bad(f"queue after the noise: {v!r} bytes")
    # fix cleared, and not before the 5 s (less the 0.1 s between two of the
    # feeder's seconds) after the last ZDA
    con.expect("gps_silent_fix", "^0 (49[0-9]|[5-9][0-9][0-9]|[1-9][0-9][0-9][0-9])$")
    # what reached the receiver: the speed switch at both binds and from the
    # monitor; mode 0 (the attribute test's last write) with the first lines,
    # then mode 3, each twice and followed by the timing command twice; no
    # command for mode 7
    lines = rx.split("\n")
    def count(text):
        return sum(1 for line in lines if text in line)
    for text, want in (("$PMTK353,1,0,0,0,0*2A", 2), ("$PMTK353,1,1,1,0,0*2A", 2),
                       ("$PMTK353", 4), ("$PMTK256,1*2E", 4)):
        if count(text) != want:
            con.bad(f"receiver got {text} {count(text)} times, want {want}")
    if count("$PMTK251,115200*1F") < 6:
        con.bad(f"receiver got {count('$PMTK251,115200*1F')} speed switches, want 6 or more")
    got = Counter(line.strip("\r") for line in lines if line.strip("\r"))
    print("qemu_smoke: receiver got: " + " ".join(f"{n} {t}" for t, n in sorted(got.items())))
    if con.oks.count("nmea_whole_sentences") != 3:
        con.bad("the GPS lines were not read whole three times")
    print(f"qemu_smoke: gps: {';'.join(con.values('nmea lines'))} missed-GGA reports: "
          f"{sum('missed GGA' in line for line in con.logs.get('gps', []))}")


def check_unload(con):
    # the unload (while the GPS stream runs): refused while /dev/kx_pps is
    # open (busybox asks with O_NONBLOCK: EAGAIN), then done
    con.expect("busy_rmmod", "^[1-9][0-9]* .*(Resource temporarily unavailable|in use|busy)")
    con.expect("unload_rmmod", "^0 no-message$")
    con.in_order("unload", ["pps chardev: Removed", "PPS driver exit!",
                            "All sysfs_remove_file call done", "kobject_put done",
                            "Remove filter done"])
    state_is(con, "unloaded", 0)
    con.expect("unloaded dac_client", "^none$")
    for i in (1, 2, 3):
        con.expect(f"cycle{i} insmod", "^0 no-message$")
        con.expect(f"cycle{i} devcheck", "^0$")
        con.expect(f"cycle{i} rmmod", "^0 no-message$")
        con.expect(f"cycle{i} left", "^000$")
        con.in_order(f"cycle{i}", ["PPS says hello!", "Initial write to DAC", "PPS driver exit!",
                                   "Remove filter done"])
    con.expect("phystub_rmmod", "^0 no-message$")
    left = (con.get("modules_left") or "").split()
    if "kx_pps" in left or "kxpps_phystub" in left:
        con.bad(f"modules left: {con.get('modules_left')}")


def main():
    work, start = sys.argv[1], int(sys.argv[2])
    con = read_console(f"{work}/console.log.txt", "qemu_smoke")
    if not con.ended():
        return 1
    with open(f"{work}/gps_rx.log", "rb") as f:
        rx = f.read().decode("latin-1")
    check_load(con)
    check_devcheck(con)
    check_gps(con, rx)
    check_unload(con)
    con.kernel_clean()
    # what the DAC's first write met on the SMBus-only stub adapter
    for line in con.logs.get("load", []):
        if line.startswith("ppsdac: "):
            print(f"qemu_smoke: load: {line}")
    return con.summary(f"{int(time.time()) - start} s in all, ")


if __name__ == "__main__":
    sys.exit(main())
