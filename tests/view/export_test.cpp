// zolview --netcdf and --nccsv end to end: a data file and a pump sample
// file with planted faults, converted and read back by Python's netCDF4,
// xarray and csv modules, beside the CSV export of the same records.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/temp_dir.h"
#include "view/kirn_records.h"

namespace zol::test {
namespace {

constexpr const char* kMeta =
    "# planted faults: a spike, an out-of-range value and a flat run\n"
    "title = ZOL0042 nitrate, test mooring\n"
    "institution = Test Institute\n"
    "latitude = -54.5\n"
    "KIRN NITRATE.units = umol/L\n"
    "KIRN NITRATE.fail_min = -5\n"
    "KIRN NITRATE.fail_max = 100\n"
    "KIRN NITRATE.suspect_min = 0\n"
    "KIRN NITRATE.suspect_max = 30\n"
    "KIRN NITRATE.spike_suspect = 8\n"
    "KIRN NITRATE.spike_fail = 12\n"
    "CTD TEMP.fail_min = -2\n"
    "CTD TEMP.fail_max = 35\n";

// What the netCDF file says, one fact a line; argv: nc file, csv file.
constexpr const char* kNetcdfBack = R"(
import csv, sys, math, netCDF4, xarray as xr
ds = xr.open_dataset(sys.argv[1])
def show(values): return ' '.join('nan' if v != v else '%g' % v for v in values)
print('times', ' '.join(str(t)[11:19] for t in ds.time.values))
print('station', ds.station.item(), ds.station.attrs['cf_role'])
print('pump', show(ds.pump_sample.values))
print('nitrate', show(ds.kirn_nitrate.values))
print('nitrate_qc', show(ds.kirn_nitrate_qc.values))
print('temp_qc', show(ds.ctd_temp_qc.values))
print('salinity_qc', show(ds.ctd_salinity_qc.values))
print('crc', ' '.join(ds.crc.values))
t, n, q = ds.ctd_temp.attrs, ds.kirn_nitrate.attrs, ds.kirn_nitrate_qc.attrs
print('temp', t['standard_name'], t['units'], t['long_name'])
print('nitrate attrs', n['units'], n['long_name'], n['ancillary_variables'], 'standard_name' in n)
print('counter attrs', 'units' in ds.sample_counter.attrs, ds.sample_counter.attrs['long_name'])
print('flags', show(q['flag_values']), q['flag_meanings'])
g = ds.attrs
print('globals', g['Conventions'], '|', g['featureType'], g['cdm_data_type'],
      g['time_coverage_start'], g['time_coverage_end'], g['geospatial_lat_min'])
print('title', g['title'], '|', g['institution'])
print('source', g['source'])
print('config', repr(g['zol_configuration_1']), repr(g['zol_configuration_2']))
print('history', g['history'].split(' ', 1)[1].split(' ')[:2], g['date_created'][-1])
raw = netCDF4.Dataset(sys.argv[1])
print('raw', raw.data_model, raw.dimensions['time'].isunlimited(),
      raw['kirn_nitrate']._FillValue != raw['kirn_nitrate']._FillValue)
rows = sorted(csv.DictReader(open(sys.argv[2], newline='')), key=lambda r: r['DATE TIME'])
differ = 0
for name, variable in ds.data_vars.items():
    column = variable.attrs.get('long_name')
    if column not in rows[0] or variable.dtype.kind != 'f': continue
    for row, value in zip(rows, variable.values):
        try: expected = float(row[column])
        except ValueError: expected = float('nan')
        if not (expected == value or (math.isnan(expected) and math.isnan(value))): differ += 1
print('csv', len(rows), 'rows', differ, 'differ')
)";

// The NCCSV read back: its sections, and its data beside the netCDF file's.
constexpr const char* kNccsvBack = R"(
import csv, sys, io, math, xarray as xr
text = open(sys.argv[1], newline='').read()
meta, data = text.split('\n*END_METADATA*\n')
attrs = list(csv.reader(io.StringIO(meta)))
print('first', attrs[0])
print('title', [a for a in attrs if a[:2] == ['*GLOBAL*', 'title']])
print('types', [a[2] for a in attrs if a[1:2] == ['*DATA_TYPE*']][:4])
print('flags', [a for a in attrs if a[:2] == ['kirn_nitrate_qc', 'flag_values']])
assert data.endswith('*END_DATA*\n')
rows = list(csv.reader(io.StringIO(data[:-len('*END_DATA*\n')])))
ds = xr.open_dataset(sys.argv[2], decode_times=False)
print('columns', rows[0] == list(ds.variables), len(rows) - 1)
differ = 0
for i, name in enumerate(rows[0]):
    if name == 'station': continue
    for row, value in zip(rows[1:], ds[name].values):
        if ds[name].dtype.kind in 'fi':
            same = float(row[i]) == value or (math.isnan(float(row[i])) and math.isnan(value))
        else:
            same = row[i] == value
        differ += not same
print('differ', differ)
)";

