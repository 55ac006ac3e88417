#!/usr/bin/env python3
"""The Python reference for zolview --netcdf in its benchmark: pandas
read_csv over the data file (the records' lines only) and xarray to_netcdf,
with times as seconds since 1970 and one variable per column, as a
scientist would do it by hand. No quality flags and no metadata.

usage: netcdf_reference.py FILE.dat OUT.nc
"""
import sys

import pandas as pd
import xarray as xr


def main():
    path, out = sys.argv[1], sys.argv[2]
    with open(path) as f:
        f.readline()
        columns = [c.strip() for c in f.readline().split(",")]
    frame = pd.read_csv(path, names=columns, skipinitialspace=True, comment=None,
                        on_bad_lines="skip", engine="c", skiprows=2, dtype=str)
    frame = frame[frame["DATE TIME"].str.match(r"^\d{4}/\d\d/\d\d \d\d:\d\d:\d\d$", na=False)]
    time = pd.to_datetime(frame["DATE TIME"], format="%Y/%m/%d %H:%M:%S")
    data = {}
    for column in columns:
        if column in ("DATE TIME", "ID"):
            continue
        name = column.lower().replace(" ", "_")
        values = frame[column]
        if column not in ("CRC", "PACKED HEX DATA"):
            values = pd.to_numeric(values, errors="coerce")
        data[name] = ("time", values.to_numpy())
    dataset = xr.Dataset(data, coords={"time": time.to_numpy()})
    dataset.time.encoding["units"] = "seconds since 1970-01-01T00:00:00Z"
    dataset.to_netcdf(out, format="NETCDF4", unlimited_dims=["time"])


if __name__ == "__main__":
    main()
