// The log, data and second data files: names, previous-file check, header
// block and configuration records.
#pragma once

#include <cstdint>

namespace zol {

// Formats like printf into a 128-byte name field (serial number, kind name).
void FormatPath(char* destination, const char* format, uint16_t serialNumber, const char* modeName);
// Forms logPath, datPath and dat2Path and offers to remove files found.
void CheckPreviousFiles();
// Header block (for an empty data file) and configuration records; ends the
// program with status 1 when the ZOL does not wake or the file cannot be opened.
void GetConfigInfo();

}  // namespace zol
