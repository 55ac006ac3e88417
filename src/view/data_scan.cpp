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

ScanResult ScanFile(const std::string& path, const RecordSink& sink, uint64_t byteLimit,
                    const ConfigSink& config) {
  ScanResult result;
  LineReader reader(path, byteLimit, kMaxHeldLine);
  result.opened = reader.IsOpen();
  const std::optional<Layout> fromName = LayoutFromFileName(path);
  ParsedLine parsed;
  bool afterConfig = false;
  for (Line line; reader.Next(line);) {
    if (!line.terminated) {
      // Still being written, or cut off for good: either way not data.
      ++result.counts.unfinished;
      break;
    }
    if (line.tooLong) {
      ++result.counts.tooLong;
      afterConfig = false;
      continue;
    }
    std::string_view text = line.text;
    if (!text.empty() && text.back() == '\r') {
      ++result.counts.crlf;
      text.remove_suffix(1);
    }
    if (!result.layout) result.layout = LayoutFromColumnLine(text);
    const Layout* layout = result.layout ? &*result.layout : (fromName ? &*fromName : nullptr);
    ClassifyLine(text, layout, parsed);
    Count(parsed.kind, afterConfig, result.counts);
    if (parsed.kind == LineKind::kConfig && config) config(text, !afterConfig);
    afterConfig = parsed.kind == LineKind::kConfig;
    if (parsed.kind == LineKind::kRecord) sink(*layout, parsed);
  }
  if (!result.layout) result.layout = fromName;
  result.error = reader.Error();
  result.bytes = reader.BytesRead();
  return result;
}

}  // namespace zol::view
