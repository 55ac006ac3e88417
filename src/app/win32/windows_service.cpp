// zolsampler.exe as a Windows service. The service manager starts the same
// program with the command line of the service's binary path and the
// variables of the service's environment. That process keeps the service:
// in %ProgramData%\zolsampler\<service name> (its working directory) it
// starts the same program once more, as the sampler, with that command
// line, no console and no keys (as an unattended Linux run with standard
// input on /dev/null), and what the console would show appended to
// console.txt there. ZOLSAMPLER_ANSWERS and the other variables come from
// the service key's Environment value.
//
// Unless that value sets ZOLSAMPLER_CONTROL itself, the sampler listens for
// zolctl on the pipe \\.\pipe\zolsampler-<service name>.
//
// When the sampler ends without having been asked to (a crash, a port that
// cannot be opened, a ZOL that does not wake), the keeper starts it again
// after ZOLSAMPLER_RESTART_DELAY seconds, as the Linux unit's
// Restart=on-failure does; the service stays running meanwhile. A sampler
// that ended in order with status 0 (a stop asked over its control pipe)
// ends the service, as Restart=on-failure leaves the unit stopped: it says
// so through a second inherited event, set as its stop sequence begins, for
// a status 0 alone is no proof (wine's taskkill /F ends a process with 0). Stop,
// shutdown and pre-shutdown ask the sampler for the orderly stop through
// an event it inherits, as CTRL+Z does; the stop is reported pending, with
// a new checkpoint every few seconds, until the sampler has ended.
#include <io.h>
#include <windows.h>
// After windows.h.
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdarg>
#include <cstdint>
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
#include "app/service_watch.h"
#include "app/signals.h"
#include "app/win32/service_keeper.h"
#include "base/win32/unique_handle.h"

