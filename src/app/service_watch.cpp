#include "app/service_watch.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/sampler_state.h"
#include "app/sampler_status.h"
#include "app/service_platform.h"
#include "base/clock.h"
#include "base/local_time.h"

namespace zol {
namespace {

constexpr int kDefaultAlarmAfter = 3;
constexpr int kMostAlarmAfter = 100000;

// Feeds the service manager's watchdog every half interval while the
// sampler is healthy; stopped and joined when dropped.
class WatchdogFeeder {
 public:
  explicit WatchdogFeeder(int64_t intervalMs)
      : intervalMs_(intervalMs), thread_([this] { Run(); }) {}
  ~WatchdogFeeder() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  WatchdogFeeder(const WatchdogFeeder&) = delete;
  WatchdogFeeder& operator=(const WatchdogFeeder&) = delete;

 private:
  void Run();

  const int64_t intervalMs_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;  // last: starts once the rest exists
};

struct ServiceWatch {
  int alarmAfter = 0;
  std::string alarmCommand;
  int64_t watchdogMs = 0;  // 0: no watchdog
  NoRecordAlarm alarm{0};
  bool commandFailureShown = false;
};

ServiceWatch g_watch;
// -1 while the sampling thread waits for its next sample time.
std::atomic<int64_t> g_cycleStartMs{-1};
std::unique_ptr<WatchdogFeeder> g_feeder;

void WatchdogFeeder::Run() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    const int64_t deadline = MonotonicNowMs() + intervalMs_ / 2;
    for (int64_t now = MonotonicNowMs(); !stop_ && now < deadline; now = MonotonicNowMs())
      CurrentClock().WaitOn(wake_, lock, deadline - now);
    if (!stop_ && WatchdogHealthy(g_cycleStartMs.load(), MonotonicNowMs()))
      NotifyServiceManager("WATCHDOG=1");
  }
}

void ShowCommandFailure(const std::string& reason) {
  if (g_watch.commandFailureShown) return;
  g_watch.commandFailureShown = true;
  std::fprintf(stderr, "%szolsampler: ZOLSAMPLER_ALARM_COMMAND %s\n",
               StandardErrorIsJournal() ? "<4>" : "", reason.c_str());
  std::fflush(stderr);
}

void CollectCommands() {
  std::vector<std::string> failures;
  ReapAlarmCommands(&failures);
  if (!failures.empty()) ShowCommandFailure(failures.front());
}

// One line on standard error and, when there is one, the alarm command.
void Announce(const char* kind, const char* priority, const std::string& reason, uint32_t cycle,
              int missed) {
  std::fprintf(stderr, "%szolsampler: %s\n", StandardErrorIsJournal() ? priority : "",
               reason.c_str());
  std::fflush(stderr);
  if (g_watch.alarmCommand.empty()) return;
  const SamplerState& s = State();
  char serial[8];
  std::snprintf(serial, sizeof serial, "%04u", static_cast<unsigned>(s.serialNumber));
  const std::vector<std::string> environment = {std::string("ZOLSAMPLER_ALARM=") + kind,
                                                "ZOLSAMPLER_ALARM_REASON=" + reason,
                                                "ZOLSAMPLER_ALARM_CYCLE=" + std::to_string(cycle),
                                                "ZOLSAMPLER_ALARM_MISSED=" + std::to_string(missed),
                                                std::string("ZOLSAMPLER_ALARM_SERIAL=") + serial,
                                                std::string("ZOLSAMPLER_ALARM_DATA=") + s.datPath,
                                                std::string("ZOLSAMPLER_ALARM_LOG=") + s.logPath};
  std::string error;
  if (!StartAlarmCommand(g_watch.alarmCommand, environment, &error)) ShowCommandFailure(error);
}

}  // namespace

NoRecordAlarm::Change NoRecordAlarm::Count(bool stored) {
  if (stored) {
    missed_ = 0;
    if (!raised_) return Change::kNone;
    raised_ = false;
    return Change::kRecovered;
  }
  ++missed_;
  if (after_ == 0 || raised_ || missed_ < after_) return Change::kNone;
  raised_ = true;
  return Change::kRaised;
}

bool ParseSettingCount(const char* text, int most, int* count) {
  if (text[0] == '\0') return false;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  errno = 0;
  const long value = std::strtol(text, nullptr, 10);
  if (errno != 0 || value > most) return false;
  *count = static_cast<int>(value);
  return true;
}

