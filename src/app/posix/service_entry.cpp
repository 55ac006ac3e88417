// A service on Linux is a plain process under systemd: nothing to set up.
#include "app/service_entry.h"

namespace zol {

int RunAsServiceOrOnConsole(int argc, char** argv, int (*program)(int, char**)) {
  return program(argc, argv);
}

bool RunningAsService() {
  return false;
}

}  // namespace zol
