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