// The spectra read back beside the test's own decoding of each record's
// packed data; argv: nc file, data file.
constexpr const char* kSpectraBack = R"(
import string, sys, netCDF4, xarray as xr
raw, ds = netCDF4.Dataset(sys.argv[1]), xr.open_dataset(sys.argv[1])
fields = [line.rstrip('\n').split(', ') for line in open(sys.argv[2]) if line.startswith('0x')]
pixels = [int(p) for p in raw['pixel'][:]]
print('pixels', pixels[0], pixels[-1], len(pixels), raw['spectrum'].dimensions)
rows = []
for row, f in enumerate(fields):
    begin, end, text = f[22], f[23], f[24]
    whole = (begin.isdigit() and end.isdigit() and int(begin) <= int(end) <= 4095 and
             len(text) == 4 * (int(end) - int(begin) + 1) and all(c in string.hexdigits for c in text))
    expected = [-1] * len(pixels)
    for i in range(len(text) // 4 if whole else 0):
        expected[int(begin) - pixels[0] + i] = int(text[4 * i:4 * i + 4], 16)
    got = [int(v) for v in raw['spectrum'][row].filled(-1)]
    kept = ds.packed_hex_data.values[row]
    rows.append('%s%s' % ('=' if got == expected else 'x', 'raw' if kept == text else '-' if kept == '' else '?'))
print('rows', ' '.join(rows))
print('fill', raw['spectrum']._FillValue, raw['spectrum'].units, raw['spectrum'].dtype)
print('strings', [n for n, v in raw.variables.items() if v.dtype == str])
print('uncompressed', [n for n, v in raw.variables.items()
                       if 'time' in v.dimensions and not v.filters()['zlib']])
print('nitrate_qc', ' '.join('%d' % q for q in ds.kirn_nitrate_qc.values))
)";

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ProgramResult help = View({"--help"});
    if (help.out.find("no --netcdf") != std::string::npos) GTEST_SKIP() << "built without netCDF";
  }
  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = dir.File(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  ProgramResult View(const std::vector<std::string>& args) {
    std::vector<std::string> words = {"zolview"};
    words.insert(words.end(), args.begin(), args.end());
    return RunProgram(ZOLVIEW_EXE, words, {}, 60000);
  }
  ProgramResult Python(const char* script, const std::string& a, const std::string& b) {
    // Debian's own Python, which holds the netCDF4 and xarray packages.
    return RunProgram("/usr/bin/python3", {"python3", "-c", script, a, b}, {}, 60000);
  }
  // What a read-back script prints; a script that fails fails the test.
  std::string ReadBack(const char* script, const std::string& a, const std::string& b) {
    const ProgramResult back = Python(script, a, b);
    EXPECT_EQ(back.status, 0) << back.err;
    return back.out;
  }
  TempDir dir;
};

// What kNetcdfBack prints for the planted files.
std::string ExpectedNetcdfFacts(const std::string& main, const std::string& pump) {
  return "times 00:00:00 00:00:30 00:01:00 00:02:00 00:03:00 00:04:00 00:05:00 00:06:00 00:07:00 "
         "00:08:00 00:09:00 00:10:00 00:11:00 00:12:30\n"
         "station ZOL0042 timeseries_id\n"
         "pump 0 1 0 0 0 0 0 0 0 0 0 0 0 1\n"
         "nitrate 20 20.05 20.1 20.2 35 20.4 20.5 nan 120 nan 20.9 21 21.1 21.2\n"
         "nitrate_qc 1 1 1 1 4 1 1 9 4 9 1 1 1 1\n"
         "temp_qc 1 1 1 1 1 1 1 1 1 1 3 1 1 1\n"
         "salinity_qc 1 1 1 1 1 1 1 1 1 1 1 1 1 1\n"
         "crc 0x0007 BEEF 0x0007 0x0007 0x0007 0x0007 0x0007 0x0007 0x0007 0x0007 0x0007 0x0007 "
         "0x0007 BEEF\n"
         "temp sea_water_temperature degree_C CTD TEMP\n"
         "nitrate attrs umol/L KIRN NITRATE kirn_nitrate_qc False\n"
         "counter attrs False SAMPLE COUNTER\n"
         "flags 1 2 3 4 9 pass not_evaluated suspect fail missing\n"
         "globals CF-1.10, ACDD-1.3 | timeSeries TimeSeries 2026-12-08T00:00:00Z "
         "2026-12-08T00:12:30Z -54.5\n"
         "title ZOL0042 nitrate, test mooring | Test Institute\n"
         "source " +
         main + ", " + pump +
         "\n"
         "config 'CFG,SENSOR,KIRN\\nCFG,SAMPLE MODE,1' 'CFG,SENSOR,KIRN'\n"
         "history ['zolview', '--netcdf'] Z\n"
         "raw NETCDF4 True True\n"
         "csv 14 rows 0 differ\n";
}

