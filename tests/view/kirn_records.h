// KIRN data file lines for the export tests: the column line and records
// with the values a test plants.
#pragma once

#include <cstdio>
#include <string>

#include "view/layout.h"

namespace zol::test {

// The column line of a KIRN data file.
inline std::string KirnColumns() {
  const zol::view::Layout kirn = *zol::view::LayoutForKind("KIRN");
  std::string line;
  for (const std::string& name : kirn.columns)
    line += (line.empty() ? "" : ", ") + name;
  return line;
}

// A KIRN record at `seconds` past 2026/12/08 00:00:00 UTC.
inline std::string Record(const char* crc, int seconds, double temp, double salinity,
                          const std::string& nitrate) {
  char text[512];
  std::snprintf(text, sizeof text,
                "%s, ZOL0042, 2026/12/08 00:%02d:%02d, %d, 10.00, %.3f, %.3f, 0, 1, 0, 0, 14.20, "
                "18.5, 11.95, 0.212, 48200, 1130, 812.0, 3.20, 35.01, %s, 0.0042, 35, 85, "
                "0320BB80, 812",
                crc, seconds / 60, seconds % 60, 1796688000 + seconds, temp, salinity,
                nitrate.c_str());
  return text;
}

// The record with its own pixel range and packed data.
inline std::string WithSpectrum(const std::string& record, const std::string& begin,
                                const std::string& end, const std::string& packed) {
  const size_t at = record.rfind(", 35, 85, ");
  return record.substr(0, at) + ", " + begin + ", " + end + ", " + packed + ", 812";
}

}  // namespace zol::test
