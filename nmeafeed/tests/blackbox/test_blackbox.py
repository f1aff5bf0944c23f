"""Black-box tests of the nmeafeed binary: lines into dev/kx_pps (a FIFO),
status files, standard output and the NTP segment checked from outside."""
import os
import re
import threading
import time

import pytest

from nmeafeed_harness import (GGA, SAMPLE, Daemon, sat_text, shm_attach, shm_create, shm_remove,
                              shm_wait_count, with_checksum, zda)


def test_start_up_without_gpio_chip_and_device():
    with Daemon(make_fifo=False) as d:
        d.wait_output("failed to open nmea source", count=2)
        out = d.stdout()
        path = os.path.join(d.root, "dev/kx_pps")
        assert out.startswith("Failed requesting line gps_reset"
                              "Starting nmeafeed: opening port %s.\n"
                              "failed to open nmea source %s" % (path, path))
        d.make_fifo()
        d.wait_opened()
        d.send_lines([GGA, zda("123519.000", 7, 12, 2026)])
        d.wait_output("ZDA: 12/7/2026 12:35:19\n")
        assert d.read_file("numsats.dat") == "8"


def test_fresh_segment_after_set_up():
    with Daemon() as d:
        d.wait_opened()
        seg = shm_attach()
        assert seg is not None
        assert (seg.mode, seg.count, seg.precision, seg.nsamples, seg.valid, seg.leap) == \
            (1, 0, -20, 3, 0, 0)
        assert (seg.clockTimeStampSec, seg.clockTimeStampUSec, seg.clockTimeStampNSec) == (0, 0, 0)
        assert (seg.receiveTimeStampSec, seg.receiveTimeStampUSec,
                seg.receiveTimeStampNSec) == (0, 0, 0)
        assert list(seg.dummy) == [0] * 8
        assert d.stderr() == ""


def test_one_second_of_gps_and_glonass():
    with Daemon() as d:
        d.wait_opened()
        before = time.time()
        # a sample needs the ZDA of the second before: a time that follows
        d.send_lines([
            zda("235958.600", 31, 12, 2026),
            GGA,
            with_checksum("$GPGSV,2,1,05,05,40,083,46,09,12,200,38,12,55,140,47,15,31,048,41"),
            with_checksum("$GPGSV,2,2,05,21,74,018,44"),
            with_checksum("$GLGSV,1,1,02,65,33,101,39,66,61,030,43"),
            "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,071226,003.1,W*6A",
            zda("235959.600", 31, 12, 2026),
        ])
        d.wait_output("ZDA: 12/31/2026 23:59:60\n")
        seg = shm_wait_count(1)
        after = time.time()
        assert d.read_file("numsats.dat") == "8"
        assert d.read_file("coords.dat") == "48.117,11.516"
        assert d.read_file("altitude.dat") == "545.4"
        assert d.read_file("gsatlist.dat") == sat_text([12, 5, 21, 15, 9])
        assert d.read_file("gsnrlist.dat") == sat_text([47, 46, 44, 41, 38])
        assert d.read_file("lsatlist.dat") == sat_text([66, 65])
        assert d.read_file("lsnrlist.dat") == sat_text([43, 39])
        for name in ("asatlist.dat", "asnrlist.dat", "bsatlist.dat", "bsnrlist.dat"):
            assert not d.has_file(name)
        # 2027-01-01 00:00:00 UTC: the rounded second 60 carries over.
        assert seg.clockTimeStampSec == 1798761600
        assert (seg.clockTimeStampUSec, seg.clockTimeStampNSec) == (0, 0)
        assert int(before) <= seg.receiveTimeStampSec <= int(after) + 1
        assert seg.receiveTimeStampUSec == seg.receiveTimeStampNSec // 1000
        assert (seg.count, seg.valid, seg.leap, seg.mode) == (2, 1, 0, 1)


def test_each_zda_is_one_sample_and_rewrites_the_files():
    with Daemon() as d:
        d.wait_opened()
        d.send_lines([zda("235959.000", 31, 12, 2026), zda("000000.000", 1, 1, 2027)])
        d.wait_output("ZDA: 1/1/2027 0:0:0\n")
        assert d.read_file("numsats.dat") == "0"
        assert d.read_file("coords.dat") == "0.0,0.0"
        assert d.read_file("altitude.dat") == ""
        os.unlink(os.path.join(d.rundata, "numsats.dat"))
        d.send_lines([zda("000001.000", 1, 1, 2027)])
        d.wait_output("ZDA: 1/1/2027 0:0:1\n")
        seg = shm_wait_count(2)
        assert seg.count == 4 and seg.valid == 1
        assert seg.clockTimeStampSec == 1798761601
        assert d.read_file("numsats.dat") == "0"
        assert not d.has_file("gsatlist.dat")


