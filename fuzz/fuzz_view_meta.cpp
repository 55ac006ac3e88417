// zolview's metadata file: any bytes must parse or be refused with a line
// number, and what is accepted must hold together.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "view/meta.h"
#include "view/qc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  zol::view::Meta meta;
  std::string error;
  if (!zol::view::ParseMeta(input, meta, error)) {
    if (error.rfind("line ", 0) != 0) std::abort();
    return 0;
  }
  for (const auto& [name, column] : meta.columns) {
    if (column.failMin && column.failMax && *column.failMin > *column.failMax) std::abort();
    // The limits must be usable by the tests on any values.
    zol::view::QcColumn test(column);
    for (const double value : {-1e300, 0.0, 1e300, 0.0, 0.0})
      test.Push(value);
    test.Finish();
  }
  return 0;
}
