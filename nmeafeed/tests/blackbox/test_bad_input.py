"""Bad input through dev/kx_pps: megabytes of random bytes and malformed
sentences. The daemon must keep running (in the sanitizer tree any memory
or undefined-behaviour fault ends it) and answer good seconds correctly
afterwards."""
import calendar
import random

from nmeafeed_harness import (GGA, SAMPLE, Daemon, sat_text, shm_wait_count, shm_wait_stamp,
                              with_checksum, zda)


def malformed_lines(rng, count):
    with open(SAMPLE) as f:
        good = [l.rstrip("\r\n") for l in f if l.startswith("$")]
    specials = [
        "$GPZDA,,,,,,*48", "$GPZDA", "$GPZDA,", "$GNZDA,-1-1-1.-99,-1,-1,-999,00,00",
        "$GPZDA,235959.9999999999999,99,99,99999,00,00", "$GPZDA,  1  2.  3, 1, 2,   3",
        "$GPGGA," + "9" * 300, "$GPGGA,123519,99999999999.99999999999,N,-0.0,W,999,999,,,,,,,",
        "$GPGGA,123519,4807.038,Q", "$GPGGA,123519,-.,N,+,E", "$GPGGA,123519,1.2.3,N",
        "$GPGSV,1,1,2147483647,05,40,083,46", "$GPGSV,-2147483648,-2147483648,-2147483648",
        "$GPGSV,1,1,16," + ",".join(["255,99,999,99"] * 4), "$GLGSV,,,,,,,,,,,,,,,,,,,,,,,,,",
        "$GAGSV,4,4,99999999999999999999999," + "9" * 200, "$BDGSV*", "$BDGSV,1,1,04*",
        "$" * 100, "$GP\x00GGA,1", "$GPGGA\r\n\r\n", "\x00\x01\x02$\n$\n\n",
    ]
    out = []
    for _ in range(count):
        r = rng.random()
        if r < 0.15:
            out.append(rng.choice(specials))
            continue
        line = bytearray(rng.choice(good).encode())
        for _ in range(rng.randint(1, 6)):
            op = rng.randint(0, 4)
            pos = rng.randrange(len(line)) if line else 0
            if op == 0 and line:
                line[pos] = rng.randrange(256)
            elif op == 1:
                line[pos:pos] = bytes([rng.choice(b",*.-+ 0123456789$\r\x7f\xff")])
            elif op == 2:
                del line[pos:pos + rng.randint(1, 8)]
            elif op == 3:
                line = line[:pos]
            else:
                line[pos:pos] = bytes(rng.choice(b",9") for _ in range(rng.randint(10, 400)))
        out.append(line.decode("latin-1"))
    return out


def test_random_and_malformed_input_then_good_seconds():
    rng = random.Random(20261207)
    with Daemon() as d:
        d.wait_opened()
        d.send_lines([GGA, zda("000000.000", 1, 1, 2025)])
        d.wait_output("ZDA: 1/1/2025 0:0:0\n")

        # Random bytes: 2 MiB in 64 KiB pieces.
        for _ in range(32):
            d.send(rng.randbytes(65536))
        # Malformed sentences: about 1.5 MB of them, mixed with random runs.
        chunk = []
        size = 0
        while size < 1_500_000:
            lines = malformed_lines(rng, 200)
            text = "".join(l + rng.choice(["\r\n", "\n", "", "\r"]) for l in lines)
            if rng.random() < 0.3:
                text += rng.randbytes(rng.randint(1, 5000)).decode("latin-1")
            d.send(text)
            size += len(text)
        assert d.alive(), d.stderr()[-3000:]

        # Good seconds afterwards: the stream resynchronises at the next "$".
        # The first one marks the end of the bad input.
        d.send("\n")
        d.send_lines([zda("010202.000", 9, 9, 2029), zda("010203.000", 9, 9, 2029)])
        d.wait_output("ZDA: 9/9/2029 1:2:3\n", timeout=120)
        # The line is printed before the sample is written: wait for the
        # sample too, so the count below starts after it.
        seg = shm_wait_stamp(calendar.timegm((2029, 9, 9, 1, 2, 3)))
        for n, second in enumerate((10, 11)):
            before = seg.count
            marker = "ZDA: 6/5/2026 4:3:%d\n" % second
            d.send("\n")
            d.send_lines([
                zda("0403%02d.000" % (second - 1), 5, 6, 2026),  # the time follows it
                GGA,
                with_checksum("$GPGSV,1,1,03,05,60,100,40,12,45,200,45,25,10,300,"),
                zda("0403%02d.000" % second, 5, 6, 2026),
            ])
            d.wait_output(marker, timeout=60)
            seg = shm_wait_count(before // 2 + 1, timeout=10)
            assert seg.count == before + 2
            assert seg.valid == 1
            assert seg.clockTimeStampSec == 1780632180 + second
            assert (seg.mode, seg.precision, seg.nsamples) == (1, -20, 3)
            assert d.read_file("numsats.dat") == "8"
            assert d.read_file("coords.dat") == "48.117,11.516"
            assert d.read_file("altitude.dat") == "545.4"
            assert d.read_file("gsatlist.dat") == sat_text([12, 5, 25])
            assert d.read_file("gsnrlist.dat") == sat_text([45, 40])
        assert d.alive()
        err = d.stderr()
        assert "Sanitizer" not in err and "runtime error" not in err, err[-3000:]
