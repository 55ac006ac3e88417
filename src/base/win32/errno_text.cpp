#include "base/errno_text.h"

#include <cstring>

namespace zol {

std::string ErrnoText(int error) {
  char text[128];
  if (strerror_s(text, sizeof text, error) != 0) text[0] = '\0';
  return text;
}

}  // namespace zol
