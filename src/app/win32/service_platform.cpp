// On Windows the sampler has no service manager channel here (the Windows
// service reports through its own control handler); the alarm command runs
// through CreateProcess.
#include "app/service_platform.h"

#include "app/win32/service_keeper.h"

#include <io.h>
#include <windows.h>

#include <cstdio>
#include <mutex>

namespace zol {
namespace {

std::mutex g_childrenMutex;
std::vector<HANDLE> g_children;

}  // namespace

// The one notice the Windows service's keeper takes: the orderly stop.
bool NotifyServiceManager(const std::string& message) {
  if (message == "STOPPING=1") TellKeeperStoppingInOrder();
  return false;
}

int64_t ServiceWatchdogMs() {
  return 0;
}

bool StandardErrorIsJournal() {
  return false;
}

bool KeyboardIsTerminal() {
  return _isatty(_fileno(stdin)) != 0;
}

unsigned long ProcessId() {
  return GetCurrentProcessId();
}

bool StartAlarmCommand(const std::string& command, const std::vector<std::string>& environment,
                       std::string* error) {
  for (const std::string& entry : environment) {
    const size_t equals = entry.find('=');
    SetEnvironmentVariableA(entry.substr(0, equals).c_str(), entry.c_str() + equals + 1);
  }
  std::string line = "cmd.exe /c " + command;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // No handle is inherited, so no port is held by the command.
  const BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE,
                                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
  if (!started) {
    char reason[64];
    std::snprintf(reason, sizeof reason, "cannot start cmd.exe: error %lu", GetLastError());
    *error = reason;
    return false;
  }
  CloseHandle(process.hThread);
  std::lock_guard lock(g_childrenMutex);
  g_children.push_back(process.hProcess);
  return true;
}

void ReapAlarmCommands(std::vector<std::string>* failures) {
  std::lock_guard lock(g_childrenMutex);
  for (auto it = g_children.begin(); it != g_children.end();) {
    DWORD code = 0;
    if (WaitForSingleObject(*it, 0) != WAIT_OBJECT_0 || !GetExitCodeProcess(*it, &code)) {
      ++it;
      continue;
    }
    if (code != 0) {
      char reason[48];
      std::snprintf(reason, sizeof reason, "ended with status %lu", code);
      failures->push_back(reason);
    }
    CloseHandle(*it);
    it = g_children.erase(it);
  }
}

}  // namespace zol
