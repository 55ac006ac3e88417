#include "view/data_scan.h"

#include "view/line_reader.h"

namespace zol::view {
namespace {

// Room for lines well past a record's length, so a cut or padded record is
// still seen whole and told apart from binary noise.
constexpr size_t kMaxHeldLine = 4 * (kMaxRecordLength + 1);

void Count(LineKind kind, bool afterConfig, LineCounts& counts) {
  switch (kind) {
    case LineKind::kRecord:
      ++counts.records;
      break;
    case LineKind::kConfig:
      ++counts.configLines;
      if (!afterConfig) ++counts.starts;
      break;
    case LineKind::kHeader:
      ++counts.header;
      break;
    case LineKind::kBlank:
      ++counts.blank;
      break;
    case LineKind::kBinary:
      ++counts.binary;
      break;
    case LineKind::kTooLong:
      ++counts.tooLong;
      break;
    case LineKind::kCut:
      ++counts.cut;
      break;
    case LineKind::kBadTime:
      ++counts.badTime;
      break;
    case LineKind::kUnlabeled:
      ++counts.unlabeled;
      break;
    case LineKind::kStray:
      ++counts.stray;
      break;
  }
}

}  // namespace

RecordCursor::RecordCursor(const std::string& path, uint64_t byteLimit, ConfigSink config)
    : reader_(std::make_unique<LineReader>(path, byteLimit, kMaxHeldLine)),
      config_(std::move(config)),
      fromName_(LayoutFromFileName(path)) {
  result_.opened = reader_->IsOpen();
}

RecordCursor::~RecordCursor() = default;

const ParsedLine* RecordCursor::Next() {
  for (Line line; reader_->Next(line);) {
    if (!line.terminated) {
      // Still being written, or cut off for good: either way not data.
      ++result_.counts.unfinished;
      return nullptr;
    }
    if (line.tooLong) {
      ++result_.counts.tooLong;
      afterConfig_ = false;
      continue;
    }
    std::string_view text = line.text;
    if (!text.empty() && text.back() == '\r') {
      ++result_.counts.crlf;
      text.remove_suffix(1);
    }
    if (!result_.layout) result_.layout = LayoutFromColumnLine(text);
    layout_ = result_.layout ? &*result_.layout : (fromName_ ? &*fromName_ : nullptr);
    ClassifyLine(text, layout_, parsed_);
    Count(parsed_.kind, afterConfig_, result_.counts);
    if (parsed_.kind == LineKind::kConfig && config_) config_(text, !afterConfig_);
    afterConfig_ = parsed_.kind == LineKind::kConfig;
    if (parsed_.kind == LineKind::kRecord) return &parsed_;
  }
  return nullptr;
}

ScanResult RecordCursor::Finish() {
  if (!result_.layout) result_.layout = fromName_;
  result_.error = reader_->Error();
  result_.bytes = reader_->BytesRead();
  return result_;
}

ScanResult ScanFile(const std::string& path, const RecordSink& sink, uint64_t byteLimit,
                    const ConfigSink& config) {
  RecordCursor cursor(path, byteLimit, config);
  while (const ParsedLine* record = cursor.Next())
    sink(cursor.RecordLayout(), *record);
  return cursor.Finish();
}

bool ReportScanProblems(const std::string& path, const ScanResult& scan, std::FILE* err) {
  if (!scan.opened || !scan.error.empty()) {
    std::fprintf(err, "zolview: %s: %s\n", path.c_str(), scan.error.c_str());
    return false;
  }
  if (!scan.layout) {
    std::fprintf(err, "zolview: %s: cannot tell the record layout\n", path.c_str());
    return false;
  }
  return true;
}

void ReportLeftOut(const std::string& path, const LineCounts& counts, std::FILE* err) {
  if (counts.Rejected() == 0) return;
  std::fprintf(err, "zolview: %s: %llu lines not data, left out\n", path.c_str(),
               static_cast<unsigned long long>(counts.Rejected()));
}

}  // namespace zol::view