class PlantedExportTest : public ExportTest {
 protected:
  // A data file of two starts with a spike, an out-of-range value, missing
  // values and a flat run; a pump file; their metadata.
  void SetUp() override {
    ExportTest::SetUp();
    if (IsSkipped()) return;
    const std::vector<std::string> nitrate = {"20.0", "20.1", "20.2", "35.0", "20.4", "20.5",
                                              "x",    "120",  "x",    "20.9", "21.0", "21.1"};
    std::string data =
        "#ALL RECORDS\n" + KirnColumns() + "\n\n\nCFG,SENSOR,KIRN\nCFG,SAMPLE MODE,1\n";
    for (int i = 0; i < 12; ++i) {
      if (i == 6) data += "CFG,SENSOR,KIRN\n";  // a second start
      const double temp = i >= 5 && i <= 9 ? 12.5 : 12.0 + 0.01 * i;
      data += Record("0x0007", i * 60, temp, 34.9 + 0.001 * i, nitrate[i]) + "\n";
    }
    main = Write("ZOL0042_KIRN.dat", data);
    pump = Write("ZOL0042_KIRN_2.dat", Record("BEEF", 30, 12.005, 34.95, "20.05") + "\n" +
                                           Record("BEEF", 750, 12.2, 34.96, "21.2") + "\n");
    meta = Write("zol42.meta", kMeta);
    nc = dir.File("out.nc");
  }

  // The netCDF file as Python reads it, beside the CSV export.
  void CheckNetcdf() {
    // The pump file first: the output is in time order whatever the order given.
    const ProgramResult written = View({"--netcdf", "-o", nc, "--meta", meta, pump, main});
    ASSERT_EQ(written.status, 0) << written.err;
    const ProgramResult csv = View({"--csv", main, pump});
    ASSERT_EQ(csv.status, 0) << csv.err;
    const std::string csvPath = Write("out.csv", csv.out);
    const ProgramResult back = Python(kNetcdfBack, nc, csvPath);
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(back.out, ExpectedNetcdfFacts(main, pump));
  }

  // The summary counts the same flags.
  void CheckSummaryFlags() {
    const ProgramResult summary = View({"--meta", meta, main});
    ASSERT_EQ(summary.status, 0) << summary.err;
    // pass, not evaluated, suspect, fail, missing
    EXPECT_TRUE(std::regex_search(summary.out, std::regex("\n  KIRN NITRATE +8 +0 +0 +2 +2\n")))
        << summary.out;
    EXPECT_TRUE(std::regex_search(summary.out, std::regex("\n  CTD SALINITY +12 +0 +0 +0 +0\n")))
        << summary.out;
  }

  // The NCCSV's sections, and its data beside the netCDF file's.
  void CheckNccsv() {
    const ProgramResult nccsv = View({"--nccsv", "--meta", meta, main, pump});
    ASSERT_EQ(nccsv.status, 0) << nccsv.err;
    const std::string nccsvPath = Write("out.csv", nccsv.out);
    const ProgramResult parsed = Python(kNccsvBack, nccsvPath, nc);
    ASSERT_EQ(parsed.status, 0) << parsed.err;
    EXPECT_EQ(parsed.out,
              "first ['*GLOBAL*', 'Conventions', 'CF-1.10, ACDD-1.3, NCCSV-1.2']\n"
              "title [['*GLOBAL*', 'title', 'ZOL0042 nitrate, test mooring']]\n"
              "types ['double', 'String', 'byte', 'String']\n"
              "flags [['kirn_nitrate_qc', 'flag_values', '1b', '2b', '3b', '4b', '9b']]\n"
              "columns True 14\n"
              "differ 0\n");
  }

