// The dataset as a netCDF-4 file through the netCDF C library: records
// appended in chunks along an unlimited time dimension, every variable
// compressed, texts in fixed-width characters, spectra as (time, pixel).
#pragma once

#include <string>
#include <vector>

#include "view/dataset.h"

namespace zol::view {

class NetcdfWriter : public DatasetWriter {
 public:
  explicit NetcdfWriter(std::string path) : path_(std::move(path)) {}
  ~NetcdfWriter() override;
  NetcdfWriter(const NetcdfWriter&) = delete;
  NetcdfWriter& operator=(const NetcdfWriter&) = delete;

  bool Begin(const Schema& schema, std::string& error) override;
  bool Write(const Chunk& chunk, std::string& error) override;
  bool End(std::string& error) override;
  bool HoldsSpectra() const override { return true; }
  // Removes a file begun and not finished.
  void DiscardUnfinished();

 private:
  bool Check(int status, std::string& error) const;
  bool DefinePixels(const Schema& schema, std::string& error);
  bool DefineVariable(const Variable& variable, std::string& error);

  std::string path_;
  int file_ = -1;
  const Schema* schema_ = nullptr;
  std::vector<int> ids_;  // per schema variable
  int timeDim_ = -1;
  int pixelDim_ = -1;
  int pixelVar_ = -1;
  int pixelCount_ = 0;
  size_t chunkRows_ = 1;
  std::vector<signed char> bytes_;
  size_t written_ = 0;
  bool created_ = false;
  bool finished_ = false;
};

}  // namespace zol::view
