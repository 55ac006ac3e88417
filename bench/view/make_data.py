#!/usr/bin/env python3
"""Writes a data file as the sampler does: header, configuration blocks and
sample records laid out like the simulated ZOL's, with a few starts and a
gap. Used for zolview's benchmark; the records need not be realistic, only
shaped like real ones and of the same length.

usage: make_data.py KIRN|PADO RECORDS OUT.dat
"""
import math
import random
import sys

KIRN = ("CRC, ID, DATE TIME, UTC SECS, CTD DEPTH, CTD TEMP, CTD SALINITY, SAMPLE COUNTER, POR "
        "COUNTER, KIRN_ERROR COUNTER, SYS_ERROR COUNTER, HOUSING TEMPERATURE, HOUSING HUMIDITY, "
        "INPUT VOLTAGE, INPUT CURRENT, MAX LAMP INTEN, MIN LAMP INTEN, DC MEAN, DC STDDEV, KIRN "
        "SALINITY, KIRN NITRATE, FIT ERROR, DAT PIXEL BEG, DAT PIXEL END, PACKED HEX DATA, SW DC")
PADO = ("CRC, ID, DATE TIME, UTC SECS, CTD DEPTH, CTD TEMP, CTD SALINITY, SAMPLE COUNTER, POR "
        "COUNTER, PADO_ERROR COUNTER, HOUSING TEMPERATURE, HOUSING HUMIDITY, INPUT VOLTAGE, INPUT "
        "CURRENT, FOOBAR PH VALUE, BACKUP BATTERY, VRS VOLTS, VRS STDDEV, VK VOLTS, VK STDDEV, IK "
        "AMPS, IB AMPS")
START = 1714557600  # 2024/05/01 10:00:00 UTC
PERIOD = 60
SHAPE = [800 + 47000 * math.exp(-((p - 60) / 14.0) ** 2) for p in range(35, 86)]


def spectra(count):
    """Spectra with the detector's shot noise, so that compression meets
    real variety; a pool of them, drawn in an order that does not repeat."""
    rng = random.Random(42)
    return ["".join("%04X" % min(65535, max(0, int(c + rng.gauss(0, math.sqrt(c))))) for c in SHAPE)
            for _ in range(count)]


PACKED = spectra(4093)


def crc16(text):
    crc = 0xFFFF
    for byte in text.encode():
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) & 0xFFFF if crc & 0x8000 else (crc << 1) & 0xFFFF
    return crc


def stamp(seconds):
    import time
    return time.strftime("%Y/%m/%d %H:%M:%S", time.gmtime(seconds))


def record(kind, n, seconds, start):
    wave = math.sin(n / 500.0)
    common = ["ZOL0042", stamp(seconds), str(seconds), "%.2f" % (10 + wave), "%.4f" % (12.5 + wave),
              "%.4f" % (34.9 + 0.1 * wave), str(n), str(start)]
    if kind == "KIRN":
        own = ["0", "0", "%.2f" % (14.2 + wave), "%.1f" % 18.5, "11.95", "0.212", "48200", "1130",
               "812.0", "3.20", "35.01", "%.2f" % (23.4 + 1.8 * wave), "0.0042", "35", "85", PACKED[n * 7919 % len(PACKED)],
               "812"]
    else:
        own = ["0", "%.2f" % (13.8 + wave), "21.0", "12.02", "0.094", "%.4f" % (8.0512 + 0.012 * wave),
               "3.04", "-0.881234", "0.000012", "-0.932111", "0.000015", "1.200e-09", "-2.400e-10"]
    body = ", ".join(common + own)
    # The check costs too much in Python for a million records; a fixed one
    # keeps the shape, and zolview does not test it.
    return "%04X, %s" % (crc16(body) if n < 100 else 0xBEEF, body)


def main():
    kind, count, path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    starts = 3
    with open(path, "w", newline="\n") as out:
        out.write("#ALL RECORDS\n%s\n\n\n" % (KIRN if kind == "KIRN" else PADO))
        seconds = START
        for n in range(count):
            if n % (count // starts + 1) == 0:
                start = n // (count // starts + 1) + 1
                out.write("CFG,FIRMWARE,ZOL-CTL 3.12.4 (2023-11-02)\nCFG,SENSOR,%s\nCFG,SAMPLE MODE,%d\n"
                          % (kind, 1 if kind == "KIRN" else 2))
                if n > 0:
                    seconds += 3600  # the sampler was off for an hour
            out.write(record(kind, n, seconds, start) + "\n")
            seconds += PERIOD


if __name__ == "__main__":
    main()