def test_bytes_trickling_in_pieces():
    with Daemon() as d:
        d.wait_opened()
        data = "garbage before the first sentence\n" + GGA + "\r\n" + \
            zda("101010.250", 2, 3, 2026) + "\r\n"
        for i in range(0, len(data), 7):
            d.send(data[i:i + 7])
            time.sleep(0.002)
        d.wait_output("ZDA: 3/2/2026 10:10:10\n")
        assert d.read_file("coords.dat") == "48.117,11.516"


def test_damaged_sentences_are_dropped():
    with Daemon() as d:
        d.wait_opened()
        d.send_lines([zda("101009.000", 2, 3, 2026), GGA, zda("101010.000", 2, 3, 2026)])
        d.wait_output("ZDA: 3/2/2026 10:10:10\n")
        # One digit of the time and one of the satellite count damaged on
        # the line, checksums as sent; the year's last digit lost to a break
        # on the line (a NUL); a ZDA without its checksum, and one cut after
        # its year: none may reach the files or the segment. Lower-case
        # checksum digits are fine.
        d.send_lines([GGA.replace(",08,", ",09,"),
                      zda("101011.000", 2, 3, 2026).replace("101011", "101019"),
                      zda("101014.000", 2, 3, 2026).replace("2026,", "202\0,"),
                      "$GPZDA,101015.000,02,03,2026,00,00",
                      "$GPZDA,101016.000,02,03,2026",
                      zda("101011.000", 2, 3, 2026).lower().replace("$gpzda", "$GPZDA")])
        d.wait_output("ZDA: 3/2/2026 10:10:11\n")
        for damaged in ("10:10:19", "/202 ", "10:10:14", "10:10:15", "10:10:16"):
            assert damaged not in d.stdout()
        assert d.stdout().count("ZDA:") == 3
        seg = shm_wait_count(2)
        assert seg.count == 4 and seg.clockTimeStampSec == 1772446211
        assert d.read_file("numsats.dat") == "8"


def test_end_of_data_closes_and_reopens_the_device():
    with Daemon() as d:
        d.wait_opened()
        d.send_lines([zda("101009.000", 2, 3, 2026), GGA, zda("101010.000", 2, 3, 2026)])
        d.wait_output("ZDA: 3/2/2026 10:10:10\n")
        # The writer goes away: one report, then the device is opened again
        # as at start-up (the open of a FIFO waits for the next writer).
        os.close(d.writer)
        d.writer = None
        d.wait_output("Starting nmeafeed: opening port", count=2)
        assert d.stdout().count("failed to read from nmea source") == 1
        d.make_fifo()
        d.wait_opened()
        d.send_lines([zda("101011.000", 2, 3, 2026)])
        d.wait_output("ZDA: 3/2/2026 10:10:11\n")
        assert d.stdout().count("failed to read from nmea source") == 1
        assert shm_wait_count(2).clockTimeStampSec == 1772446211


