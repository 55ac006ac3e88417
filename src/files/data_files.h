// The names and the fixed content of the log, data and second data files,
// and what start-up asks of a file by name: is it there, how large is it.
#pragma once

#include <cstdint>

namespace zol {

class LineFile;

// Room for a file name, its end included.
inline constexpr int kPathSize = 128;

// Formats like printf into a kPathSize name field (serial number, kind name).
void FormatPath(char* destination, const char* format, uint16_t serialNumber, const char* modeName);
// The header block of a new data file: the column line of the sensor kind
// (mode 1 KIRN, otherwise PADO).
void WriteDataFileHeader(LineFile& file, uint16_t mode);
// True when `path` can be opened for reading. Never blocks: a FIFO of that
// name counts as present without waiting for a writer.
bool CanOpenForReading(const char* path);
// The size in bytes of the file at `path`; -1 when it cannot be found.
long long FileSizeOf(const char* path);

}  // namespace zol
