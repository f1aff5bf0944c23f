#!/usr/bin/python3
"""The whole appliance, live, for about two minutes.

simboard is the board: the GPS receiver model on its serial line and pulse,
the VCXO with its DAC8571, the LCD, button, LEDs and chips. kxkernel runs
the kx_pps module's own code against it in real time (its attributes and
/dev/kx_pps under the run's root through FUSE). nmeafeed, panelmon and
locator are the simulation builds of the daemons, unchanged; a private
chronyd (-x, never touching this machine's clock) reads the NTP segment;
kxmetrics writes the unit's metrics every 10 s and Debian's node-exporter
serves them (printed once, in holdover).

Each second the demo prints what a person at the unit and on the network
sees, and walks a scenario: start-up from +1 ppm, fix qualification, the
loop locking, the receiver trusted, a spoofer pulling the receiver an hour
ahead (the alarm; the unit holds its own time) and letting go, the
operator accepting the receiver again, the GPS
lost (holdover, the VCXO drifting), the fix back (the guard's phase alarm:
the pulse beyond what it allows the drifted VCXO; accepted again), the
receiver falling silent, the front-panel button.

The integrity guard's waits are shortened through its module parameters
at load, as /etc/modprobe.d/kx-pps.conf would set them: the receiver is
trusted after 20 s of agreement instead of 900 s (and again 10 s after it
agrees again instead of 60 s).

Run as root inside private network, IPC and mount namespaces (scripts/demo).
"""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import kxproc  # noqa: E402
kxproc.use_testbed_modules()
from appliance import Appliance, describe_reply, locator_query  # noqa: E402

K1 = 2000        # ten times the default gain (see below)
ONE_COUNT = 40   # ppb: one oscillator cycle in 25,000,000, what one pulse can see

# the integrity guard's waits for the demo (shipped: 900 s and 60 s)
GUARD_PARAMS = ["gnss_qualify=20", "gnss_agree=10"]

# (second, what happens, simboard control commands, module attribute writes)
SCENARIO = [
    (38, "a spoofer takes over the receiver: its time, pulse and sentences an hour "
         "ahead", ["gps jump 3600"], []),
    (50, "the spoofer lets go: the receiver is on time again", ["gps jump -3600"], []),
    (53, "the operator, the spoofer gone, accepts the receiver's time: "
         "echo 1 > /sys/pps_filter/gnss_accept (it qualifies again)", [], [("gnss_accept", "1")]),
    (80, "GPS lost (antenna unplugged): no fix, no pulses; meanwhile the cabinet "
         "warms and the VCXO, held at its last DAC code, runs +80 ppb fast",
         ["gps fix 0", "gps pulses 0", "osc step 80"], []),
    (100, "GPS back: fix and pulses return; the pulse comes back some 1.6 us from where "
          "the drifted VCXO puts it, beyond what the guard allows an oscillator in "
          "holdover, and it cannot tell which of the two moved", ["gps fix 1", "gps pulses 1"], []),
    (104, "the operator, the cabinet's warming known, accepts the receiver again",
     [], [("gnss_accept", "1")]),
    (112, "the receiver falls silent for 6 s (pulses go on)", ["gps silent 1"], []),
    (118, "the receiver talks again", ["gps silent 0"], []),
    (121, "button pressed: front-panel page 1", ["button press", "button release"], []),
    (124, "button pressed: front-panel page 2", ["button press", "button release"], []),
]
LENGTH = int(sys.argv[2]) if len(sys.argv) > 2 else 127
# kxmetrics' cadence on the unit (its systemd timer); node-exporter serves
# its file on a loopback port of the demo's own network namespace
METRICS_INTERVAL = 10
METRICS_AT = (47, 90)    # under the spoofer, in holdover
METRICS_SHOWN = ("kx_gnss_state{", "kx_gnss_suspect_reason{reason=\"time\"}",
                 "kx_gnss_detections_total{check=\"time\"}",
                 "kx_pps_pulses_total", "kx_gps_fix", "kx_gps_time_known", "kx_gps_holdover_seconds",
                 "kx_gps_satellites_used", "kx_gps_snr_average_dbhz", "kx_loop_freqcorr",
                 "kx_antenna_current_amperes", "kx_clock_chip_temperature_celsius",
                 "kx_chrony_stratum",
                 "kx_chrony_root_dispersion_seconds", "node_textfile_scrape_error")


