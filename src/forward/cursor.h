// The link's cursor beside each data file, `<data file>.sent`: the offset up
// to which the broker has acknowledged every line, and the file's
// generation (the UTC second its first line was written). One line,
// "OFFSET GENERATION", written whole by a rename so a crash leaves the old
// cursor or the new one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zol::forward {

struct Cursor {
  uint64_t offset = 0;
  int64_t generation = 0;
  bool operator==(const Cursor&) const = default;
};

inline constexpr size_t kMaxCursorBytes = 64;

std::string CursorPath(const std::string& dataFile);
std::string FormatCursor(const Cursor& cursor);
// Nothing for anything but the one line FormatCursor writes.
std::optional<Cursor> ParseCursor(std::string_view text);

// What is known of a data file on disk.
struct FileFacts {
  bool exists = false;
  uint64_t size = 0;
  int64_t bornSecond = 0;  // when it was created, else when last written
};

FileFacts StatFile(const std::string& path);
// Reads the cursor file of `dataFile`; nothing when it is missing or bad.
std::optional<Cursor> ReadCursor(const std::string& dataFile);
// Writes, syncs and renames into place; errno on failure, else 0.
int WriteCursor(const std::string& dataFile, const Cursor& cursor);
// Removes the cursor file of `dataFile`, if there is one.
void RemoveCursor(const std::string& dataFile);

}  // namespace zol::forward
