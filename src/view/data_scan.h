// One pass over a data file: every line classified and counted, every
// record handed to a sink, in file order.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "view/layout.h"
#include "view/record_parser.h"

namespace zol::view {

class LineReader;

struct LineCounts {
  uint64_t records = 0;
  uint64_t configLines = 0;
  uint64_t starts = 0;  // configuration blocks
  uint64_t header = 0;
  uint64_t blank = 0;
  uint64_t binary = 0;
  uint64_t tooLong = 0;
  uint64_t cut = 0;
  uint64_t badTime = 0;
  uint64_t unlabeled = 0;
  uint64_t stray = 0;
  uint64_t unfinished = 0;  // a last line still without its line end
  uint64_t crlf = 0;        // lines ended by CR LF

  uint64_t Rejected() const {
    return binary + tooLong + cut + badTime + unlabeled + stray + unfinished;
  }
};

struct ScanResult {
  bool opened = false;
  std::string error;             // why the file could not be (fully) read
  std::optional<Layout> layout;  // from the column line, else from the name
  LineCounts counts;
  uint64_t bytes = 0;  // the length read: later passes stop there
};

using RecordSink = std::function<void(const Layout&, const ParsedLine&)>;
// A configuration line, and whether it starts a block (one start).
using ConfigSink = std::function<void(std::string_view, bool)>;

// The records of a file one at a time, for readers that take several files
// in step. Every line is classified and counted as ScanFile does.
class RecordCursor {
 public:
  RecordCursor(const std::string& path, uint64_t byteLimit, ConfigSink config = nullptr);
  ~RecordCursor();
  RecordCursor(const RecordCursor&) = delete;
  RecordCursor& operator=(const RecordCursor&) = delete;
  // The next record, or null at the end; valid until the next call.
  const ParsedLine* Next();
  // The layout the last record was read with.
  const Layout& RecordLayout() const { return *layout_; }
  // The counts and the outcome, once Next gave null.
  ScanResult Finish();

 private:
  std::unique_ptr<LineReader> reader_;
  ConfigSink config_;
  std::optional<Layout> fromName_;
  const Layout* layout_ = nullptr;
  ParsedLine parsed_;
  bool afterConfig_ = false;
  ScanResult result_;
};

// Reads `path` up to `byteLimit` bytes. A record is handed to `sink` with
// its fields and time and the layout it was read with.
ScanResult ScanFile(const std::string& path, const RecordSink& sink,
                    uint64_t byteLimit = std::numeric_limits<uint64_t>::max(),
                    const ConfigSink& config = nullptr);

// Tells `err` why a scanned file cannot be read whole: it could not be
// read, or its layout is unknown. True when neither.
bool ReportScanProblems(const std::string& path, const ScanResult& scan, std::FILE* err);
// Tells `err` how many lines of the file were not data and left out.
void ReportLeftOut(const std::string& path, const LineCounts& counts, std::FILE* err);

}  // namespace zol::view