def test_readers_never_see_an_empty_or_partial_status_file():
    seconds = 400
    patterns = {"numsats.dat": r"\d+", "coords.dat": r"-?\d+\.\d+,-?\d+\.\d+",
                "altitude.dat": r"\d+\.\d", "gsnrlist.dat": r"( {0,2}\d+ ){12}"}
    stream = []
    for t in range(seconds):
        hms = "%02d%02d%02d" % (t // 3600, t // 60 % 60, t % 60)
        stream.append(with_checksum("$GPGGA,%s,4807.038,N,01131.000,E,1,%02d,0.9,%d.4,M,46.9,M,,"
                                    % (hms, 4 + t % 9, 5 + t * 37 % 3000)))
        stream.append(with_checksum("$GPGSV,1,1,03,05,40,083,%02d,09,12,200,38,12,55,140,4%d"
                                    % (t % 50, t % 10)))
        stream.append(zda(hms + ".000", 1, 1, 2026))
    bad = []
    done = threading.Event()

    def reader(rundata):
        while not done.is_set():
            for name, pattern in patterns.items():
                try:
                    with open(os.path.join(rundata, name)) as f:
                        text = f.read()
                except FileNotFoundError:
                    continue
                if not re.fullmatch(pattern, text):
                    bad.append((name, text))

    with Daemon() as d:
        d.wait_opened()
        d.send_lines(stream[:6])  # the first ZDA only takes its time
        shm_wait_count(1)
        t = threading.Thread(target=reader, args=(d.rundata,))
        t.start()
        try:
            d.send_lines(stream[6:])
            shm_wait_count(seconds - 1, timeout=120)
        finally:
            done.set()
            t.join()
        assert bad == []
        assert sorted(f for f in os.listdir(d.rundata) if f.startswith(".")) == []


def test_zda_without_numbers_prints_nothing_and_feeds_nothing():
    with Daemon() as d:
        d.wait_opened()
        d.send_lines([zda("101009.000", 2, 3, 2026), GGA, "$GPZDA,,,,,,*48",
                      zda("101010.000", 2, 3, 2026)])
        d.wait_output("ZDA: 3/2/2026 10:10:10\n")
        assert d.stdout().count("ZDA:") == 2
        seg = shm_wait_count(1)
        assert seg.count == 2
        assert seg.clockTimeStampSec == 1772446210


def test_overlong_stream_resynchronises_at_the_next_dollar():
    with Daemon() as d:
        d.wait_opened()
        d.send("$GPGGA," + "9" * 5000 + "\n" + "x" * 3000 + "\n")
        d.send_lines([GGA, zda("111111.000", 4, 5, 2026)])
        d.wait_output("ZDA: 5/4/2026 11:11:11\n")
        assert d.read_file("numsats.dat") == "8"
        assert d.alive()


def test_gsv_limits_and_talkers():
    def message(i):
        sats = ["%02d,10,100,%02d" % (4 * (i - 1) + k, 4 * (i - 1) + k + 10) for k in range(1, 5)]
        return with_checksum("$GAGSV,5,%d,20,%s" % (i, ",".join(sats)))
    with Daemon() as d:
        d.wait_opened()
        d.send_lines([GGA] + [message(i) for i in range(1, 6)] + [
            with_checksum("$GNGSV,1,1,01,44,10,100,50"),
            with_checksum("$BDGSV,1,1,01,07,44,250,39"),
            zda("120000.000", 1, 6, 2026)])
        d.wait_output("ZDA: 6/1/2026 12:0:0\n")
        # The fifth message is dropped: satellites 1 to 16, the strongest
        # twelve written, strongest first. GN satellites go nowhere.
        assert d.read_file("asatlist.dat") == sat_text(range(16, 4, -1))
        assert d.read_file("asnrlist.dat") == sat_text(range(26, 14, -1))
        assert d.read_file("bsatlist.dat") == sat_text([7])
        assert not d.has_file("gsatlist.dat")


def test_recorded_session():
    with open(SAMPLE, "rb") as f:
        session = f.read()
    lines = session.decode().splitlines()
    last_gga = [l for l in lines if l.startswith("$GPGGA")][-1]
    with Daemon() as d:
        d.wait_opened()
        d.send(session)
        d.wait_output("ZDA: 12/8/2026 0:0:34\n")
        assert d.stdout().count("ZDA: ") == 75
        # the first ZDA only takes its time: a sample for each of the others
        seg = shm_wait_count(74)
        assert seg.count == 148
        assert seg.clockTimeStampSec == 1796688034  # 2026-12-08 00:00:34 UTC
        assert d.read_file("numsats.dat") == "8"
        fields = last_gga.split(",")
        assert d.read_file("altitude.dat") == fields[9]
        lat = int(fields[2][:2]) + float(fields[2][2:]) / 60
        lon = int(fields[4][:3]) + float(fields[4][3:]) / 60
        got_lat, got_lon = (float(x) for x in d.read_file("coords.dat").split(","))
        assert abs(got_lat - lat) < 1e-4 and abs(got_lon - lon) < 1e-4
        for letter in "glab":
            assert len(d.read_file("%csatlist.dat" % letter)) == 48
        snr = [int(x) for x in d.read_file("gsnrlist.dat").split()]
        assert snr == sorted(snr, reverse=True)
        assert d.stderr() == ""


def test_segment_set_up_failure_keeps_the_daemon_working():
    shm_create(16)  # same key, too small
    try:
        with Daemon() as d:
            d.wait_opened()
            d.send_lines([GGA, zda("121212.000", 1, 1, 2026)])
            d.wait_output("ZDA: 1/1/2026 12:12:12\n")
            assert "Error initializing ntpshm!!!\n" in d.stdout()
            assert d.stderr() == "shmget failed: Invalid argument\n"
            assert d.read_file("numsats.dat") == "8"
    finally:
        shm_remove()


def test_restart_clears_the_existing_segment():
    with Daemon() as d:
        d.wait_opened()
        d.send_lines([zda("235959.000", 31, 12, 2026), zda("000000.000", 1, 1, 2027)])
        shm_wait_count(1)
    seg = shm_attach()
    assert seg.count == 2, "the segment outlives the daemon"
    with Daemon() as d:
        d.wait_opened()
        seg = shm_attach()
        assert (seg.count, seg.valid, seg.clockTimeStampSec) == (0, 0, 0)


def test_reset_line_held_on_the_simulated_board():
    simboard = pytest.importorskip("simboard")
    if not os.environ.get("KX_SIMBOARD"):
        pytest.skip("no simboard binary")
    with simboard.SimBoard() as board:
        with Daemon(root=board.root) as d:
            d.wait_opened()
            assert not d.stdout().startswith("Failed requesting line gps_reset")
            assert board.gpio_consumer(3) == "gps_reset"
            assert board.gpio_get(3) == 1
            # A second daemon cannot take the held line but still runs.
            with Daemon(root=board.root, make_fifo=False) as second:
                second.wait_output("Starting nmeafeed: opening port")
                assert second.stdout().startswith("Failed requesting line gps_reset"
                                                  "Starting nmeafeed")
            d.send_lines([GGA, zda("121212.000", 1, 1, 2026)])
            d.wait_output("ZDA: 1/1/2026 12:12:12\n")
