#!/usr/bin/python3
"""Writes samples/session.nmea: a recorded-style NMEA session of a
multi-constellation receiver (GPS, GLONASS, Galileo, BeiDou) with a fix,
75 seconds long. Every second carries GGA, GSA, the GSV messages of the four
systems, RMC and ZDA, each with its XOR checksum and CR LF.

    samples/make_session.py > samples/session.nmea
"""
import datetime
import math
import sys

START = datetime.datetime(2026, 12, 7, 23, 59, 20, tzinfo=datetime.timezone.utc)
SECONDS = 75

# Satellites per system: (prn, elevation, azimuth, base SNR); 0 SNR = not tracked.
SYSTEMS = {
    "GP": [(2, 67, 312, 46), (5, 40, 83, 44), (9, 12, 200, 33), (12, 55, 140, 47),
           (13, 6, 292, 0), (15, 31, 48, 41), (18, 22, 255, 37), (21, 74, 18, 48),
           (25, 9, 165, 0), (29, 45, 330, 43)],
    "GL": [(65, 33, 101, 39), (66, 61, 30, 43), (72, 14, 287, 31), (80, 50, 210, 42),
           (81, 8, 345, 0)],
    "GA": [(3, 28, 66, 40), (8, 59, 172, 45), (13, 17, 233, 34), (26, 71, 301, 46),
           (31, 5, 120, 0)],
    "BD": [(7, 44, 250, 38), (10, 36, 150, 41), (23, 63, 77, 44), (37, 19, 12, 30)],
}


def checksum(body):
    s = 0
    for ch in body:
        s ^= ord(ch)
    return s


def sentence(body):
    return "$%s*%02X\r\n" % (body, checksum(body))


def gsv(talker, sats, t):
    out = []
    total = (len(sats) + 3) // 4
    for i in range(total):
        fields = [talker + "GSV", str(total), str(i + 1), "%02d" % len(sats)]
        for prn, el, az, snr in sats[i * 4:i * 4 + 4]:
            level = "" if snr == 0 else "%02d" % max(10, snr + round(2 * math.sin(t / 7 + prn)))
            fields += ["%02d" % prn, "%02d" % el, "%03d" % az, level]
        out.append(sentence(",".join(fields)))
    return out


def main():
    lines = []
    for t in range(SECONDS):
        now = START + datetime.timedelta(seconds=t)
        hhmmss = now.strftime("%H%M%S")
        # A slow wander of the position around the antenna, in 1e-4 minutes.
        lat = "4807.%04d" % (382 + round(3 * math.sin(t / 11)))
        lon = "01131.%04d" % (6 + round(4 * math.cos(t / 13)))
        alt = "%.1f" % (545.4 + 0.3 * math.sin(t / 17))
        used = [s for s in SYSTEMS["GP"] if s[3]][:12]
        lines.append(sentence("GPGGA,%s.000,%s,N,%s,E,1,%02d,0.9,%s,M,46.9,M,," %
                              (hhmmss, lat, lon, len(used), alt)))
        prns = ["%02d" % s[0] for s in used] + [""] * (12 - len(used))
        lines.append(sentence("GPGSA,A,3,%s,1.6,0.9,1.3" % ",".join(prns)))
        for talker in ("GP", "GL", "GA", "BD"):
            lines += gsv(talker, SYSTEMS[talker], t)
        lines.append(sentence("GPRMC,%s.000,A,%s,N,%s,E,0.02,31.66,%s,,,A" %
                              (hhmmss, lat, lon, now.strftime("%d%m%y"))))
        lines.append(sentence("GPZDA,%s.000,%s,%s,%s,00,00" %
                              (hhmmss, now.strftime("%d"), now.strftime("%m"),
                               now.strftime("%Y"))))
    sys.stdout.write("".join(lines))


if __name__ == "__main__":
    main()
