#include "app/sampling_thread.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "app/cycle_lock.h"
#include "app/sample_cycle.h"
#include "app/sampler_state.h"
#include "app/sampler_status.h"
#include "app/schedule.h"
#include "app/service_watch.h"
#include "app/stop_event.h"
#include "base/clock.h"
#include "base/console_out.h"
#include "base/local_time.h"

namespace zol {
namespace {

std::atomic<unsigned long> g_exitCode{0};

// Sets up the first wait; gives its length in milliseconds.
int64_t PrepareFirstWait(const int32_t* syncMinute) {
  SamplerState& s = State();
  std::lock_guard lock(TheCycleLock());
  if (syncMinute == nullptr || *syncMinute == -1) {
    // A cycle forced before the first one shows this as its next sample.
    s.nextSampleTime = WallNow();
    NoteNextSample(s.nextSampleTime);
    return kFirstWaitMs;
  }
  s.nowTime = WallNow();
  const int32_t waitMs = AlignmentWaitMs(s.nowTime, *syncMinute);
  s.nextSampleTime = s.nowTime + waitMs / 1000;
  NoteNextSample(s.nextSampleTime);
  ConsolePrintf("\nSample Thread Sync Time, %s\n", FormatCtime(s.nextSampleTime).text);
  return waitMs;
}

// Runs one scheduled cycle; gives the wait until the next one.
int64_t RunScheduledCycle() {
  SamplerState& s = State();
  std::lock_guard lock(TheCycleLock());
  s.nowTime = WallNow();
  s.nextSampleTime = s.nowTime + PeriodSeconds(s.sampleRate);
  ScheduledCycleBegins();
  const CycleOutcome outcome = SampleCycle();
  ScheduledCycleEnded(s.sampleCount, outcome, s.nextSampleTime);
  NoteCycleEnded();
  s.nowTime = WallNow();
  return WaitAfterCycleMs(s.nextSampleTime, s.nowTime, s.sampleRate);
}

// The schedule from the first wait on, until the stop event is seen.
unsigned long RunSchedule(const std::shared_ptr<AutoResetEvent>& stopEvent, int64_t firstWaitMs) {
  int64_t waitMs = firstWaitMs;
  while (!stopEvent->WaitFor(waitMs)) {
    waitMs = RunScheduledCycle();
  }
  return kSampleThreadExitCode;
}

}  // namespace

unsigned long SampleThread(const int32_t* syncMinute) {
  // Our own reference: the stop sequence drops the state's after the join.
  const std::shared_ptr<AutoResetEvent> stopEvent = State().stopEvent;
  return RunSchedule(stopEvent, PrepareFirstWait(syncMinute));
}

void StartSamplingThread() {
  SamplerState& s = State();
  g_exitCode.store(0);
  // Zeroed before the thread exists: a CTRL+F typed ahead may run its
  // cycle before the thread's first step, and its number must not return.
  s.sampleCount = 0;
  // Likewise the next sample time, aligned or not: a forced cycle shows it.
  const int64_t firstWaitMs = PrepareFirstWait(&s.syncMinute);
  s.samplingThread = std::thread([stopEvent = s.stopEvent, firstWaitMs] {
    g_exitCode.store(RunSchedule(stopEvent, firstWaitMs));
  });
}

unsigned long JoinSamplingThread() {
  SamplerState& s = State();
  if (!s.samplingThread.joinable()) return 0;
  s.samplingThread.join();
  return g_exitCode.load();
}

}  // namespace zol