namespace zol {
namespace {

constexpr wchar_t kConsoleFile[] = L"console.txt";
// Set in the sampler's environment only: the inherited stop event's value
// and that of the event the sampler sets at its orderly stop ("STOP,DONE").
constexpr char kStopEventVariable[] = "ZOLSAMPLER_SERVICE_STOP";
constexpr char kRestartDelayVariable[] = "ZOLSAMPLER_RESTART_DELAY";
constexpr int kDefaultRestartSeconds = 60;
constexpr int kMostRestartSeconds = 24 * 60 * 60;
// How long the manager waits for the next checkpoint, and how often one
// comes while the running cycle ends.
constexpr DWORD kWaitHintMs = 10000;
constexpr auto kCheckpointEvery = std::chrono::seconds(3);
// The service-specific exit code of a service that could not run.
constexpr DWORD kFailureExitCode = 1;
// Set when the service has no recovery actions of its own, for the keeper
// itself: restart a minute after each failure; the count of failures is
// reset after a day.
constexpr DWORD kRestartDelayMs = 60000;
constexpr DWORD kFailureResetSeconds = 24 * 60 * 60;
constexpr DWORD kRestartActions = 3;

struct Service {
  SERVICE_STATUS_HANDLE handle = nullptr;
  UniqueHandle stopEvent;     // inherited by the sampler
  UniqueHandle orderlyEvent;  // inherited, set by the sampler as it stops in order
  UniqueHandle job;           // ends the sampler with this process; may be null
  HANDLE console = nullptr;
  std::mutex mutex;  // guards everything below
  std::condition_variable changed;
  SERVICE_STATUS status{};
  bool stopAsked = false;
  bool ending = false;
  std::thread checkpoints;
};

// Made before the dispatcher starts and never destroyed.
Service* g_service = nullptr;
// The sampler's: the keeper's event for an orderly stop, or null.
HANDLE g_orderlyEvent = nullptr;
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

void ReportLocked(Service& service, DWORD state, DWORD specificExitCode = 0) {
  std::lock_guard lock(service.mutex);
  Report(service, state, specificExitCode);
}

void ReportCheckpoints(Service& service) {
  std::unique_lock lock(service.mutex);
  while (!service.changed.wait_for(lock, kCheckpointEvery, [&] { return service.ending; }))
    Report(service, SERVICE_STOP_PENDING);
}

// A line of the keeper's own in console.txt, among the sampler's.
__attribute__((format(printf, 2, 3))) void Note(HANDLE console, const char* format, ...) {
  char line[512];
  const int prefix = std::snprintf(line, sizeof line, "zolsampler service: ");
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(line + prefix, sizeof line - prefix - 2, format, args);
  va_end(args);
  if (length < 0) return;
  size_t end = std::min(static_cast<size_t>(prefix + length), sizeof line - 3);
  line[end++] = '\r';
  line[end++] = '\n';
  DWORD written = 0;
  ::WriteFile(console, line, static_cast<DWORD>(end), &written, nullptr);
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
  std::lock_guard lock(service.mutex);
  if (service.stopAsked) return NO_ERROR;
  service.stopAsked = true;
  Report(service, SERVICE_STOP_PENDING);
  service.checkpoints = std::thread(ReportCheckpoints, std::ref(service));
  ::SetEvent(service.stopEvent.Get());
  service.changed.notify_all();
  return NO_ERROR;
}

// Ends the checkpoints and reports the end.
void ReportStopped(Service& service, DWORD specificExitCode) {
  std::thread checkpoints;
  {
    std::lock_guard lock(service.mutex);
    service.ending = true;
    checkpoints = std::move(service.checkpoints);
  }
  service.changed.notify_all();
  if (checkpoints.joinable()) checkpoints.join();
  ReportLocked(service, SERVICE_STOPPED, specificExitCode);
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

SECURITY_ATTRIBUTES Inheritable() {
  return SECURITY_ATTRIBUTES{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
}

// console.txt, appended to by every write, never overwritten; the sampler
// inherits it as its standard output and error.
UniqueHandle OpenConsoleFile() {
  SECURITY_ATTRIBUTES attributes = Inheritable();
  return UniqueHandle(::CreateFileW(kConsoleFile, FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The variables of the service key's Environment value (REG_MULTI_SZ,
// NAME=value each), where the manager has not set them already: not every
// host's manager passes them on. The sampler inherits them.
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

// The service's control pipe, for its sampler to inherit.
void SetControlPipe(const wchar_t* name) {
  if (::_wgetenv(L"ZOLSAMPLER_CONTROL") != nullptr) return;
  const std::wstring pipe = std::wstring(L"\\\\.\\pipe\\zolsampler-") + name;
  ::_wputenv_s(L"ZOLSAMPLER_CONTROL", pipe.c_str());
}

struct CloseServiceHandleOf {
  void operator()(SC_HANDLE handle) const { ::CloseServiceHandle(handle); }
};
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, CloseServiceHandleOf>;

// Restart after a failure of the keeper itself, unless the service has
// recovery actions already (sc failure). Best effort: the service runs
// without it.
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

// ZOLSAMPLER_RESTART_DELAY in seconds, the default when unset; false for a
// value that is no count in range.
bool ReadRestartDelay(int* seconds) {
  const char* text = std::getenv(kRestartDelayVariable);
  *seconds = kDefaultRestartSeconds;
  return text == nullptr || ParseSettingCount(text, kMostRestartSeconds, seconds);
}

// Should this process fail, its sampler ends with it: the service started
// again must not meet the old sampler on its ports. What the sampler starts
// (the alarm command) stays out of it.
UniqueHandle MakeSamplerJob() {
  UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
  if (!job.Valid()) return UniqueHandle();
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
  if (!::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits))
    return UniqueHandle();
  return job;
}

// The same program and command line as the sampler, with the console file
// for its output, nothing for its input, and the stop event's value in its
// environment; null (GetLastError says why) when it cannot be started.
UniqueHandle StartSampler(Service& service) {
  wchar_t program[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, program, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return UniqueHandle();
  SECURITY_ATTRIBUTES attributes = Inheritable();
  const UniqueHandle none(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        &attributes, OPEN_EXISTING, 0, nullptr));
  if (!none.Valid()) return UniqueHandle();
  char event[48];
  std::snprintf(
      event, sizeof event, "%llu,%llu",
      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(service.stopEvent.Get())),
      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(service.orderlyEvent.Get())));
  ::ResetEvent(service.orderlyEvent.Get());
  if (!::SetEnvironmentVariableA(kStopEventVariable, event)) return UniqueHandle();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = none.Get();
  startup.hStdOutput = service.console;
  startup.hStdError = service.console;
  std::wstring commandLine = ::GetCommandLineW();
  PROCESS_INFORMATION started{};
  // Suspended until it is in the job, so nothing it starts escapes.
  const BOOL created =
      ::CreateProcessW(program, commandLine.data(), nullptr, nullptr, TRUE,
                       DETACHED_PROCESS | CREATE_SUSPENDED, nullptr, nullptr, &startup, &started);
  const DWORD error = ::GetLastError();
  ::SetEnvironmentVariableA(kStopEventVariable, nullptr);
  if (!created) {
    ::SetLastError(error);
    return UniqueHandle();
  }
  if (service.job.Valid()) ::AssignProcessToJobObject(service.job.Get(), started.hProcess);
  ::ResumeThread(started.hThread);
  ::CloseHandle(started.hThread);
  Note(service.console, "sampler started, process %lu", started.dwProcessId);
  return UniqueHandle(started.hProcess);
}

bool StopAsked(Service& service) {
  std::lock_guard lock(service.mutex);
  return service.stopAsked;
}

// Waits out the delay before a restart; true when a stop came meanwhile.
bool StopDuringDelay(Service& service, int seconds) {
  std::unique_lock lock(service.mutex);
  return service.changed.wait_for(lock, std::chrono::seconds(seconds),
                                  [&] { return service.stopAsked; });
}

// Runs the sampler until a stop is asked for, starting it again after each
// end nobody asked for.
void KeepSamplerRunning(Service& service, int restartSeconds) {
  for (;;) {
    if (const UniqueHandle sampler = StartSampler(service); sampler.Valid()) {
      ::WaitForSingleObject(sampler.Get(), INFINITE);
      DWORD exitCode = 0;
      if (!::GetExitCodeProcess(sampler.Get(), &exitCode)) exitCode = kFailureExitCode;
      Note(service.console, "sampler ended with status %lu", exitCode);
      const bool orderly = ::WaitForSingleObject(service.orderlyEvent.Get(), 0) == WAIT_OBJECT_0;
      if (exitCode == 0 && orderly && !StopAsked(service)) {
        Note(service.console, "the sampler stopped in order: the service stops");
        return;
      }
    } else {
      Note(service.console, "ERROR Starting the sampler: error %lu", ::GetLastError());
    }
    if (StopAsked(service)) return;
    Note(service.console, "not asked to stop: sampler restarts in %d s", restartSeconds);
    if (StopDuringDelay(service, restartSeconds)) return;
  }
}

// The manager starts every service process itself. Asking the dispatcher
// is not enough: some hosts make it wait seconds before it fails a process
// the manager did not start.
bool StartedByServiceManager() {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return true;
  const UniqueHandle closer(snapshot);
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
  ReportLocked(service, SERVICE_START_PENDING);
  UniqueHandle console = EnterWorkingDirectory(name) ? OpenConsoleFile() : UniqueHandle();
  SECURITY_ATTRIBUTES attributes = Inheritable();
  service.stopEvent = UniqueHandle(::CreateEventW(&attributes, TRUE, FALSE, nullptr));
  service.orderlyEvent = UniqueHandle(::CreateEventW(&attributes, TRUE, FALSE, nullptr));
  if (!console.Valid() || !service.stopEvent.Valid() || !service.orderlyEvent.Valid()) {
    ReportLocked(service, SERVICE_STOPPED, kFailureExitCode);
    return;
  }
  service.console = console.Get();
  service.job = MakeSamplerJob();
  TakeServiceEnvironment(name);
  SetControlPipe(name);
  SetRestartOnFailure(name);
  int restartSeconds = 0;
  if (!ReadRestartDelay(&restartSeconds)) {
    Note(service.console, "%s: '%s' is not a count of seconds (0 to %d)", kRestartDelayVariable,
         std::getenv(kRestartDelayVariable), kMostRestartSeconds);
    ReportLocked(service, SERVICE_STOPPED, kFailureExitCode);
    return;
  }
  ReportLocked(service, SERVICE_RUNNING);
  KeepSamplerRunning(service, restartSeconds);
  ReportStopped(service, 0);
}

// The sampler of a service: the keeper's stop event asks for the orderly
// stop, as CTRL+Z would. Its output is a file: unbuffered, so that every
// line is in console.txt when it is written.
int RunServiceSampler(const char* events, int argc, char** argv, int (*program)(int, char**)) {
  char* rest = nullptr;
  const auto event =
      reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(events, &rest, 10)));
  if (*rest == ',')
    g_orderlyEvent =
        reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(rest + 1, nullptr, 10)));
  ::_putenv((std::string(kStopEventVariable) + "=").c_str());  // not for the alarm command
  g_asService.store(true);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  std::thread([event] {
    if (::WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0) HandleSignal(SIGTERM);
  }).detach();
  return program(argc, argv);
}

}  // namespace

int RunAsServiceOrOnConsole(int argc, char** argv, int (*program)(int, char**)) {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): start-up, before any thread runs
  if (const char* stopEvent = std::getenv(kStopEventVariable))
    return RunServiceSampler(stopEvent, argc, argv, program);
  g_service = new Service;
  wchar_t anyName[] = L"";  // an own-process service's name is not looked at
  const SERVICE_TABLE_ENTRYW table[] = {{anyName, ServiceMain}, {nullptr, nullptr}};
  if (!StartedByServiceManager() || !::StartServiceCtrlDispatcherW(table)) {
    // ERROR_FAILED_SERVICE_CONTROLLER_CONNECT: not started as a service.
    return program(argc, argv);
  }
  // The dispatcher returns once the service has stopped.
  std::lock_guard lock(g_service->mutex);
  return static_cast<int>(g_service->status.dwServiceSpecificExitCode);
}

bool RunningAsService() {
  return g_asService.load();
}

void TellKeeperStoppingInOrder() {
  if (g_orderlyEvent != nullptr) ::SetEvent(g_orderlyEvent);
}

}  // namespace zol
