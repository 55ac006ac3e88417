#include "view/dataset.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>

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

bool IsPumpFile(const std::string& path) {
  constexpr std::string_view kSuffix = "_2.dat";
  return path.size() >= kSuffix.size() &&
         path.compare(path.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0;
}

struct FileFirstPass {
  std::string path;
  ScanResult scan;
  int64_t first = std::numeric_limits<int64_t>::max();
  int64_t last = std::numeric_limits<int64_t>::min();
  std::vector<std::string> blocks;  // configuration blocks
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
      : request_(request), writer_(writer), err_(err) {}

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
          [&](const Layout&, const ParsedLine& record) {
            file.first = std::min(file.first, record.time);
            file.last = std::max(file.last, record.time);
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
      if (!file.scan.opened || !file.scan.error.empty()) {
        std::fprintf(err_, "zolview: %s: %s\n", path.c_str(), file.scan.error.c_str());
        ok_ = false;
      } else if (!file.scan.layout) {
        std::fprintf(err_, "zolview: %s: cannot tell the record layout\n", path.c_str());
        ok_ = false;
      } else if (!haveLayout) {
        layout_ = *file.scan.layout;
        haveLayout = true;
      } else if (file.scan.layout->columns != layout_.columns) {
        std::fprintf(err_, "zolview: %s: its records have other columns, left out\n", path.c_str());
        ok_ = false;
      }
      if (file.scan.counts.Rejected() > 0)
        std::fprintf(err_, "zolview: %s: %llu lines not data, left out\n", path.c_str(),
                     static_cast<unsigned long long>(file.scan.counts.Rejected()));
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

  void AddVariable(Variable variable) { schema_.variables.push_back(std::move(variable)); }

  void BuildSchema() {
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

    schema_.station = station_;
    AddVariable({"time",
                 Variable::Type::kDouble,
                 {Text("standard_name", "time"), Text("long_name", "DATE TIME"),
                  Text("units", "seconds since 1970-01-01T00:00:00Z"), Text("calendar", "standard"),
                  Text("axis", "T")}});
    AddVariable({"station",
                 Variable::Type::kText,
                 {Text("cf_role", "timeseries_id"), Text("long_name", "ID")}});
    AddVariable(
        {"pump_sample",
         Variable::Type::kByte,
         {Text("long_name", "sample taken with the CTD pump on"), Bytes("flag_values", {0, 1}),
          Text("flag_meanings", "first_sample pump_sample")}});
    for (size_t c = 0; c < layout_.columns.size(); ++c) {
      const std::string& column = layout_.columns[c];
      if (static_cast<int>(c) == layout_.timeColumn || column == "ID") continue;
      Slot slot{static_cast<int>(c), static_cast<int>(schema_.variables.size()), -1, {}};
      Variable variable{VariableName(column), Variable::Type::kText, {Text("long_name", column)}};
      if (!layout_.numeric[c]) {
        AddVariable(std::move(variable));
        slots_.push_back(std::move(slot));
        continue;
      }
      variable.type = Variable::Type::kDouble;
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
      AddVariable(std::move(variable));
      if (tested) {
        slot.qc = static_cast<int>(schema_.variables.size());
        slot.test.emplace(meta);
        AddVariable({name + "_qc",
                     Variable::Type::kByte,
                     {Text("long_name", column + " quality flag"),
                      Text("standard_name", "aggregate_quality_flag"),
                      Bytes("flag_values", {1, 2, 3, 4, 9}),
                      Text("flag_meanings", "pass not_evaluated suspect fail missing")}});
      }
      slots_.push_back(std::move(slot));
    }
    chunk_.numbers.assign(schema_.variables.size(), {});
    chunk_.texts.assign(schema_.variables.size(), {});
  }

  void SetFlag(const Slot& slot, size_t row, std::optional<QcFlag> flag) {
    if (flag && row < chunk_.rows) chunk_.numbers[slot.qc][row] = *flag;
  }

  void AddRow(const ParsedLine& record, bool pump) {
    const size_t row = chunk_.rows++;
    for (size_t v = 0; v < schema_.variables.size(); ++v) {
      if (schema_.variables[v].type == Variable::Type::kText) {
        chunk_.texts[v].emplace_back();
      } else {
        chunk_.numbers[v].push_back(kQcMissing);
      }
    }
    chunk_.numbers[0][row] = static_cast<double>(record.time);
    chunk_.texts[1][row] = station_;
    chunk_.numbers[2][row] = pump ? 1 : 0;
    for (Slot& slot : slots_) {
      const std::string_view field = record.fields[slot.column];
      if (!layout_.numeric[slot.column]) {
        chunk_.texts[slot.variable][row] = field;
        continue;
      }
      const std::optional<double> value = ParseNumber(field);
      chunk_.numbers[slot.variable][row] = value.value_or(kFill);
      if (!slot.test) continue;
      const std::optional<QcFlag> before = slot.test->Push(value);
      if (row > 0) SetFlag(slot, row - 1, before);
    }
  }

  // Writes the rows whose flags are settled: all but the last, which waits
  // for its neighbour, until the end.
  bool Flush(bool all, std::string& error) {
    if (chunk_.rows < (all ? 1 : kChunkRows + 1)) return true;
    const size_t keep = all ? 0 : 1;
    const size_t held = chunk_.rows;
    chunk_.rows = held - keep;
    const bool written = writer_.Write(chunk_, error);
    chunk_.rows = held;
    if (!written) return false;
    // A variable fills either its numbers or its texts; the other stays empty.
    const auto keepLast = [keep](auto& columns) {
      for (auto& values : columns) {
        if (values.size() > keep) values.erase(values.begin(), values.end() - keep);
      }
    };
    keepLast(chunk_.numbers);
    keepLast(chunk_.texts);
    chunk_.rows = keep;
    return true;
  }

  const ExportRequest& request_;
  DatasetWriter& writer_;
  std::FILE* err_;
  bool ok_ = true;
  Layout layout_;
  std::vector<FileFirstPass> files_;
  std::string station_;
  std::string others_;
  Schema schema_;
  std::vector<Slot> slots_;
  Chunk chunk_;
};

void AppendNumber(std::string& line, double value) {
  if (std::isnan(value)) {
    line += "NaN";
    return;
  }
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  line.append(text, result.ptr);
}

std::string NccsvAttribute(const Attribute& attribute) {
  std::string value;
  if (attribute.kind == Attribute::Kind::kText) return NccsvString(attribute.text, true);
  for (size_t i = 0; i < attribute.numbers.size(); ++i) {
    if (i > 0) value += ',';
    if (attribute.kind == Attribute::Kind::kBytes) {
      value += std::to_string(static_cast<int>(attribute.numbers[i])) + "b";
    } else {
      AppendNumber(value, attribute.numbers[i]);
      value += 'd';
    }
  }
  return value;
}

bool Written(std::FILE* out, std::string& error) {
  if (std::ferror(out) == 0) return true;
  error = "cannot write the NCCSV";
  return false;
}

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

std::string NccsvString(const std::string& text, bool quote) {
  std::string body;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      body += "\\\\";
    } else if (c == '\n') {
      body += "\\n";
    } else if (c == '\t') {
      body += "\\t";
    } else if (c == '"') {
      body += "\"\"";
    } else if (byte < 0x20 || byte >= 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      body += escape;
    } else {
      body += c;
    }
  }
  quote = quote || text.find_first_of(",\"") != std::string::npos ||
          (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  return quote ? "\"" + body + "\"" : body;
}

bool NccsvWriter::Begin(const Schema& schema, std::string& error) {
  schema_ = &schema;
  for (const Attribute& attribute : schema.globals) {
    Attribute shown = attribute;
    if (shown.name == "Conventions") shown.text += ", NCCSV-1.2";
    std::fprintf(out_, "*GLOBAL*,%s,%s\n", shown.name.c_str(), NccsvAttribute(shown).c_str());
  }
  for (const Variable& variable : schema.variables) {
    const char* type = variable.type == Variable::Type::kDouble ? "double"
                       : variable.type == Variable::Type::kByte ? "byte"
                                                                : "String";
    std::fprintf(out_, "%s,*DATA_TYPE*,%s\n", variable.name.c_str(), type);
    for (const Attribute& attribute : variable.attributes)
      std::fprintf(out_, "%s,%s,%s\n", variable.name.c_str(), attribute.name.c_str(),
                   NccsvAttribute(attribute).c_str());
  }
  std::fputs("\n*END_METADATA*\n", out_);
  std::string header;
  for (const Variable& variable : schema.variables)
    header += (header.empty() ? "" : ",") + variable.name;
  std::fprintf(out_, "%s\n", header.c_str());
  return Written(out_, error);
}

bool NccsvWriter::Write(const Chunk& chunk, std::string& error) {
  std::string line;
  for (size_t row = 0; row < chunk.rows; ++row) {
    line.clear();
    for (size_t v = 0; v < schema_->variables.size(); ++v) {
      if (v > 0) line += ',';
      if (schema_->variables[v].type == Variable::Type::kText) {
        line += NccsvString(chunk.texts[v][row], false);
      } else {
        AppendNumber(line, chunk.numbers[v][row]);
      }
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out_);
  }
  return Written(out_, error);
}

bool NccsvWriter::End(std::string& error) {
  std::fputs("*END_DATA*\n", out_);
  return std::fflush(out_) == 0 && Written(out_, error);
}

}  // namespace zol::view
