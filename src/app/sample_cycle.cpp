#include "app/sample_cycle.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/sampler_state.h"
#include "app/sampler_status.h"
#include "app/shore_setup.h"
#include "base/clock.h"
#include "base/console_out.h"
#include "base/errno_text.h"
#include "base/local_time.h"
#include "files/line_file.h"
#include "link/ctd_link.h"
#include "link/record_feed.h"
#include "link/zol_protocol.h"

namespace zol {
namespace {

// The pressure handed to the ZOL with the operator's values (no CTD).
constexpr float kNoCtdPressure = -5.0f;
// Room for a step with the whole reply buffer in it.
constexpr int kStepSize = kReplyBufferSize + 64;

unsigned long Counter() {
  return State().sampleCount;
}

// What the running cycle has achieved so far (the caller holds the cycle
// lock).
CycleOutcome g_outcome;

// "<count>, <step>, <local time>" on the console; the log gets `logStep`
// in its place, or nothing when `logStep` is null.
void WriteStepLine(const char* consoleStep, const char* logStep, int64_t stamp) {
  if (g_outcome.firstError.empty() && logStep != nullptr &&
      std::strstr(logStep, " ERROR") != nullptr)
    g_outcome.firstError = logStep;
  const CtimeText time = FormatCtime(stamp);
  ConsolePrintf("%03lu, %s, %s", Counter(), consoleStep, time.text);
  LineFile* log = State().logFile.get();
  if (logStep == nullptr || log == nullptr) return;
  // A line file: the line is in the file, whole, when this returns.
  log->Printf("%03lu, %s, %s", Counter(), logStep, time.text);
}

// A console-only step line stamped with the clock read now.
void ShowStep(const char* step) {
  State().nowTime = WallNow();
  WriteStepLine(step, nullptr, State().nowTime);
}

void LogResult(bool ok, const char* okStep, const char* errorStep) {
  LogStep(ok ? okStep : errorStep);
}

// Closes the file; 0 when all of its lines reached the disk, else the
// errno of the first loss.
int CloseFile(std::unique_ptr<LineFile>& file) {
  if (file == nullptr) return 0;
  const int error = file->Close();
  file.reset();
  return error;
}

// Why this cycle's log could not be opened (errno), 0 when it was; held
// with the files under the cycle lock.
int logOpenError = 0;

void OpenCycleFiles() {
  SamplerState& s = State();
  s.logFile = LineFile::Open(s.logPath);
  logOpenError = s.logFile == nullptr ? (errno != 0 ? errno : EIO) : 0;
  s.datFile = LineFile::Open(s.datPath);
  if (s.pumpSample == 1 && s.HasCtd()) s.dat2File = LineFile::Open(s.dat2Path);
}

// Appends one record and closes the file, which syncs it to disk; false
// when it was not stored.
bool StoreRecord(std::unique_ptr<LineFile>& file, const char* record) {
  if (file == nullptr) return false;
  file->AppendLine(record);
  return CloseFile(file) == 0;
}

void WriteWakingLine() {
  char step[32];
  std::snprintf(step, sizeof step, "Waking ZOL %04d", Settings().serialNumber);
  WriteStepLine(step, "Waking ZOL", State().nowTime);
}

bool WakeZolForCycle() {
  const SamplerState& s = Settings();
  const bool knownMode = s.sampleMode == 1 || s.sampleMode == 2;
  const bool awake = knownMode && WakeZolMode(s.zolPort, s.sampleMode) == kReplyOk;
  LogResult(awake, "ZOL Wakeup OK", "ZOL Wakeup ERROR");
  return awake;
}

void SendOperatorValues() {
  const SamplerState& s = State();
  const bool taken =
      SendCtdDat(s.zolPort, s.nowTime, s.solutionTemp, s.solutionSal, kNoCtdPressure) == kReplyOk;
  LogResult(taken, "Send UserTempSal OK", "Send UserTempSal ERROR");
}

// True when the reply held pressure, temperature and salinity.
bool ParseCtdReply(int replyResult) {
  SamplerState& s = State();
  const int parsed =
      ParseCtdDat(s.replyBuffer, &s.ctdTime, &s.ctdTemp, &s.ctdSal, &s.ctdPressure, replyResult);
  s.nowTime = WallNow();
  char step[kStepSize];
  if (parsed != kReplyOk) {
    std::snprintf(step, sizeof step, "ParseCtdDat ERROR, rbuf= %s", s.replyBuffer);
    WriteStepLine(step, "ParseCtdDat ERROR", s.nowTime);
    return false;
  }
  std::snprintf(step, sizeof step, "ParseCtdDat OK, %.3f, %.4f, %.4f", s.ctdPressure, s.ctdTemp,
                s.ctdSal);
  WriteStepLine(step, step, s.nowTime);
  return true;
}

void SendCtdValues() {
  SamplerState& s = State();
  ShowStep("Sampling CTD");
  const int replyResult = GetCtdDat(s.ctdPort, s.replyBuffer, kReplyBufferSize);
  if (replyResult != kReplyOk) {
    LogStep("Get  CtdDat ERROR");
    return;
  }
  LogStep("Get  CtdDat OK");
  if (!ParseCtdReply(replyResult)) return;
  const bool taken =
      SendCtdDat(s.zolPort, s.ctdTime, s.ctdTemp, s.ctdSal, s.ctdPressure) == kReplyOk;
  LogResult(taken, "Send CtdDat OK", "Send CtdDat ERROR");
}

// Announces and runs one measurement; true when the ZOL confirmed it.
bool Measure() {
  char step[32];
  std::snprintf(step, sizeof step, "Sampling %s", ModeName(Settings().sampleMode));
  ShowStep(step);
  return TakeSample(Settings().zolPort) == kReplyOk;
}

// Fetches the record, shows it, appends it to `file` (named `path`) and
// hands a copy to the live feed.
void FetchSample(std::unique_ptr<LineFile>& file, const char* path) {
  SamplerState& s = State();
  if (GetSample(s.zolPort, s.replyBuffer, kReplyBufferSize) != kReplyOk) {
    LogStep("Send Sample ERROR");
    return;
  }
  // Stored before it is acknowledged, so a record shown as fetched is on
  // disk even when the program dies right after.
  const bool stored = StoreRecord(file, s.replyBuffer);
  LogStep("Send Sample OK");
  if (stored) {
    ++g_outcome.recordsStored;
    NoteRecordStored(path, s.replyBuffer);
    // Synced and closed: the shore link may read it now.
    NudgeShoreLink();
  }
  ConsolePrintf("%03lu, %s\n", Counter(), s.replyBuffer);
  // A record that reached no file is reported, never lost silently.
  if (!stored) LogStep("Store Sample ERROR");
  FeedRecord(path, s.replyBuffer);
}

void PutZolToSleep() {
  LogResult(ZolSleep(Settings().zolPort) == kReplyOk, "Enter Sleep OK", "Enter Sleep ERROR");
}

// The first sample; true when the pump sample is to follow.
bool TakeFirstSample() {
  SamplerState& s = State();
  if (!Measure()) {
    LogStep("Take Sample ERROR");
    return s.pumpSample == 1;
  }
  LogStep("Take Sample OK");
  FetchSample(s.datFile, s.datPath);
  // With the pump sample the ZOL stays awake for the second one.
  if (s.pumpSample == 1) return true;
  PutZolToSleep();
  return false;
}

void TakePumpSample() {
  SamplerState& s = State();
  if (!s.HasCtd()) return;
  if (CtdPump(s.ctdPort, 1) != kReplyOk) {
    LogStep("CtdPump ON ERROR");
    return;
  }
  LogStep("CtdPump ON OK");
  if (Measure()) {
    LogStep("Take Sample OK");
    FetchSample(s.dat2File, s.dat2Path);
    PutZolToSleep();
  }
  LogResult(CtdPump(s.ctdPort, 0) == kReplyOk, "CtdPump OFF OK", "CtdPump OFF ERROR");
}

void EndCycle() {
  SamplerState& s = State();
  const CtimeText next = FormatCtime(s.nextSampleTime);
  ConsolePrintf("%03lu, Next Sample, %s\n", Counter(), next.text);
  if (s.logFile != nullptr) s.logFile->Printf("%03lu, Next Sample, %s\n", Counter(), next.text);
  // Lines the log lost are on the console; the operator learns the log is
  // incomplete.
  if (logOpenError != 0) {
    ConsolePrintf("ERROR Opening Log File %s: %s\n", s.logPath, ErrnoText(logOpenError).c_str());
  } else if (const int lost = CloseFile(s.logFile); lost != 0) {
    ConsolePrintf("ERROR Writing Log File %s: %s\n", s.logPath, ErrnoText(lost).c_str());
  }
  CloseFile(s.datFile);
  CloseFile(s.dat2File);
}

}  // namespace

void LogStep(const char* step) {
  State().nowTime = WallNow();
  WriteStepLine(step, step, State().nowTime);
}

CycleOutcome SampleCycle() {
  SamplerState& s = State();
  g_outcome = CycleOutcome();
  OpenCycleFiles();
  ++s.sampleCount;
  NoteCycleBegins(s.sampleCount, s.nextSampleTime);
  WriteWakingLine();
  if (WakeZolForCycle()) {
    if (s.HasCtd()) {
      SendCtdValues();
    } else {
      SendOperatorValues();
    }
    if (TakeFirstSample()) TakePumpSample();
  }
  EndCycle();
  return g_outcome;
}

}  // namespace zol
