// The C library's text for an errno value, safe to take on any thread
// (strerror shares one buffer between threads).
#pragma once

#include <string>

namespace zol {

std::string ErrnoText(int error);

}  // namespace zol
