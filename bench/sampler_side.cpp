// Compiled twice (bench/CMakeLists.txt): once over the sampler's own build,
// once over the reference build, whose namespace `zol` is renamed. The macro
// ZOLBENCH_SIDE names the function that gives this side's table.
#include "sampler_side.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>

#include "app/cycle_lock.h"
#include "app/interactive.h"
#include "app/sample_cycle.h"
#include "app/sampler_state.h"
#include "app/sampling_thread.h"
#include "app/schedule.h"
#include "app/stop_event.h"
#include "base/clock.h"
#include "base/console_out.h"
#include "console/keys.h"
#include "link/ctd_link.h"
#include "link/line_primitives.h"
#include "link/posix/termios_serial.h"
#include "link/serial_service.h"
#include "link/zol_protocol.h"
#include "uart_timed_serial.h"

namespace bench {
namespace {

constexpr int kQueueSize = 1024;
constexpr int kPromptSeconds = 2;
// Characters a prompt ("S>") may take before its '>'.
constexpr int kPromptChars = 8;

// Keys from a descriptor, as a terminal gives them.
class LineKeys final : public zol::KeySource {
 public:
  void Use(KeyLine line) { line_ = line; }

  int GetKey() override {
    if (line_.fd < 0) return zol::kNoKey;
    pollfd ready{line_.fd, POLLIN, 0};
    while (::poll(&ready, 1, -1) < 0 && errno == EINTR) {
    }
    unsigned char key = 0;
    return ::read(line_.fd, &key, 1) == 1 ? key : zol::kNoKey;
  }
  bool KeyWaiting() override { return line_.waiting != nullptr && line_.waiting->load() != 0; }
  void InterruptKeyWait() override {}

 private:
  KeyLine line_;
};

// The system's clocks with the protocols' pauses shortened; 1 ms pauses
// (the reference's polling) keep their length.
class ShortPauseClock final : public zol::Clock {
 public:
  void SetDivisor(int divisor) { divisor_ = std::max(divisor, 1); }
  int64_t WallSeconds() override { return zol::SystemClock().WallSeconds(); }
  int64_t MonotonicMs() override { return zol::SystemClock().MonotonicMs(); }
  void SleepMs(int ms) override {
    zol::SystemClock().SleepMs(ms <= 1 ? ms : std::max(1, ms / divisor_));
  }

 private:
  int divisor_ = 1;
};

LineKeys& Keys() {
  static LineKeys keys;
  return keys;
}

ShortPauseClock& PauseClock() {
  static ShortPauseClock clock;
  return clock;
}

void Install(std::FILE* console, KeyLine keys) {
  static const std::unique_ptr<zol::SerialService> service =
      std::make_unique<zol::UartTimedSerial>(zol::NewTermiosSerial());
  zol::InstallSerialService(service.get());
  // The defaults start-up sets: DTR and RTS up, 8N1.
  zol::SerialOpen(zol::kSerialDefaultsPort, 1, 1);
  zol::SerialSetParams(zol::kSerialDefaultsPort, 0, 0, 8);
  zol::SetConsoleStream(console);
  Keys().Use(keys);
  zol::InstallKeySource(&Keys());
}

void SetPauseDivisor(int divisor) {
  PauseClock().SetDivisor(divisor);
  zol::InstallClock(divisor > 1 ? &PauseClock() : nullptr);
}

int OpenPort(int port, int baud) {
  const int opened = zol::SerialOpen(port, kQueueSize, kQueueSize);
  if (opened < 0) return opened;
  const int speed = zol::SerialSetBaud(port, baud);
  if (speed < 0) zol::SerialClose(port);
  return std::min(speed, 0);
}

void ClosePort(int port) {
  zol::SerialClose(port);
}

int GetCtdDat(int port) {
  char reply[1024];
  return zol::GetCtdDat(port, reply, sizeof reply);
}

bool PokeForPrompt(int port) {
  zol::SerialPutc(port, '\r');
  for (int taken = 0; taken < kPromptChars; ++taken) {
    const int c = zol::GetcTimed(port, kPromptSeconds) & 0xFF;
    if (c == '>') return true;
    if (c == 0) return false;
  }
  return false;
}

int GetcTimed(int port, int seconds) {
  return zol::GetcTimed(port, static_cast<uint16_t>(seconds));
}

constexpr uint16_t kSerialNumber = 42;
constexpr uint16_t kKirnMode = 1;

void PathIn(char (&path)[zol::kPathSize], const char* directory, const char* name) {
  std::snprintf(path, sizeof path, "%s/%s", directory, name);
}

// The settings start-up leaves: KIRN, a period of one minute, no alignment.
void SetUpCycles(const CycleSetup& setup) {
  zol::ResetState();
  zol::SamplerState& state = zol::State();
  state.zolPort = kZolPort;
  state.zolBaud = 9600;
  state.ctdPort = setup.ctdPort;
  state.ctdBaud = setup.ctdPort == kNoCtd ? -1 : 9600;
  state.serialNumber = kSerialNumber;
  state.sampleRate = 1;
  state.sampleMode = kKirnMode;
  state.solutionTemp = 20.0f;
  state.solutionSal = 35.0f;
  state.pumpSample = setup.pumpSample ? 1 : 0;
  state.syncMinute = -1;
  PathIn(state.logPath, setup.directory, "bench.log");
  PathIn(state.datPath, setup.directory, "bench.dat");
  PathIn(state.dat2Path, setup.directory, "bench2.dat");
}

void RunCycle() {
  std::lock_guard lock(zol::TheCycleLock());
  zol::SamplerState& state = zol::State();
  state.nowTime = zol::WallNow();
  state.nextSampleTime = state.nowTime + zol::PeriodSeconds(state.sampleRate);
  zol::SampleCycle();
}

void StartSampling() {
  zol::State().stopEvent = std::make_shared<zol::AutoResetEvent>();
  zol::StartSamplingThread();
}

void AwaitCycleEnd() {
  std::lock_guard lock(zol::TheCycleLock());
}

unsigned long StopSampling() {
  zol::State().stopEvent->Set();
  return zol::JoinSamplingThread();
}

void PassThrough() {
  zol::State().zolPort = kZolPort;
  zol::InteractiveMode();
}

}  // namespace

const SamplerSide& ZOLBENCH_SIDE() {
  static const SamplerSide side{
      .name = ZOLBENCH_SIDE_NAME,
      .install = Install,
      .setPauseDivisor = SetPauseDivisor,
      .openPort = OpenPort,
      .closePort = ClosePort,
      .takeSample = zol::TakeSample,
      .getCtdDat = GetCtdDat,
      .wakeCtd = zol::WakeCtd,
      .wakeZol = zol::WakeZol,
      .zolSleep = zol::ZolSleep,
      .pokeForPrompt = PokeForPrompt,
      .getcTimed = GetcTimed,
      .setUpCycles = SetUpCycles,
      .runCycle = RunCycle,
      .startSampling = StartSampling,
      .awaitCycleEnd = AwaitCycleEnd,
      .stopSampling = StopSampling,
      .passThrough = PassThrough,
  };
  return side;
}

}  // namespace bench
