// zolsampler.exe as a Windows service. The service manager starts the same
// program with the command line of the service's binary path and the
// variables of the service's environment; the program then runs with
// %ProgramData%\zolsampler\<service name> as its working directory, writes
// what the console would show to console.txt there (appended), and reads no
// keys, as an unattended Linux run with standard input on /dev/null.
// ZOLSAMPLER_ANSWERS and the other variables come from the service key's
// Environment value.
//
// Stop, shutdown and pre-shutdown ask for the orderly stop, as CTRL+Z does;
// the stop is reported pending, with a new checkpoint every few seconds,
// until the process ends. An end the manager did not ask for is reported as
// a failure, so that the recovery actions restart the service.
#include <io.h>
#include <windows.h>
// After windows.h.
#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include "app/service_entry.h"
#include "app/signals.h"
#include "base/console_out.h"

namespace zol {
namespace {

constexpr wchar_t kConsoleFile[] = L"console.txt";
// How long the manager waits for the next checkpoint, and how often one
// comes while the running cycle ends.
constexpr DWORD kWaitHintMs = 10000;
constexpr auto kCheckpointEvery = std::chrono::seconds(3);
// The service-specific exit code of an end nobody asked for.
constexpr DWORD kFailureExitCode = 1;
// Set when the service has no recovery actions of its own: restart a
// minute after each failure; the count of failures is reset after a day.
constexpr DWORD kRestartDelayMs = 60000;
constexpr DWORD kFailureResetSeconds = 24 * 60 * 60;
constexpr DWORD kRestartActions = 3;

struct Service {
  int argc = 0;
  char** argv = nullptr;
  int (*program)(int, char**) = nullptr;
  SERVICE_STATUS_HANDLE handle = nullptr;
  bool started = false;  // the program runs; only its exit ends the process
  std::mutex mutex;      // guards everything below
  std::condition_variable changed;
  SERVICE_STATUS status{};
  bool stopAsked = false;
  bool ending = false;
  std::thread checkpoints;
};

// Made before the dispatcher starts and never destroyed: the exit handler
// reports through it while the process ends.
Service* g_service = nullptr;
std::atomic<bool> g_asService{false};

// With the mutex held.
void Report(Service& service, DWORD state, DWORD specificExitCode = 0) {
  SERVICE_STATUS& status = service.status;
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted =
      state == SERVICE_RUNNING
          ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN
          : 0;
  status.dwWin32ExitCode = specificExitCode != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
  status.dwServiceSpecificExitCode = specificExitCode;
  const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
  status.dwCheckPoint = pending ? status.dwCheckPoint + 1 : 0;
  status.dwWaitHint = pending ? kWaitHintMs : 0;
  ::SetServiceStatus(service.handle, &status);
}

void ReportCheckpoints(Service& service) {
  std::unique_lock lock(service.mutex);
  while (!service.changed.wait_for(lock, kCheckpointEvery, [&] { return service.ending; }))
    Report(service, SERVICE_STOP_PENDING);
}

DWORD WINAPI OnServiceControl(DWORD control, DWORD, void*, void*) {
  Service& service = *g_service;
  switch (control) {
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
    case SERVICE_CONTROL_PRESHUTDOWN:
      break;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
  {
    std::lock_guard lock(service.mutex);
    if (service.stopAsked) return NO_ERROR;
    service.stopAsked = true;
    if (ActionForSignal(SIGTERM) == SignalAction::kOrderlyStop) {
      Report(service, SERVICE_STOP_PENDING);
      service.checkpoints = std::thread(ReportCheckpoints, std::ref(service));
    } else {
      // Start-up is abandoned at once, past the exit handlers.
      Report(service, SERVICE_STOPPED);
    }
  }
  HandleSignal(SIGTERM);
  return NO_ERROR;
}

// The last exit handler to run: the files are closed by then.
void ReportEnd() {
  Service& service = *g_service;
  std::thread checkpoints;
  {
    std::lock_guard lock(service.mutex);
    service.ending = true;
    checkpoints = std::move(service.checkpoints);
  }
  service.changed.notify_all();
  if (checkpoints.joinable()) checkpoints.join();
  std::fflush(nullptr);
  std::lock_guard lock(service.mutex);
  Report(service, SERVICE_STOPPED, service.stopAsked ? 0 : kFailureExitCode);
}

bool MakeDirectory(const std::wstring& path) {
  return ::CreateDirectoryW(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

// %ProgramData%\zolsampler\<instance>, made when missing.
bool EnterWorkingDirectory(const wchar_t* instance) {
  wchar_t programData[MAX_PATH];
  const DWORD length = ::GetEnvironmentVariableW(L"ProgramData", programData, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || instance[0] == L'\0') return false;
  std::wstring path = std::wstring(programData) + L"\\zolsampler";
  if (!MakeDirectory(path)) return false;
  path += L"\\";
  path += instance;
  return MakeDirectory(path) && ::SetCurrentDirectoryW(path.c_str());
}

// What the console would show goes to the console file: the console
// stream, and standard output and error for what is written to them
// directly. A process without a console has no descriptors behind those
// two; they are given the file's, then reopened on it. The files stay open
// until the process ends (the C runtime closes them last), as any thread
// may write while the process exits.
bool OpenConsoleFile() {
  std::FILE* console = ::_wfopen(kConsoleFile, L"a");
  if (console == nullptr) return false;
  const std::pair<std::FILE*, int> streams[] = {{stdout, 1}, {stderr, 2}};
  for (const auto& [stream, fd] : streams) {
    if (::_fileno(stream) < 0) {
      if (::_dup2(::_fileno(console), fd) != 0) return false;
      stream->_file = fd;
    }
    if (::_wfreopen(kConsoleFile, L"a", stream) == nullptr) return false;
    std::setvbuf(stream, nullptr, _IONBF, 0);
  }
  SetConsoleStream(console);
  // No keyboard: the key reader meets the end of its input at once.
  const HANDLE none = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  return none != INVALID_HANDLE_VALUE && ::SetStdHandle(STD_INPUT_HANDLE, none);
}

// The variables of the service key's Environment value (REG_MULTI_SZ,
// NAME=value each), where the manager has not set them already: not every
// host's manager passes them on.
void TakeServiceEnvironment(const wchar_t* name) {
  const std::wstring key = std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + name;
  wchar_t block[32768];
  DWORD size = sizeof block - 2 * sizeof(wchar_t);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"Environment", RRF_RT_REG_MULTI_SZ, nullptr,
                     block, &size) != ERROR_SUCCESS)
    return;
  block[size / sizeof(wchar_t)] = L'\0';
  block[size / sizeof(wchar_t) + 1] = L'\0';
  for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
    const wchar_t* equals = std::wcschr(entry + 1, L'=');
    if (equals == nullptr) continue;
    const std::wstring variable(entry, equals);
    if (::_wgetenv(variable.c_str()) == nullptr) ::_wputenv_s(variable.c_str(), equals + 1);
  }
}

struct CloseServiceHandleOf {
  void operator()(SC_HANDLE handle) const { ::CloseServiceHandle(handle); }
};
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, CloseServiceHandleOf>;

// Restart after a failure, unless the service has recovery actions already
// (sc failure). Best effort: the service runs without it.
void SetRestartOnFailure(const wchar_t* name) {
  const ScHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return;
  const ScHandle service(
      ::OpenServiceW(manager.get(), name, SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG));
  if (!service) return;
  alignas(SERVICE_FAILURE_ACTIONSW) unsigned char current[8192];
  DWORD needed = 0;
  if (::QueryServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, current, sizeof current,
                             &needed) &&
      reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(current)->cActions > 0)
    return;
  SC_ACTION actions[kRestartActions];
  for (SC_ACTION& action : actions)
    action = {SC_ACTION_RESTART, kRestartDelayMs};
  SERVICE_FAILURE_ACTIONSW failure{kFailureResetSeconds, nullptr, nullptr, kRestartActions,
                                   actions};
  if (!::ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &failure)) return;
  // A non-zero exit code counts as a failure, not only a crash.
  SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
  ::ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag);
}