void LoadServiceSettings() {
  ServiceWatch& w = g_watch;
  const char* after = std::getenv("ZOLSAMPLER_ALARM_AFTER");
  if (after != nullptr) {
    if (!ParseSettingCount(after, kMostAlarmAfter, &w.alarmAfter)) {
      std::fprintf(stderr,
                   "zolsampler: ZOLSAMPLER_ALARM_AFTER: '%s' is not a count of cycles "
                   "(0 to %d; 0 turns the alarm off)\n",
                   after, kMostAlarmAfter);
      // NOLINTNEXTLINE(concurrency-mt-unsafe): start-up, before any thread runs
      std::exit(1);
    }
  } else {
    // Unattended (no terminal: a service, a script) the alarm is on; an
    // attended console stays as it always was.
    w.alarmAfter = KeyboardIsTerminal() ? 0 : kDefaultAlarmAfter;
  }
  const char* command = std::getenv("ZOLSAMPLER_ALARM_COMMAND");
  w.alarmCommand = command == nullptr ? "" : command;
  w.alarm = NoRecordAlarm(w.alarmAfter);
  w.watchdogMs = ServiceWatchdogMs();
}

void ServiceReady() {
  NotifyServiceManager("READY=1");
  if (g_watch.watchdogMs > 0 && g_feeder == nullptr) {
    NotifyServiceManager("WATCHDOG=1");
    g_feeder = std::make_unique<WatchdogFeeder>(g_watch.watchdogMs);
  }
}

void ScheduledCycleBegins() {
  g_cycleStartMs.store(MonotonicNowMs());
}

void ScheduledCycleEnded(uint32_t cycle, const CycleOutcome& outcome, int64_t nextSampleTime) {
  g_cycleStartMs.store(-1);
  CollectCommands();
  NoRecordAlarm& alarm = g_watch.alarm;
  const int missedBefore = alarm.Missed();
  const NoRecordAlarm::Change change = alarm.Count(outcome.recordsStored > 0);
  if (change == NoRecordAlarm::Change::kRaised) {
    char reason[160];
    std::snprintf(reason, sizeof reason,
                  "ALARM: no record stored in %d scheduled cycles in a row (cycle %u: %s)",
                  alarm.Missed(), cycle,
                  outcome.firstError.empty() ? "no record" : outcome.firstError.c_str());
    Announce("no-records", "<4>", reason, cycle, alarm.Missed());
  } else if (change == NoRecordAlarm::Change::kRecovered) {
    char reason[160];
    std::snprintf(reason, sizeof reason,
                  "recovered: cycle %u stored a record after %d cycles without one", cycle,
                  missedBefore);
    Announce("recovered", "<5>", reason, cycle, 0);
  }
  NoteNoRecordCount(alarm.Missed(), alarm.Raised());
  NotifyServiceManager("STATUS=" +
                       CycleStatus(cycle, outcome, alarm.Missed(), nextSampleTime, alarm.Raised()));
}

void ServiceStopping() {
  NotifyServiceManager("STOPPING=1");
  g_feeder.reset();
}

std::string CycleStatus(uint32_t cycle, const CycleOutcome& outcome, int missed,
                        int64_t nextSampleTime, bool alarmRaised) {
  char text[192];
  if (outcome.recordsStored > 0) {
    // "Wed Dec  9 16:10:27 2026": the time of day is at 11.
    const CtimeText next = FormatCtime(nextSampleTime);
    char records[32] = "record stored";
    if (outcome.recordsStored > 1)
      std::snprintf(records, sizeof records, "%d records stored", outcome.recordsStored);
    std::snprintf(text, sizeof text, "cycle %u: %s; next sample %.8s", cycle, records,
                  next.text + 11);
  } else {
    std::snprintf(text, sizeof text, "cycle %u: %s, %d cycle%s without a record%s", cycle,
                  outcome.firstError.empty() ? "no record" : outcome.firstError.c_str(), missed,
                  missed == 1 ? "" : "s", alarmRaised ? " (ALARM)" : "");
  }
  return text;
}

bool WatchdogHealthy(int64_t cycleStartMs, int64_t nowMs) {
  return cycleStartMs < 0 || nowMs - cycleStartMs <= kLongestCycleMs;
}

void ResetServiceWatch() {
  g_feeder.reset();
  g_watch = ServiceWatch();
  g_cycleStartMs.store(-1);
}

}  // namespace zol
