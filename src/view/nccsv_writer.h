// The dataset as NCCSV text: the attributes, then one line a record. NCCSV
// has no two-dimensional variables: the spectra are left to the netCDF file.
#pragma once

#include <cstdio>
#include <string>

#include "view/dataset.h"

namespace zol::view {

class NccsvWriter : public DatasetWriter {
 public:
  explicit NccsvWriter(std::FILE* out) : out_(out) {}
  bool Begin(const Schema& schema, std::string& error) override;
  bool Write(const Chunk& chunk, std::string& error) override;
  bool End(std::string& error) override;

 private:
  std::FILE* out_;
  const Schema* schema_ = nullptr;
  std::string line_;
};

// A text as an NCCSV string, with its escapes; quoted when `quote` or when it must be.
std::string NccsvString(std::string_view text, bool quote);

}  // namespace zol::view
