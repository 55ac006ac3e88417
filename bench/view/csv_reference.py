#!/usr/bin/env python3
"""The plain reference for zolview's benchmark: Python's csv module over the
same data file, keeping the lines with the record's field count and
computing count, minimum, mean and maximum per numeric column, streaming.

usage: csv_reference.py FILE.dat
"""
import csv
import sys

TEXT = {"CRC", "ID", "DATE TIME", "PACKED HEX DATA"}


def main():
    with open(sys.argv[1], newline="") as f:
        reader = csv.reader(f, skipinitialspace=True)
        columns = None
        stats = {}
        records = 0
        for row in reader:
            if columns is None:
                if row and row[0] == "CRC":
                    columns = row
                continue
            if len(row) != len(columns):
                continue
            records += 1
            for name, value in zip(columns, row):
                if name in TEXT:
                    continue
                try:
                    number = float(value)
                except ValueError:
                    continue
                s = stats.setdefault(name, [0, number, 0.0, number])
                s[0] += 1
                s[1] = min(s[1], number)
                s[2] += number
                s[3] = max(s[3], number)
    print("records", records)
    for name, (count, low, total, high) in stats.items():
        print("%-22s %10d %14.10g %14.6g %14.10g" % (name, count, low, total / count, high))


if __name__ == "__main__":
    main()