  std::string main, pump, meta, nc;
};

TEST_F(PlantedExportTest, NetcdfAndNccsvCarryTimesValuesFlagsAndMetadata) {
  ASSERT_NO_FATAL_FAILURE(CheckNetcdf());
  ASSERT_NO_FATAL_FAILURE(CheckSummaryFlags());
  CheckNccsv();
}

// Pixel `first` to `last` as packed data, a saturated pixel among them.
std::string Packed(int first, int last) {
  std::string text;
  char digits[8];
  for (int pixel = first; pixel <= last; ++pixel) {
    std::snprintf(digits, sizeof digits, "%04X", pixel == 60 ? 65535 : 800 + 37 * pixel);
    text += digits;
  }
  return text;
}

// Without a metadata file: spectra of several ranges and faults, and a
// nitrate spike and an impossible value that the sensor's own range flags.
TEST_F(ExportTest, SpectraReadBackByPixelAndImpossibleValuesFailWithoutMeta) {
  const struct {
    const char* nitrate;
    std::string begin, end, packed;
  } records[] = {
      {"22.0", "35", "85", Packed(35, 85)},
      {"22.1", "40", "44", Packed(40, 44)},            // a shorter range, lined up
      {"22.0", "35", "85", Packed(35, 85).substr(4)},  // a pixel short
      {"9999", "35", "85", Packed(35, 84) + "12G4"},   // not a hex digit
      {"22.1", "30", "31", "0001FFFF"},                // widens the axis
      {"22.2", "85", "35", Packed(35, 85)},            // BEG after END
      {"-10", "35", "85", Packed(35, 85)},
      {"22.1", "35", "85", Packed(35, 85)},
      {"22.0", "35", "85", Packed(35, 85)},
  };
  std::string data = "#ALL RECORDS\n" + KirnColumns() + "\n";
  for (size_t i = 0; i < std::size(records); ++i) {
    const auto& r = records[i];
    const std::string record = Record("0x0007", static_cast<int>(i) * 60, 12.0, 34.9, r.nitrate);
    data += WithSpectrum(record, r.begin, r.end, r.packed) + "\n";
  }
  const std::string main = Write("ZOL0042_KIRN.dat", data);
  const std::string nc = dir.File("out.nc");
  const ProgramResult written = View({"--netcdf", "-o", nc, main});
  ASSERT_EQ(written.status, 0) << written.err;
  EXPECT_EQ(ReadBack(kSpectraBack, nc, main),
            "pixels 30 85 56 ('time', 'pixel')\n"
            "rows =- =- =raw =raw =- =raw =- =- =-\n"
            "fill -1 counts int32\n"
            "strings []\n"
            "uncompressed []\n"
            "nitrate_qc 1 1 4 4 4 1 4 1 1\n");

  const ProgramResult summary = View({main});
  ASSERT_EQ(summary.status, 0) << summary.err;
  EXPECT_NE(summary.out.find("\n  spectra not decoded: 3\n"), std::string::npos) << summary.out;
  EXPECT_NE(summary.out.find("\n  KIRN NITRATE           -5 to 3000 (default)\n"),
            std::string::npos)
      << summary.out;
}

TEST_F(ExportTest, AFaultyMetadataFileWritesNothing) {
  const std::string main = Write("ZOL0042_KIRN.dat", Record("0x0007", 0, 12, 35, "20") + "\n");
  const std::string nc = dir.File("out.nc");
  const struct {
    const char* meta;
    const char* error;
  } cases[] = {
      {"title = x\nKIRN NITRATE.fail_max = high\n", "zol.meta: line 2: fail_max needs a number"},
      {"NO SUCH.units = m\n", "metadata: no column \"NO SUCH\""},
  };
  for (const auto& c : cases) {
    const std::string meta = Write("zol.meta", c.meta);
    for (const bool netcdf : {true, false}) {
      const ProgramResult run = netcdf ? View({"--netcdf", "-o", nc, "--meta", meta, main})
                                       : View({"--nccsv", "--meta", meta, main});
      EXPECT_EQ(run.status, 1) << c.meta;
      EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
      EXPECT_EQ(run.out, "");
      EXPECT_FALSE(std::ifstream(nc).good()) << c.meta;
    }
  }
}

}  // namespace
}  // namespace zol::test
