// How the process was started: by the system's service manager, or from a
// console or a script. The sampler itself is the same either way.
#pragma once

namespace zol {

// Runs `program` with the process's command line. Started by the service
// manager (Windows), it runs as the service named by the manager: see
// app/win32/windows_service.cpp. Otherwise it simply runs `program` and
// gives its status.
int RunAsServiceOrOnConsole(int argc, char** argv, int (*program)(int, char**));

// True once the process runs as a service.
bool RunningAsService();

}  // namespace zol
