// Data files as one self-describing time series of one instrument: the
// variables and attributes that NetCDF and NCCSV share, and the records
// handed to a writer in chunks so that memory stays flat.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "view/meta.h"
#include "view/packed_counts.h"

namespace zol::view {

struct Attribute {
  enum class Kind { kText, kDouble, kBytes, kInt };
  std::string name;
  Kind kind = Kind::kText;
  std::string text;
  std::vector<double> numbers;
};

struct Variable {
  // kText is fixed-width text, `width` bytes a value padded with NUL;
  // kCounts the spectrum, one 32-bit count per pixel of the schema's range.
  enum class Type { kDouble, kText, kByte, kCounts };
  std::string name;
  Type type = Type::kDouble;
  std::vector<Attribute> attributes;
  size_t width = 1;     // kText: the longest value in bytes, at least 1
  bool scalar = false;  // one value for the whole dataset (the station)
};

struct Schema {
  std::vector<Attribute> globals;
  std::string station;              // the instrument's ID, the scalar text
  std::vector<Variable> variables;  // time first
  PixelRange pixels;                // the pixel axis of kCounts variables
  size_t chunkRows = 0;             // records a chunk holds, the file's chunks too
};

// Records in column order of the schema's variables, `rows` of them: per
// variable its numbers (bytes too), its texts (`width` bytes a row) or its
// counts (a row of the pixel range each); the others stay empty.
struct Chunk {
  size_t rows = 0;
  std::vector<std::vector<double>> numbers;
  std::vector<std::string> texts;
  std::vector<std::vector<int32_t>> counts;

  // A text value without its padding.
  std::string_view Text(size_t variable, size_t width, size_t row) const;
};

// Fill of a pixel outside a record's range or of a record whose spectrum
// does not decode; a saturated pixel (65535) stays a value.
inline constexpr int32_t kCountsFill = -1;

class DatasetWriter {
 public:
  virtual ~DatasetWriter() = default;
  virtual bool Begin(const Schema& schema, std::string& error) = 0;
  virtual bool Write(const Chunk& chunk, std::string& error) = 0;
  virtual bool End(std::string& error) = 0;
  // Whether the writer takes kCounts variables: the spectra then go in as
  // numbers, and the packed text only of the records that do not decode.
  virtual bool HoldsSpectra() const { return false; }
};

struct ExportRequest {
  std::vector<std::string> files;
  Meta meta;
  std::string command;  // for `history`
  int64_t now = 0;      // `date_created`, seconds since 1970
};

// Records a chunk holds, fewer when a record is wide (a spectrum of many
// pixels, long texts) so that a chunk stays within kChunkBytes.
inline constexpr size_t kChunkRows = 4096;
inline constexpr size_t kChunkBytes = size_t{4} << 20;

// "kirn_nitrate" from "KIRN NITRATE".
std::string VariableName(const std::string& column);
// "2024-05-01T10:00:00Z".
std::string IsoTime(int64_t seconds);

// Reads the files and hands them to `writer`; problems go to `err`. False
// when nothing or not all could be written.
bool ExportFiles(const ExportRequest& request, DatasetWriter& writer, std::FILE* err);

}  // namespace zol::view