// The manager starts every service process itself. Asking the dispatcher
// is not enough: some hosts make it wait seconds before it fails a process
// the manager did not start.
bool StartedByServiceManager() {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return true;
  const std::unique_ptr<void, decltype(&::CloseHandle)> closer(snapshot, ::CloseHandle);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  const DWORD self = ::GetCurrentProcessId();
  DWORD parent = 0;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
       more = ::Process32NextW(snapshot, &entry))
    if (entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
       more = ::Process32NextW(snapshot, &entry))
    if (entry.th32ProcessID == parent) return ::_wcsicmp(entry.szExeFile, L"services.exe") == 0;
  return false;
}

void WINAPI ServiceMain(DWORD argc, wchar_t** argv) {
  Service& service = *g_service;
  g_asService.store(true);
  const wchar_t* name = argc > 0 ? argv[0] : L"";
  service.handle = ::RegisterServiceCtrlHandlerExW(name, OnServiceControl, nullptr);
  if (service.handle == nullptr) return;
  {
    std::lock_guard lock(service.mutex);
    Report(service, SERVICE_START_PENDING);
  }
  if (!EnterWorkingDirectory(name) || !OpenConsoleFile()) {
    std::lock_guard lock(service.mutex);
    Report(service, SERVICE_STOPPED, kFailureExitCode);
    return;
  }
  TakeServiceEnvironment(name);
  SetRestartOnFailure(name);
  // First registered, so the last to run.
  std::atexit(ReportEnd);
  {
    std::lock_guard lock(service.mutex);
    service.started = true;
    Report(service, SERVICE_RUNNING);
  }
  std::exit(service.program(service.argc, service.argv));
}

}  // namespace

int RunAsServiceOrOnConsole(int argc, char** argv, int (*program)(int, char**)) {
  g_service = new Service;
  g_service->argc = argc;
  g_service->argv = argv;
  g_service->program = program;
  wchar_t anyName[] = L"";  // an own-process service's name is not looked at
  const SERVICE_TABLE_ENTRYW table[] = {{anyName, ServiceMain}, {nullptr, nullptr}};
  if (!StartedByServiceManager() || !::StartServiceCtrlDispatcherW(table)) {
    // ERROR_FAILED_SERVICE_CONTROLLER_CONNECT: not started as a service.
    return program(argc, argv);
  }
  bool started = false;
  {
    std::lock_guard lock(g_service->mutex);
    started = g_service->started;
  }
  if (!started) return static_cast<int>(kFailureExitCode);
  // The manager was told of the end by the exit handler; the program's exit
  // ends the process.
  ::Sleep(INFINITE);
  return 0;
}

bool RunningAsService() {
  return g_asService.load();
}

}  // namespace zol
