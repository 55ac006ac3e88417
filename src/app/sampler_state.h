// The one process-wide record of settings and run-time state, and the mode
// names. Start-up writes the settings before the sampling thread
// exists; afterwards they are only read. The run-time fields belong to the
// one sample cycle (or pass-through terminal) that holds the cycle lock.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <thread>

#include "files/data_files.h"
#include "files/line_file.h"

namespace zol {

class AutoResetEvent;

// Indexed by sampleMode.
inline constexpr const char* ModeNames[] = {"NULL", "KIRN", "PADO"};
inline constexpr int kModeCount = 3;
// The sensor kind's name; an unknown mode is "NULL".
inline const char* ModeName(uint16_t mode) {
  return mode < kModeCount ? ModeNames[mode] : ModeNames[0];
}

inline constexpr int kReplyBufferSize = 1024;

// The CTD port of a run without a CTD (-p -1).
inline constexpr int32_t kNoCtdPort = -1;

struct SamplerState {
  // Settings.
  int32_t zolPort = 0;
  int32_t zolBaud = 0;
  int32_t ctdPort = 0;
  int32_t ctdBaud = 0;
  uint16_t serialNumber = 0;
  uint16_t sampleRate = 0;
  uint16_t sampleMode = 0;
  float solutionTemp = 0.0f;
  float solutionSal = 0.0f;
  uint16_t pumpSample = 0;
  int32_t syncMinute = 0;

  bool HasCtd() const { return ctdPort != kNoCtdPort; }

  // Run-time fields.
  uint32_t sampleCount = 0;
  int64_t nowTime = 0;
  int64_t nextSampleTime = 0;
  int64_t ctdTime = 0;
  float ctdPressure = 0.0f;
  float ctdTemp = 0.0f;
  float ctdSal = 0.0f;
  char replyBuffer[kReplyBufferSize] = {};
  char logPath[kPathSize] = {};
  char datPath[kPathSize] = {};
  char dat2Path[kPathSize] = {};
  std::unique_ptr<LineFile> logFile;
  std::unique_ptr<LineFile> datFile;
  std::unique_ptr<LineFile> dat2File;
  std::shared_ptr<AutoResetEvent> stopEvent;
  std::thread samplingThread;
};

// The process-wide record, for start-up (which writes the settings) and for
// the holder of the cycle lock (which owns the run-time fields).
SamplerState& State();
// The same record, read-only: how everything after start-up reads the
// settings, so that a write to them does not compile there.
inline const SamplerState& Settings() {
  return State();
}
// Back to program start: every field zero, no files, no event. For tests;
// the thread must not be running.
void ResetState();

// The speed that -B and -b accept as `text`, written exactly as "0" or one of
// the serial table's speeds; -1 for any other text.
int FindBaudRate(const char* text);

}  // namespace zol
