#include "base/value_format.h"

#include <climits>
#include <cstdio>
#include <cstring>

// The formats reach printf and sscanf only after ParseFormat has proved that
// their conversions match the arguments passed, which is what the compiler
// cannot check for a format that is not a literal.
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

namespace zol {
namespace {

// The argument type a conversion takes.
// kFloat is scanf's "%f", which stores a float.
enum class Arg { kInt, kLong, kLongLong, kFloat, kDouble, kLongDouble, kString };

struct Conversion {
  Arg arg;
  bool isSigned;
};

enum class Dialect { kPrintf, kScanf };

constexpr int kMaxConversions = 2;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Length modifiers this program accepts: none, l, ll, L. 0 for none, 'q' for ll.
bool ReadLength(const char*& p, char* length) {
  *length = 0;
  if (*p == 'l') {
    ++p;
    *length = 'l';
    if (*p == 'l') {
      ++p;
      *length = 'q';
    }
  } else if (*p == 'L') {
    ++p;
    *length = 'L';
  } else if (*p != '\0' && std::strchr("hjztq", *p) != nullptr) {
    return false;
  }
  return true;
}

bool ClassifyConversion(char conv, char length, Dialect dialect, Conversion* out) {
  if (conv != '\0' && std::strchr("diuoxX", conv) != nullptr) {
    if (length == 'L') return false;
    out->arg = length == 'l' ? Arg::kLong : length == 'q' ? Arg::kLongLong : Arg::kInt;
    out->isSigned = conv == 'd' || conv == 'i';
    return true;
  }
  if (conv != '\0' && std::strchr("fFeEgGaA", conv) != nullptr) {
    if (length == 'q') return false;
    // printf takes a double for "%f" and "%lf"; scanf stores a float for "%f".
    if (length == 'L') {
      out->arg = Arg::kLongDouble;
    } else if (dialect == Dialect::kScanf && length == 0) {
      out->arg = Arg::kFloat;
    } else {
      out->arg = Arg::kDouble;
    }
    out->isSigned = true;
    return true;
  }
  if (conv == 's' && dialect == Dialect::kPrintf && length == 0) {
    out->arg = Arg::kString;
    out->isSigned = false;
    return true;
  }
  return false;
}

// Reads the conversions of `format` into `out`. -1 when the format holds one
// that this program never passes (a '*', %n, %c, positional arguments, ...).
int ParseFormat(const char* format, Dialect dialect, Conversion* out, int max) {
  if (format == nullptr) return -1;
  int count = 0;
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    if (dialect == Dialect::kPrintf) {
      while (*p != '\0' && std::strchr("-+ #0", *p) != nullptr)
        ++p;
      while (IsDigit(*p))
        ++p;
      if (*p == '.') {
        ++p;
        while (IsDigit(*p))
          ++p;
      }
    } else {
      while (IsDigit(*p))
        ++p;
    }
    char length = 0;
    if (!ReadLength(p, &length)) return -1;
    Conversion conversion{};
    if (count == max || !ClassifyConversion(*p, length, dialect, &conversion)) return -1;
    out[count++] = conversion;
  }
  return count;
}

bool ParseOne(const char* format, Dialect dialect, Conversion* out) {
  Conversion found[kMaxConversions];
  if (ParseFormat(format, dialect, found, kMaxConversions) != 1) return false;
  *out = found[0];
  return true;
}

bool IsInteger(Arg arg) {
  return arg == Arg::kInt || arg == Arg::kLong || arg == Arg::kLongLong;
}

void ClearText(char* out, std::size_t size) {
  if (out != nullptr && size > 0) out[0] = '\0';
}

// What a 32-bit strtoul makes of the text that a 64-bit one read as `wide`:
// a small negative number wraps, anything else beyond 32 bits saturates.
int32_t UnsignedTo32(unsigned long long wide) {
  constexpr unsigned long long kLow = 0xFFFFFFFFULL;
  if (wide <= kLow) return static_cast<int32_t>(static_cast<uint32_t>(wide));
  if (wide > ~kLow) return static_cast<int32_t>(static_cast<uint32_t>(wide & kLow));
  return static_cast<int32_t>(UINT32_MAX);
}

int32_t SignedTo32(long long wide) {
  if (wide < INT32_MIN) return INT32_MIN;
  if (wide > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(wide);
}

template <typename T>
int ScanWide(const char* text, const char* format, T* wide) {
  return std::sscanf(text, format, wide);
}

// The format with its 'l' doubled ("%lu" -> "%llu"), so that a 32-bit long
// (Windows) cannot wrap a number before the program bounds it. False when
// it does not fit `size`.
bool WidenLongFormat(const char* format, char* out, std::size_t size) {
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') continue;
    if (p[1] == '%') {
      ++p;
      continue;
    }
    const char* length = p + 1;
    while (IsDigit(*length))
      ++length;
    const int head = static_cast<int>(length - format);
    const int written = std::snprintf(out, size, "%.*sl%s", head, format, length);
    return written > 0 && static_cast<std::size_t>(written) < size;
  }
  return false;
}

// sscanf of a "%l" conversion into a 64-bit value, whatever the size of long.
template <typename Wide, typename Long>
int ScanLong(const char* text, const char* format, Wide* wide) {
  char wider[64];
  if (sizeof(Long) < sizeof(Wide) && WidenLongFormat(format, wider, sizeof wider))
    return ScanWide(text, wider, wide);
  Long scanned = 0;
  const int result = ScanWide(text, format, &scanned);
  *wide = scanned;
  return result;
}

}  // namespace

