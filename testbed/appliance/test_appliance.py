"""The appliance end to end on the live module: the receiver model's
sentences qualify the fix in the module, the VCXO's captures drive the
discipline loop, whose DAC writes tune the VCXO; nmeafeed, panelmon and
locator read the module's device and attributes. Then the GPS goes and
the unit holds over.

Runs under `unshare --net --ipc --mount` (ctest does that). Every wait is
for a condition, capped generously.
"""
import os

from appliance import Appliance, locator_query, read


def test_fix_loop_and_holdover():
    with Appliance(os.environ["KX_BUILD"]) as app:
        app.kernel.write_attr("k1", "2000")
        app.wait_for("fix qualified", lambda: app.attr("gpsfix") == "1")
        app.wait_for("time known", lambda: app.attr("timeknown") == "1")

        # The loop: accepted captures pull the VCXO from +1 ppm towards zero
        # through the module's DAC writes on the board's bus 1.
        app.wait_for("VCXO tuned within 100 ppb",
                     lambda: abs(float(app.osc()["error_ppb"])) < 100)
        assert int(app.osc()["dac"]) < 32768       # a fast VCXO is tuned down
        assert float(app.attr("freqcorr")) < 0

        # The daemons on the module's files.
        app.wait_for("nmeafeed status files",
                     lambda: read(app.root, "/var/volatile/rundata/numsats.dat", "0") not in
                     ("0", ""))
        app.wait_for("panel shows the GPS time",
                     lambda: app.board.lcd_rows()[0].strip().endswith("UTC") and
                     app.board.lcd_rows()[0].strip() != "00:00:00 UTC")
        app.wait_for("locator reports the fix",
                     lambda: (locator_query() or b"\0" * 14)[13] == 1)

        # GPS lost: the module drops the fix and counts the holdover.
        app.board.command("gps fix 0")
        app.board.command("gps pulses 0")
        app.wait_for("fix dropped", lambda: app.attr("gpsfix") == "0")
        app.wait_for("holdover counted", lambda: int(app.attr("holdover_time")) >= 2)
        assert app.attr("timeknown") == "1"
        app.wait_for("panel shows the holdover",
                     lambda: app.board.lcd_rows()[1].startswith("Holdover"))


# The module's integrity guard with its waits shortened (the shipped
# defaults: 900 s of agreement before the receiver is trusted, 60 s to be
# trusted again), through its parameters at load.
GUARD_PARAMS = ["gnss_qualify=20", "gnss_agree=10"]


def test_spoofed_time_and_position_raise_the_alarm():
    """A receiver that lies after it was trusted, as a spoofer makes it:
    an hour ahead, then back on time; then a position 10 km away. Each time
    the panel and the metrics show the alarm and its reason and the module
    steps no clock. Back on time (its pulse never moved) the receiver is
    trusted again on its own; 10 km away it is once the operator accepts
    it, qualifies and is trusted again."""
    with Appliance(os.environ["KX_BUILD"], metrics_interval=1,
                   module_params=GUARD_PARAMS) as app:
        app.kernel.write_attr("k1", "2000")
        app.wait_for("receiver trusted", lambda: app.attr("gnss_state") == "trusted", 240)
        steps = sum("Set Linux system clock" in l for l in app.kernel.output)
        m = {}

        def alarm(reason, row):
            app.wait_for("the panel's alarm %r" % row, lambda: app.board.lcd_rows()[1] == row)
            assert app.attr("gnss_state") == "suspect" and app.attr("gnss_reason") == reason

            def scraped():
                m.clear()
                m.update(app.scrape())
                return (m.get('kx_gnss_state{state="suspect"}') == 1 and
                        m.get('kx_gnss_suspect_reason{reason="%s"}' % reason) == 1)
            app.wait_for("the alarm in the metrics", scraped)
            assert m['kx_gnss_detections_total{check="%s"}' % reason] >= 1
            assert m['kx_gnss_state{state="trusted"}'] == 0
            assert "kx_gnss_state_since_timestamp_seconds" in m

        def accepted():
            app.kernel.write_attr("gnss_accept", "1")
            assert app.attr("gnss_state") == "qualifying"
            app.wait_for("trusted again", lambda: app.attr("gnss_state") == "trusted")
            app.wait_for("the panel's fix row", lambda: app.board.lcd_rows()[1].startswith("GPS:"))

        app.board.command("gps jump 3600")
        alarm("time", "GPS SUSPECT TIME    ")
        app.board.command("gps jump -3600")
        app.wait_for("trusted again on its own", lambda: app.attr("gnss_state") == "trusted")
        assert any("agrees again: trusted" in l for l in app.kernel.output)
        app.wait_for("the panel's fix row", lambda: app.board.lcd_rows()[1].startswith("GPS:"))

        app.board.command("gps position move 10000 0")
        alarm("position", "GPS SUSPECT POSITION")
        # the operator accepts the receiver where it now is
        accepted()
        # the lies never reached the clock
        assert sum("Set Linux system clock" in l for l in app.kernel.output) == steps
