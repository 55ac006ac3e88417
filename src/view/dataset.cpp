#include "view/dataset.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>

#include "view/chunk_pipe.h"
#include "view/data_scan.h"
#include "view/qc.h"
#include "view/summary.h"

namespace zol::view {
namespace {

constexpr double kFill = std::numeric_limits<double>::quiet_NaN();

Attribute Text(std::string name, std::string value) {
  return {std::move(name), Attribute::Kind::kText, std::move(value), {}};
}
Attribute Number(std::string name, double value) {
  return {std::move(name), Attribute::Kind::kDouble, "", {value}};
}
Attribute Bytes(std::string name, std::vector<double> values) {
  return {std::move(name), Attribute::Kind::kBytes, "", std::move(values)};
}

// Meanings that hold for every CTD the sampler reads; the instrument's own
// columns get theirs from the metadata file.
struct KnownColumn {
  const char* column;
  const char* standardName;
  const char* units;
};
constexpr KnownColumn kKnown[] = {
    {"CTD TEMP", "sea_water_temperature", "degree_C"},
    {"CTD SALINITY", "sea_water_practical_salinity", "1"},
    {"CTD DEPTH", "sea_water_pressure", "dbar"},
};

Attribute Int(std::string name, int value) {
  return {std::move(name), Attribute::Kind::kInt, "", {static_cast<double>(value)}};
}

bool IsPumpFile(const std::string& path) {
  constexpr std::string_view kSuffix = "_2.dat";
  return path.size() >= kSuffix.size() &&
         path.compare(path.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0;
}

// The union of two pixel ranges; an empty one (last < first) adds nothing.
PixelRange Union(const PixelRange& a, const PixelRange& b) {
  if (a.Count() <= 0) return b;
  if (b.Count() <= 0) return a;
  return {std::min(a.first, b.first), std::max(a.last, b.last)};
}

struct FileFirstPass {
  std::string path;
  ScanResult scan;
  int64_t first = std::numeric_limits<int64_t>::max();
  int64_t last = std::numeric_limits<int64_t>::min();
  std::vector<std::string> blocks;   // configuration blocks
  std::vector<size_t> widths;        // per text column, its longest value
  PixelRange pixels;                 // of the spectra that decode
  const Layout* measured = nullptr;  // the layout `spectrum` was found in
  SpectrumColumns spectrum;

  // What the schema needs to know of a record before the second pass.
  void Measure(const Layout& layout, const ParsedLine& record, bool spectra) {
    first = std::min(first, record.time);
    last = std::max(last, record.time);
    widths.resize(layout.columns.size(), 0);
    if (spectra && measured != &layout) spectrum = FindSpectrumColumns(layout);
    measured = &layout;
    for (size_t c = 0; c < layout.columns.size(); ++c) {
      if (layout.numeric[c]) continue;
      if (static_cast<int>(c) == spectrum.packed) {
        const auto range = CheckSpectrum(record.fields[spectrum.begin], record.fields[spectrum.end],
                                         record.fields[c]);
        if (range) {
          pixels = Union(pixels, *range);
          continue;
        }
      }
      widths[c] = std::max(widths[c], record.fields[c].size());
    }
  }
};

// What becomes of one layout column in the output.
struct Slot {
  int column;
  int variable;
  int qc = -1;  // the variable of its flags
  std::optional<QcColumn> test;
};

class Exporter {
 public:
  Exporter(const ExportRequest& request, DatasetWriter& writer, std::FILE* err)
      : request_(request), writer_(writer), err_(err), spectra_(writer.HoldsSpectra()) {}

  bool Run() {
    if (!FirstPass()) return false;
    BuildSchema();
    std::string error;
    if (!writer_.Begin(schema_, error)) return Fail(error);
    if (!Merge(error)) return Fail(error);
    for (Slot& slot : slots_) {
      if (slot.test) SetFlag(slot, chunk_.rows - 1, slot.test->Finish());
    }
    if (!Flush(true, error) || !writer_.End(error)) return Fail(error);
    return ok_;
  }

 private:
  bool Fail(const std::string& error) {
    std::fprintf(err_, "zolview: %s\n", error.c_str());
    return false;
  }

  bool Wanted(const FileFirstPass& file) const {
    return file.scan.layout && file.scan.layout->columns == layout_.columns;
  }

  bool FirstPass() {
    bool haveLayout = false;
    for (const std::string& path : request_.files) {
      FileFirstPass file;
      file.path = path;
      file.scan = ScanFile(
          path,
          [&](const Layout& layout, const ParsedLine& record) {
            file.Measure(layout, record, spectra_);
            const std::string_view id = record.fields[1];
            if (station_.empty()) station_ = id;
            if (id != station_ && others_.empty()) others_ = id;
          },
          std::numeric_limits<uint64_t>::max(),
          [&](std::string_view line, bool starts) {
            if (starts || file.blocks.empty()) file.blocks.emplace_back();
            if (!file.blocks.back().empty()) file.blocks.back() += '\n';
            file.blocks.back() += line;
          });
      if (!ReportScanProblems(path, file.scan, err_)) {
        ok_ = false;
      } else if (!haveLayout) {
        layout_ = *file.scan.layout;
        haveLayout = true;
      } else if (file.scan.layout->columns != layout_.columns) {
        std::fprintf(err_, "zolview: %s: its records have other columns, left out\n", path.c_str());
        ok_ = false;
      }
      ReportLeftOut(path, file.scan.counts, err_);
      files_.push_back(std::move(file));
    }
    if (!haveLayout) return Fail("no file to convert");
    if (!others_.empty())
      return Fail("records of more than one instrument (" + station_ + ", " + others_ +
                  "): convert them apart");
    for (const auto& [column, meta] : request_.meta.columns) {
      if (layout_.ColumnIndex(column) < 0) return Fail("metadata: no column \"" + column + "\"");
    }
    // Files in the order of their first record; files without any at the end.
    std::stable_sort(
        files_.begin(), files_.end(),
        [](const FileFirstPass& a, const FileFirstPass& b) { return a.first < b.first; });
    return true;
  }

  // The records of all files in time order: each file is read in step with
  // the others, the earliest record first (the file given first on a tie).
  bool Merge(std::string& error) {
    struct Source {
      std::unique_ptr<RecordCursor> cursor;
      const ParsedLine* record;
      bool pump;
    };
    std::vector<Source> sources;
    for (const FileFirstPass& file : files_) {
      if (!Wanted(file)) continue;
      auto cursor = std::make_unique<RecordCursor>(file.path, file.scan.bytes);
      const ParsedLine* first = cursor->Next();
      sources.push_back({std::move(cursor), first, IsPumpFile(file.path)});
    }
    for (;;) {
      Source* next = nullptr;
      for (Source& source : sources) {
        if (source.record != nullptr &&
            (next == nullptr || source.record->time < next->record->time))
          next = &source;
      }
      if (next == nullptr) return true;
      AddRow(*next->record, next->pump);
      next->record = next->cursor->Next();
      if (!Flush(false, error)) return false;
    }
  }

  int AddVariable(Variable variable) {
    schema_.variables.push_back(std::move(variable));
    return static_cast<int>(schema_.variables.size()) - 1;
  }

  void BuildSchema() {
    std::vector<size_t> widths(layout_.columns.size(), 0);
    for (const FileFirstPass& file : files_) {
      if (!Wanted(file)) continue;
      schema_.pixels = Union(schema_.pixels, file.pixels);
      for (size_t c = 0; c < file.widths.size() && c < widths.size(); ++c)
        widths[c] = std::max(widths[c], file.widths[c]);
    }
    BuildGlobals();
    AddRecordVariables();
    for (size_t c = 0; c < layout_.columns.size(); ++c) {
      const std::string& column = layout_.columns[c];
      if (static_cast<int>(c) == layout_.timeColumn || column == "ID") continue;
      if (layout_.numeric[c]) {
        AddNumberColumn(static_cast<int>(c));
      } else {
        AddTextColumn(static_cast<int>(c), std::max<size_t>(widths[c], 1));
      }
    }
    if (schema_.pixels.Count() > 0) AddSpectrum();
    SizeChunks();
  }

  void BuildGlobals() {
    int64_t first = std::numeric_limits<int64_t>::max();
    int64_t last = std::numeric_limits<int64_t>::min();
    std::string source;
    std::vector<std::string> blocks;
    for (const FileFirstPass& file : files_) {
      if (!Wanted(file)) continue;
      first = std::min(first, file.first);
      last = std::max(last, file.last);
      source += (source.empty() ? "" : ", ") + file.path;
      blocks.insert(blocks.end(), file.blocks.begin(), file.blocks.end());
    }
    std::vector<Attribute>& g = schema_.globals;
    g = {Text("Conventions", "CF-1.10, ACDD-1.3"), Text("featureType", "timeSeries"),
         Text("cdm_data_type", "TimeSeries"), Text("cdm_timeseries_variables", "station")};
    if (first <= last) {
      g.push_back(Text("time_coverage_start", IsoTime(first)));
      g.push_back(Text("time_coverage_end", IsoTime(last)));
    }
    g.push_back(Text("date_created", IsoTime(request_.now)));
    g.push_back(Text("history", IsoTime(request_.now) + " " + request_.command));
    g.push_back(Text("source", source));
    for (const auto& [name, value] : request_.meta.globals)
      g.push_back(Text(name, value));
    if (request_.meta.latitude) {
      g.push_back(Number("geospatial_lat_min", *request_.meta.latitude));
      g.push_back(Number("geospatial_lat_max", *request_.meta.latitude));
    }
    if (request_.meta.longitude) {
      g.push_back(Number("geospatial_lon_min", *request_.meta.longitude));
      g.push_back(Number("geospatial_lon_max", *request_.meta.longitude));
    }
    for (size_t i = 0; i < blocks.size(); ++i)
      g.push_back(Text("zol_configuration_" + std::to_string(i + 1), blocks[i]));
  }

  // The variables every record has whatever its layout: time, station, pump.
  void AddRecordVariables() {
    schema_.station = station_;
    time_ = AddVariable({"time",
                         Variable::Type::kDouble,
                         {Text("standard_name", "time"), Text("long_name", "DATE TIME"),
                          Text("units", "seconds since 1970-01-01T00:00:00Z"),
                          Text("calendar", "standard"), Text("axis", "T")}});
    Variable station{"station",
                     Variable::Type::kText,
                     {Text("cf_role", "timeseries_id"), Text("long_name", "ID")}};
    station.width = std::max<size_t>(station_.size(), 1);
    station.scalar = true;
    AddVariable(std::move(station));
    pump_ = AddVariable(
        {"pump_sample",
         Variable::Type::kByte,
         {Text("long_name", "sample taken with the CTD pump on"), Bytes("flag_values", {0, 1}),
          Text("flag_meanings", "first_sample pump_sample")}});
  }

  void AddTextColumn(int column, size_t width) {
    Variable variable{VariableName(layout_.columns[column]),
                      Variable::Type::kText,
                      {Text("long_name", layout_.columns[column])}};
    variable.width = width;
    slots_.push_back({column, AddVariable(std::move(variable)), -1, {}});
  }

  // A number column with its meanings and, when tested, its flag variable.
  void AddNumberColumn(int c) {
    const std::string& column = layout_.columns[c];
    Variable variable{VariableName(column), Variable::Type::kDouble, {Text("long_name", column)}};
    variable.attributes.push_back(Number("_FillValue", kFill));
    ColumnMeta meta;
    if (const auto it = request_.meta.columns.find(column); it != request_.meta.columns.end())
      meta = it->second;
    for (const KnownColumn& known : kKnown) {
      if (column != known.column) continue;
      if (meta.standardName.empty()) meta.standardName = known.standardName;
      if (meta.units.empty()) meta.units = known.units;
    }
    if (!meta.standardName.empty())
      variable.attributes.push_back(Text("standard_name", meta.standardName));
    if (!meta.units.empty()) variable.attributes.push_back(Text("units", meta.units));
    if (!meta.comment.empty()) variable.attributes.push_back(Text("comment", meta.comment));
    const bool tested = IsQcTested(layout_, column);
    if (tested) variable.attributes.push_back(Text("ancillary_variables", variable.name + "_qc"));
    const std::string name = variable.name;
    Slot slot{c, AddVariable(std::move(variable)), -1, {}};
    if (tested) {
      slot.test.emplace(LimitsFor(column, &request_.meta).limits);
      slot.qc = AddVariable(
          {name + "_qc",
           Variable::Type::kByte,
           {Text("long_name", column + " quality flag"),
            Text("standard_name", "aggregate_quality_flag"), Bytes("flag_values", {1, 2, 3, 4, 9}),
            Text("flag_meanings", "pass not_evaluated suspect fail missing")}});
    }
    slots_.push_back(std::move(slot));
  }

  void AddSpectrum() {
    spectrumColumns_ = FindSpectrumColumns(layout_);
    spectrum_ = AddVariable({"spectrum",
                             Variable::Type::kCounts,
                             {Text("long_name", "raw spectrum (PACKED HEX DATA decoded)"),
                              Text("units", "counts"), Int("_FillValue", kCountsFill)}});
  }

  // Rows a chunk holds: fewer when the records are wide, so memory stays flat.
  void SizeChunks() {
    size_t rowBytes = 0;
    for (const Variable& variable : schema_.variables) {
      if (variable.scalar) continue;
      rowBytes += variable.type == Variable::Type::kText ? variable.width
                  : variable.type == Variable::Type::kCounts
                      ? static_cast<std::size_t>(schema_.pixels.Count()) * 4
                      : sizeof(double);
    }
    schema_.chunkRows = std::clamp<size_t>(kChunkBytes / rowBytes, 1, kChunkRows);
    const size_t n = schema_.variables.size();
    chunk_.numbers.assign(n, {});
    chunk_.texts.assign(n, {});
    chunk_.counts.assign(n, {});
    spare_ = chunk_;
    for (size_t v = 0; v < n; ++v) {
      const Variable& variable = schema_.variables[v];
      if (variable.scalar) continue;
      const size_t rows = schema_.chunkRows + 1;
      for (Chunk* chunk : {&chunk_, &spare_}) {
        if (variable.type == Variable::Type::kText) {
          chunk->texts[v].reserve(rows * variable.width);
        } else if (variable.type == Variable::Type::kCounts) {
          chunk->counts[v].reserve(rows * schema_.pixels.Count());
        } else {
          chunk->numbers[v].reserve(rows);
        }
      }
    }
  }

  void SetFlag(const Slot& slot, size_t row, std::optional<QcFlag> flag) {
    if (flag && row < chunk_.rows) chunk_.numbers[slot.qc][row] = *flag;
  }

  // A row of fill values, then the record's own.
  void AddRow(const ParsedLine& record, bool pump) {
    const size_t row = chunk_.rows++;
    for (size_t v = 0; v < schema_.variables.size(); ++v) {
      const Variable& variable = schema_.variables[v];
      if (variable.scalar) continue;
      if (variable.type == Variable::Type::kText) {
        chunk_.texts[v].append(variable.width, '\0');
      } else if (variable.type == Variable::Type::kCounts) {
        chunk_.counts[v].insert(chunk_.counts[v].end(), schema_.pixels.Count(), kCountsFill);
      } else {
        chunk_.numbers[v].push_back(kQcMissing);
      }
    }
    chunk_.numbers[time_][row] = static_cast<double>(record.time);
    chunk_.numbers[pump_][row] = pump ? 1 : 0;
    for (Slot& slot : slots_) {
      const std::string_view field = record.fields[slot.column];
      if (!layout_.numeric[slot.column]) {
        if (slot.column == spectrumColumns_.packed && PutSpectrum(record, row)) continue;
        const size_t width = schema_.variables[slot.variable].width;
        field.copy(chunk_.texts[slot.variable].data() + row * width, std::min(field.size(), width));
        continue;
      }
      const std::optional<double> value = ParseNumber(field);
      chunk_.numbers[slot.variable][row] = value.value_or(kFill);
      if (!slot.test) continue;
      const std::optional<QcFlag> before = slot.test->Push(value);
      if (row > 0) SetFlag(slot, row - 1, before);
    }
  }

  // The record's spectrum at its pixels; false when it does not decode.
  bool PutSpectrum(const ParsedLine& record, size_t row) {
    const SpectrumColumns& c = spectrumColumns_;
    const auto range =
        CheckSpectrum(record.fields[c.begin], record.fields[c.end], record.fields[c.packed]);
    if (!range) return false;
    const size_t offset = row * static_cast<size_t>(schema_.pixels.Count()) +
                          static_cast<size_t>(range->first - schema_.pixels.first);
    DecodeSpectrum(record.fields[c.packed], chunk_.counts[spectrum_].data() + offset);
    return true;
  }

  // Hands the rows whose flags are settled to the writer: all but the
  // last, which waits for its neighbour, until the end. The writer works on
  // them while the next chunk fills.
  bool Flush(bool all, std::string& error) {
    if (chunk_.rows < (all ? 1 : schema_.chunkRows + 1)) return true;
    const size_t keep = all ? 0 : 1;
    if (!pipe_.Wait(error)) return false;
    std::swap(chunk_, spare_);
    chunk_.rows = 0;
    for (size_t v = 0; v < schema_.variables.size(); ++v) {
      const Variable& variable = schema_.variables[v];
      const size_t width = variable.type == Variable::Type::kText     ? variable.width
                           : variable.type == Variable::Type::kCounts ? schema_.pixels.Count()
                                                                      : 1;
      KeepLast(spare_.texts[v], chunk_.texts[v], keep * width);
      KeepLast(spare_.counts[v], chunk_.counts[v], keep * width);
      KeepLast(spare_.numbers[v], chunk_.numbers[v], keep * width);
    }
    chunk_.rows = keep;
    spare_.rows -= keep;
    pipe_.Start(spare_);
    return !all || pipe_.Wait(error);
  }

  // The last `count` values of `from` as the whole of `to`.
  template <typename Values>
  static void KeepLast(const Values& from, Values& to, size_t count) {
    to.clear();
    if (count > 0 && from.size() >= count) to.insert(to.end(), from.end() - count, from.end());
  }

  const ExportRequest& request_;
  DatasetWriter& writer_;
  std::FILE* err_;
  const bool spectra_;
  bool ok_ = true;
  Layout layout_;
  std::vector<FileFirstPass> files_;
  std::string station_;
  std::string others_;
  Schema schema_;
  int time_ = -1;
  int pump_ = -1;
  int spectrum_ = -1;
  SpectrumColumns spectrumColumns_;
  std::vector<Slot> slots_;
  Chunk chunk_;              // filled here
  Chunk spare_;              // written by the pipe meanwhile
  ChunkPipe pipe_{writer_};  // last: it stops before the chunks go
};

}  // namespace

std::string VariableName(const std::string& column) {
  std::string name;
  for (const char c : column) {
    const bool alnum = std::isalnum(static_cast<unsigned char>(c)) != 0;
    if (alnum) {
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    } else if (!name.empty() && name.back() != '_') {
      name += '_';
    }
  }
  while (!name.empty() && name.back() == '_')
    name.pop_back();
  if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) name = "v_" + name;
  return name;
}

std::string IsoTime(int64_t seconds) {
  std::string text = FormatTime(seconds);  // "2024/05/01 10:00:00"
  std::replace(text.begin(), text.end(), '/', '-');
  text[10] = 'T';
  return text + "Z";
}

bool ExportFiles(const ExportRequest& request, DatasetWriter& writer, std::FILE* err) {
  Exporter exporter(request, writer, err);
  return exporter.Run();
}

std::string_view Chunk::Text(size_t variable, size_t width, size_t row) const {
  const std::string_view value(texts[variable].data() + row * width, width);
  return value.substr(0, value.find('\0'));
}

}  // namespace zol::view
