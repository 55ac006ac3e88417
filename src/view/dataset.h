// Data files as one self-describing time series of one instrument: the
// variables and attributes that NetCDF and NCCSV share, and the records
// handed to a writer in chunks so that memory stays flat.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "view/meta.h"

namespace zol::view {

struct Attribute {
  enum class Kind { kText, kDouble, kBytes };
  std::string name;
  Kind kind = Kind::kText;
  std::string text;
  std::vector<double> numbers;
};

struct Variable {
  enum class Type { kDouble, kText, kByte };
  std::string name;
  Type type = Type::kDouble;
  std::vector<Attribute> attributes;
};

struct Schema {
  std::vector<Attribute> globals;
  std::string station;              // the instrument's ID
  std::vector<Variable> variables;  // time first
};

// Records in column order of the schema's variables: numbers (bytes too)
// or texts, per variable one vector of `rows` entries.
struct Chunk {
  size_t rows = 0;
  std::vector<std::vector<double>> numbers;
  std::vector<std::vector<std::string>> texts;
};

class DatasetWriter {
 public:
  virtual ~DatasetWriter() = default;
  virtual bool Begin(const Schema& schema, std::string& error) = 0;
  virtual bool Write(const Chunk& chunk, std::string& error) = 0;
  virtual bool End(std::string& error) = 0;
};

struct ExportRequest {
  std::vector<std::string> files;
  Meta meta;
  std::string command;  // for `history`
  int64_t now = 0;      // `date_created`, seconds since 1970
};

inline constexpr size_t kChunkRows = 4096;

// "kirn_nitrate" from "KIRN NITRATE".
std::string VariableName(const std::string& column);
// "2024-05-01T10:00:00Z".
std::string IsoTime(int64_t seconds);

// Reads the files and hands them to `writer`; problems go to `err`. False
// when nothing or not all could be written.
bool ExportFiles(const ExportRequest& request, DatasetWriter& writer, std::FILE* err);

// Writes NCCSV to `out`.
class NccsvWriter : public DatasetWriter {
 public:
  explicit NccsvWriter(std::FILE* out) : out_(out) {}
  bool Begin(const Schema& schema, std::string& error) override;
  bool Write(const Chunk& chunk, std::string& error) override;
  bool End(std::string& error) override;

 private:
  std::FILE* out_;
  const Schema* schema_ = nullptr;
};

// A text as an NCCSV string, with its escapes; quoted when `quote` or when it must be.
std::string NccsvString(const std::string& text, bool quote);

}  // namespace zol::view