class Watch:
    """Announces the changes a person would notice."""

    def __init__(self):
        self.seen = {}

    def change(self, key, value, texts, second):
        if key in self.seen and self.seen[key] != value and value in texts:
            print("   --- %s (after %d s)" % (texts[value], second))
        self.seen[key] = value


def kernel_messages(app, start):
    """The module's kernel messages since `start`, without the per-second
    PHY alignment reports."""
    lines = app.kernel.output[start:]
    shown = [l.rstrip() for l in lines
             if l.startswith("<") and not l[3:].startswith("[") and "register" not in l]
    return len(app.kernel.output), shown


def print_metrics(app):
    """A few lines of what the site's Prometheus scrapes (kxmetrics' file,
    up to 10 s old, through node-exporter)."""
    print("   --- node-exporter /metrics (kxmetrics every %d s), a few of its lines:" %
          METRICS_INTERVAL)
    for line in app.metrics_text().splitlines():
        if line.startswith(METRICS_SHOWN):
            print("       " + line)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    with Appliance(build, chrony=True, metrics_interval=METRICS_INTERVAL,
                   module_params=GUARD_PARAMS) as app:
        print("The unit is up. Its VCXO runs free at %+.0f ppb (1 ppm fast); the loop "
              "counts\nits cycles between GPS pulses (25,000,000 when exact)." %
              float(app.osc()["error_ppb"]))
        # an active antenna drawing 30 mA (INA226 counts of 3.81 uA and
        # 95.25 uW), the clock chip at 40 degrees (1/128 degree counts)
        for c in ("ina226 current 8000", "ina226 power 400", "ad9544 set 0x3003 0x00 0x14"):
            app.board.command(c)
        app.kernel.write_attr("k1", str(K1))
        print("Loop gain k1 raised from 200 to %d through /sys/pps_filter/k1: a time "
              "constant\nof about 6 pulses instead of 64, so the lock shows within "
              "these two minutes." % K1)
        print("The GNSS integrity guard's waits shortened at load (%s):\nthe receiver "
              "is trusted after 20 s of agreement (shipped: 900 s).\n" % " ".join(GUARD_PARAMS))
        watch = Watch()
        start = time.monotonic()
        events = list(SCENARIO)
        last_pulses = None
        log_at = len(app.kernel.output)
        for second in range(1, LENGTH + 1):
            while events and events[0][0] <= second:
                _, what, commands, writes = events.pop(0)
                print("   >>> %s" % what)
                for c in commands:
                    app.board.command(c)
                for name, text in writes:
                    app.kernel.write_attr(name, text)
            time.sleep(max(0.0, start + second - time.monotonic()))
            log_at, messages = kernel_messages(app, log_at)
            for m in messages[:4]:
                print("   kernel: %s" % m)
            rows = app.board.lcd_rows()
            osc = app.osc()
            error = float(osc.get("error_ppb", "nan"))
            pulses = osc.get("pulses")
            captured = osc.get("count") if pulses != last_pulses else "(no pulse)"
            last_pulses = pulses
            gpsfix, known = app.attr("gpsfix"), app.attr("timeknown")
            gnss, reason = app.attr("gnss_state"), app.attr("gnss_reason")
            watch.change("fix", gpsfix, {"1": "GPS fix qualified", "0": "GPS fix lost"}, second)
            watch.change("known", known, {"1": "time known"}, second)
            watch.change("gnss", gnss, {
                "trusted": "receiver trusted: it agrees with the unit's own time scale",
                "qualifying": "receiver qualifying again: its time taken as at start-up",
                "suspect": "ALARM: receiver suspect (%s); the unit holds over on its "
                           "oscillator and serves its own time" % reason}, second)
            locked = "in" if abs(error) < ONE_COUNT else "out"
            watch.change("lock", locked, {"in": "loop locked: VCXO within one count (40 ppb)",
                                          "out": "VCXO off by more than one count"}, second)
            print("%3ds |%s|%s|  count %s  freqcorr %s  dac %s  vcxo %+.2f ppb" % (
                second, rows[0], rows[1], captured, app.attr("freqcorr"), osc.get("dac"),
                error))
            print("      gpsfix %s  timeknown %s  holdover %s s  gnss %s (%s)  chronyd: %s" % (
                gpsfix, known, app.attr("holdover_time"), gnss, reason, app.chrony_source()))
            print("      locator: %s" % describe_reply(locator_query()))
            if second in METRICS_AT:
                print_metrics(app)
    print()
    print("The loop over a longer run, from +1 ppm with the default gain, is pictured in "
          "docs/loop.png.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
