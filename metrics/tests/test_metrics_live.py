"""kxmetrics on the live appliance, scraped through Debian's node-exporter.

The whole appliance runs on the simulated board (testbed/appliance/appliance.py: simboard,
the module's own code in kxkernel, nmeafeed, panelmon, locator, a private
chronyd), with kxmetrics in its repeating mode and prometheus-node-exporter
reading its textfile directory on a loopback port of the run's private
network namespace. The scraped kx_ series must follow what the board does:
the fix qualified, the clock chip and antenna values set on the board's
models, chronyd tracking the GPS, the pulses counted, then the GPS lost
(holdover seconds counting, the fix 0, no pulse) and back.

Runs under `unshare --net --ipc --mount` (ctest does that). Every wait is
for a condition, capped generously.
"""
import os
import re

from appliance import Appliance

INTERVAL = 1   # seconds between kxmetrics runs (the product's timer: 10)


def well_formed(app):
    """The scrape as node-exporter serves it: the textfile read without
    error, every kx_ family with its HELP and TYPE."""
    text = app.metrics_text()
    names = set(re.findall(r"^(kx_\w+)[{ ]", text, re.M))
    assert names, text
    for n in names:
        assert "# HELP %s " % n in text and re.search("# TYPE %s (gauge|counter)\n" % n, text), n
    assert re.search(r"^node_textfile_scrape_error 0$", text, re.M), text


def test_series_follow_the_board():
    with Appliance(os.environ["KX_BUILD"], chrony=True, metrics_interval=INTERVAL) as app:
        m = {}

        def scraped(test):
            def check():
                m.clear()
                m.update(app.scrape())
                return m.get("node_textfile_scrape_error") == 0 and test(m)
            return check

        # Values set on the board's chip models: INA226 current 8000 counts
        # (3.81 uA each: 30 mA), power 400 counts (95.25 uW each: 38 mW);
        # AD9544 temperature 0x1234/128 = 36 degrees, reference AA status
        # 0x12 (valid bit 4 set).
        app.board.command("ina226 current 8000")
        app.board.command("ina226 power 400")
        app.board.command("ad9544 set 0x3003 0x34 0x12")
        app.board.command("ad9544 set 0x3006 0x12")
        app.kernel.write_attr("k1", "2000")

        app.wait_for("fix and satellites in the metrics", scraped(
            lambda m: m.get("kx_gps_fix") == 1 and m.get("kx_gps_time_known") == 1 and
            m.get("kx_gps_satellites_used", 0) > 0 and
            m.get('kx_gps_satellites_seen{system="gps"}', 0) > 0 and
            m.get('kx_gps_snr_average_dbhz{system="gps"}', 0) > 0))
        app.wait_for("the board's chip values", scraped(
            lambda m: m.get("kx_antenna_current_amperes") == 0.03 and
            m.get("kx_antenna_power_watts") == 0.038 and
            m.get("kx_clock_chip_temperature_celsius") == 36 and
            m.get('kx_clock_chip_ref_status{ref="aa"}') == 0x12 and
            m.get('kx_clock_chip_status_bit{bit="ref_aa_valid"}') == 1))
        app.wait_for("chronyd tracking the GPS", scraped(
            lambda m: m.get("kx_chrony_stratum") == 1 and m.get("kx_chrony_leap_status") == 0 and
            'kx_chrony_tracking_info{leap_status="Normal",reference_id="47505300",'
            'reference_name="GPS"}' in m and "kx_chrony_root_dispersion_seconds" in m))
        # the loop: a fast VCXO is tuned down, freqcorr negative
        app.wait_for("the loop's correction", scraped(
            lambda m: m.get("kx_loop_freqcorr", 0) < 0 and m.get("kx_loop_paused") == 0))
        # the last captured count: the VCXO's cycles in a second, within
        # the loop's acceptance window of the nominal 25,000,000
        app.wait_for("the loop's last count", scraped(
            lambda m: abs(m.get("kx_loop_last_count", 0) - 25000000) <= 99))
        # the module's LinuxPPS source counts the pulses
        app.wait_for("pulses counted", scraped(lambda m: m.get("kx_pps_pulses_total", 0) > 0))
        pulses = m["kx_pps_pulses_total"]
        app.wait_for("pulses counting", scraped(
            lambda m: m.get("kx_pps_pulses_total", 0) > pulses and
            "kx_pps_last_pulse_timestamp_seconds" in m))
        well_formed(app)

        # GPS lost: the fix and the pulses go, the holdover seconds count up
        # while the time stays known (no limit set).
        app.board.command("gps fix 0")
        app.board.command("gps pulses 0")
        app.wait_for("fix lost", scraped(
            lambda m: m.get("kx_gps_fix") == 0 and m.get("kx_gps_holdover_seconds", 0) > 0))
        first, pulses = m["kx_gps_holdover_seconds"], m["kx_pps_pulses_total"]
        app.wait_for("holdover counting", scraped(
            lambda m: m.get("kx_gps_holdover_seconds", 0) >= first + 3))
        assert m["kx_gps_time_known"] == 1 and m["kx_gps_fix"] == 0
        assert m["kx_pps_pulses_total"] == pulses

        # Back: the fix and the pulses return, the count restarts.
        app.board.command("gps fix 1")
        app.board.command("gps pulses 1")
        app.wait_for("fix back", scraped(
            lambda m: m.get("kx_gps_fix", 0) > 0 and m.get("kx_gps_holdover_seconds") == 0 and
            m.get("kx_pps_pulses_total", 0) > pulses))
        well_formed(app)
