// Printing and scanning through formats chosen at run time: the display and
// scan formats the prompts are given and the file-name formats. Every format
// is checked for the conversions its values need before it is used, so a
// wrong format gives nothing instead of reading the wrong argument.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zol {

// A printf format with one integer conversion. "%lu" shows the value as an
// unsigned 32-bit number, "%ld" as a signed one (l denotes 32 bits here).
// False, with an empty text, for any other format.
bool FormatInt32(char* out, std::size_t size, const char* format, int32_t value);
// A printf format with one floating conversion; the value is widened.
bool FormatFloat(char* out, std::size_t size, const char* format, float value);
// A printf format with an integer conversion followed by a string one.
bool FormatNumberAndText(char* out, std::size_t size, const char* format, int number,
                         const char* text);

// Returned by the scans for a format that is not one conversion of the
// value's kind; nothing is read then.
inline constexpr int kBadScanFormat = -2;

// sscanf with a format of one integer conversion into a 32-bit value: the
// count of conversions or EOF, as sscanf gives them. A number beyond 32 bits
// saturates as a 32-bit strtol or strtoul would ("%lu" of -1 still gives
// 4294967295).
int ScanInt32(const char* text, const char* format, int32_t* value);
// sscanf with a format of one floating conversion, narrowed to float.
int ScanFloat(const char* text, const char* format, float* value);

}  // namespace zol
