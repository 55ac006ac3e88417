#include "view/csv_writer.h"

#include "view/data_scan.h"

namespace zol::view {
namespace {

std::vector<std::string_view> Names(const Layout& layout) {
  return {layout.columns.begin(), layout.columns.end()};
}

}  // namespace

void AppendCsvField(std::string& row, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    row += field;
    return;
  }
  row += '"';
  for (const char c : field) {
    if (c == '"') row += '"';
    row += c;
  }
  row += '"';
}

std::string CsvRow(const std::vector<std::string_view>& fields) {
  std::string row;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) row += ',';
    AppendCsvField(row, fields[i]);
  }
  row += "\r\n";
  return row;
}

bool WriteCsv(const std::vector<std::string>& paths, std::FILE* out, std::FILE* err) {
  std::vector<std::string> header;
  bool ok = true;
  for (const std::string& path : paths) {
    bool layoutDiffers = false;
    const ScanResult scan = ScanFile(path, [&](const Layout& layout, const ParsedLine& record) {
      if (header.empty()) {
        header = layout.columns;
        std::fputs(CsvRow(Names(layout)).c_str(), out);
      }
      if (layout.columns != header) {
        layoutDiffers = true;
        return;
      }
      const std::string row = CsvRow(record.fields);
      std::fwrite(row.data(), 1, row.size(), out);
    });
    if (!ReportScanProblems(path, scan, err)) ok = false;
    if (header.empty() && scan.layout) {
      header = scan.layout->columns;
      std::fputs(CsvRow(Names(*scan.layout)).c_str(), out);
    }
    if (layoutDiffers) {
      std::fprintf(err, "zolview: %s: its records have other columns, left out\n", path.c_str());
      ok = false;
    }
    ReportLeftOut(path, scan.counts, err);
  }
  if (std::fflush(out) != 0 || std::ferror(out)) {
    std::fprintf(err, "zolview: cannot write the CSV\n");
    ok = false;
  }
  return ok;
}

}  // namespace zol::view
