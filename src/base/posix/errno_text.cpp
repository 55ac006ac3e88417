#include "base/errno_text.h"

#include <cstring>

namespace zol {

std::string ErrnoText(int error) {
  char text[128];
  // The GNU strerror_r: gives a text of its own or one written into `text`.
  return ::strerror_r(error, text, sizeof text);
}

}  // namespace zol
