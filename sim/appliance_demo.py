#!/usr/bin/python3
"""The whole appliance, live, for about two minutes.

simboard is the board: the GPS receiver model on its serial line and pulse,
the VCXO with its DAC8571, the LCD, button, LEDs and chips. kxkernel runs
the kx_pps module's own code against it in real time (its attributes and
/dev/kx_pps under the run's root through FUSE). nmeafeed, panelmon and
locator are the simulation builds of the daemons, unchanged; a private
chronyd (-x, never touching this machine's clock) reads the NTP segment.

Each second the demo prints what a person at the unit and on the network
sees, and walks a scenario: start-up from +1 ppm, fix qualification, the
loop locking, the GPS lost (holdover), the fix back.

Run as root inside private network, IPC and mount namespaces (scripts/demo).
"""
import sys
import time

from appliance import Appliance, describe_reply, locator_query

K1 = 2000   # ten times the default gain: locks from +1 ppm in well under a minute

# (second, what happens, control commands for simboard)
SCENARIO = [
    (50, "GPS lost: antenna unplugged, no fix and no pulses", ["gps fix 0", "gps pulses 0"]),
    (80, "GPS back: fix and pulses return", ["gps fix 1", "gps pulses 1"]),
    (100, "button pressed: front-panel page 1", ["button press", "button release"]),
    (104, "button pressed: front-panel page 2", ["button press", "button release"]),
]
LENGTH = int(sys.argv[2]) if len(sys.argv) > 2 else 115


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    with Appliance(build, chrony=True) as app:
        print("the unit is up; the VCXO runs free at %+.0f ppb (osc state: %s)" % (
            float(app.osc()["offset_ppb"]), app.board.command("osc state")))
        app.kernel.write_attr("k1", str(K1))
        print("loop gain k1 raised from 200 to %d through /sys/pps_filter/k1 (time constant\n"
              "about 6 pulses instead of 64), so the demo sees the lock in its two minutes" % K1)
        print()
        start = time.monotonic()
        events = list(SCENARIO)
        last_count = None
        for second in range(1, LENGTH + 1):
            while events and events[0][0] <= second:
                _, what, commands = events.pop(0)
                print("   >>> %s" % what)
                for c in commands:
                    app.board.command(c)
            time.sleep(max(0.0, start + second - time.monotonic()))
            rows = app.board.lcd_rows()
            osc = app.osc()
            count = osc.get("pulses")
            captured = osc.get("count") if count != last_count else "(no pulse)"
            last_count = count
            print("%3ds |%s|%s|  count %s  freqcorr %s  dac %s  vcxo %+.2f ppb" % (
                second, rows[0], rows[1], captured, app.attr("freqcorr"),
                osc.get("dac"), float(osc.get("error_ppb", "nan"))))
            print("      gpsfix %s  timeknown %s  holdover %s s   chrony: %s" % (
                app.attr("gpsfix"), app.attr("timeknown"), app.attr("holdover_time"),
                app.chrony_source()))
            print("      locator: %s" % describe_reply(locator_query()))
    print()
    print("The loop's behaviour over a longer run is pictured in docs/loop.png.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