bool FormatInt32(char* out, std::size_t size, const char* format, int32_t value) {
  Conversion c{};
  if (out == nullptr || size == 0) return false;
  if (!ParseOne(format, Dialect::kPrintf, &c) || !IsInteger(c.arg)) {
    ClearText(out, size);
    return false;
  }
  const uint32_t bits = static_cast<uint32_t>(value);
  switch (c.arg) {
    case Arg::kLong:
      if (c.isSigned) {
        std::snprintf(out, size, format, static_cast<long>(value));
      } else {
        std::snprintf(out, size, format, static_cast<unsigned long>(bits));
      }
      break;
    case Arg::kLongLong:
      if (c.isSigned) {
        std::snprintf(out, size, format, static_cast<long long>(value));
      } else {
        std::snprintf(out, size, format, static_cast<unsigned long long>(bits));
      }
      break;
    default:
      if (c.isSigned) {
        std::snprintf(out, size, format, static_cast<int>(value));
      } else {
        std::snprintf(out, size, format, static_cast<unsigned>(bits));
      }
      break;
  }
  return true;
}

bool FormatFloat(char* out, std::size_t size, const char* format, float value) {
  Conversion c{};
  if (out == nullptr || size == 0) return false;
  if (!ParseOne(format, Dialect::kPrintf, &c) ||
      (c.arg != Arg::kDouble && c.arg != Arg::kLongDouble)) {
    ClearText(out, size);
    return false;
  }
  if (c.arg == Arg::kLongDouble) {
    std::snprintf(out, size, format, static_cast<long double>(value));
  } else {
    std::snprintf(out, size, format, static_cast<double>(value));
  }
  return true;
}

bool FormatNumberAndText(char* out, std::size_t size, const char* format, int number,
                         const char* text) {
  Conversion found[kMaxConversions];
  if (out == nullptr || size == 0) return false;
  if (text == nullptr || ParseFormat(format, Dialect::kPrintf, found, kMaxConversions) != 2 ||
      found[0].arg != Arg::kInt || found[1].arg != Arg::kString) {
    ClearText(out, size);
    return false;
  }
  if (found[0].isSigned) {
    std::snprintf(out, size, format, number, text);
  } else {
    std::snprintf(out, size, format, static_cast<unsigned>(number), text);
  }
  return true;
}

int ScanInt32(const char* text, const char* format, int32_t* value) {
  Conversion c{};
  if (text == nullptr || value == nullptr || !ParseOne(format, Dialect::kScanf, &c) ||
      !IsInteger(c.arg)) {
    return kBadScanFormat;
  }
  int result = 0;
  if (c.isSigned) {
    long long wide = 0;
    if (c.arg == Arg::kInt) {
      int narrow = 0;
      result = ScanWide(text, format, &narrow);
      wide = narrow;
    } else if (c.arg == Arg::kLong) {
      result = ScanLong<long long, long>(text, format, &wide);
    } else {
      result = ScanWide(text, format, &wide);
    }
    if (result == 1) *value = SignedTo32(wide);
  } else {
    unsigned long long wide = 0;
    if (c.arg == Arg::kInt) {
      unsigned narrow = 0;
      result = ScanWide(text, format, &narrow);
      wide = narrow;
    } else if (c.arg == Arg::kLong) {
      result = ScanLong<unsigned long long, unsigned long>(text, format, &wide);
    } else {
      result = ScanWide(text, format, &wide);
    }
    if (result == 1) *value = UnsignedTo32(wide);
  }
  return result;
}

int ScanFloat(const char* text, const char* format, float* value) {
  Conversion c{};
  if (text == nullptr || value == nullptr || !ParseOne(format, Dialect::kScanf, &c)) {
    return kBadScanFormat;
  }
  int result = 0;
  if (c.arg == Arg::kFloat) {
    float scanned = 0.0f;
    result = ScanWide(text, format, &scanned);
    if (result == 1) *value = scanned;
  } else if (c.arg == Arg::kDouble) {
    double scanned = 0.0;
    result = ScanWide(text, format, &scanned);
    if (result == 1) *value = static_cast<float>(scanned);
  } else if (c.arg == Arg::kLongDouble) {
    long double scanned = 0.0L;
    result = ScanWide(text, format, &scanned);
    if (result == 1) *value = static_cast<float>(scanned);
  } else {
    return kBadScanFormat;
  }
  return result;
}

}  // namespace zol
