#include "view/standard_output.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

namespace zol::view {

void PrepareStandardOutput() {
  // Text mode would turn every LF into CR LF, and CSV's CR LF into CR CR LF.
  _setmode(_fileno(stdout), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
}

}  // namespace zol::view
