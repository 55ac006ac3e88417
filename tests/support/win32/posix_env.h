// setenv and unsetenv for the shared tests on Windows (included first by
// the Windows build of the tests); the C runtime's own environment is the
// one that _tzset and getenv read.
#pragma once

#include <stdlib.h>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (overwrite == 0 && getenv(name) != nullptr) return 0;
  return _putenv_s(name, value);
}

inline int unsetenv(const char* name) {
  return _putenv_s(name, "");
}
