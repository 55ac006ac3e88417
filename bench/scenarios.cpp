#include "scenarios.h"

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "child_process.h"
#include "measure.h"
#include "peers.h"

namespace bench {
namespace {

constexpr int kInstrumentBaud = 9600;
constexpr int kTerminalBaud = 115200;
constexpr int kPeerEndMs = 5000;
// A sampling thread's first cycle starts 5 ms after the thread.
constexpr int kFirstCycleStartMs = 200;
constexpr unsigned long kSampleThreadExitCode = 707;

// Instruments that answer quickly: the cycle then costs what the sampler
// itself does.
constexpr ZolBehaviour kBriskZol{.answers = true, .measureMs = 200};
constexpr CtdBehaviour kBriskCtd{.answersPoke = true, .dataMs = 50};

std::FILE* NullConsole() {
  static std::FILE* const console = std::fopen("/dev/null", "w");
  return console;
}

void UseDevice(int port, const std::string& path) {
  const std::string name = "ZOLSAMPLER_COM" + std::to_string(port + 1);
  ::setenv(name.c_str(), path.c_str(), 1);
}

// A directory for the log and data files, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/zolbench-XXXXXX";
    if (::mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = name;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

long CountLines(const std::string& path) {
  std::ifstream file(path);
  long lines = 0;
  for (std::string line; std::getline(file, line);)
    ++lines;
  return lines;
}

// The ZOL (and a CTD) on pseudo-terminals, played by a child process, with
// the side's ports open on them.
class InstrumentRig {
 public:
  InstrumentRig(const SamplerSide& side, const ZolBehaviour& zol,
                std::optional<CtdBehaviour> ctd = std::nullopt)
      : side_(side) {
    if (ctd) ctdLine_.emplace();
    peer_ = std::make_unique<ChildProcess>([&] {
      zolLine_.CloseSlave();
      if (ctdLine_) ctdLine_->CloseSlave();
      return RunInstruments(zolLine_.Master(), ctdLine_ ? ctdLine_->Master() : -1, kInstrumentBaud,
                            zol, ctd.value_or(CtdBehaviour{}), *record_);
    });
    zolLine_.CloseMaster();
    Open(kZolPort, zolLine_);
    if (ctdLine_) {
      ctdLine_->CloseMaster();
      Open(kCtdPort, *ctdLine_);
    }
  }

  ~InstrumentRig() {
    side_.closePort(kZolPort);
    if (ctdLine_) side_.closePort(kCtdPort);
    zolLine_.CloseSlave();
    if (ctdLine_) ctdLine_->CloseSlave();
    peer_->Finish(kPeerEndMs);
  }
  InstrumentRig(const InstrumentRig&) = delete;
  InstrumentRig& operator=(const InstrumentRig&) = delete;

  PeerRecord& Record() { return *record_; }

 private:
  void Open(int port, const PtyLine& line) {
    UseDevice(port, line.SlavePath());
    if (side_.openPort(port, kInstrumentBaud) != 0) {
      throw std::runtime_error("cannot open " + line.SlavePath());
    }
  }

  const SamplerSide& side_;
  PtyLine zolLine_;
  std::optional<PtyLine> ctdLine_;
  SharedBlock<PeerRecord> record_;
  std::unique_ptr<ChildProcess> peer_;
};

template <typename Call>
WaitFigure TimeWait(const char* what, int expected, Call call) {
  WaitFigure figure;
  figure.what = what;
  figure.expected = expected;
  CpuWindow window;
  figure.result = call();
  window.Stop();
  figure.wallMs = window.WallMs();
  figure.cpuMs = window.CpuMs();
  figure.corePercent = window.CorePercent();
  return figure;
}

WaitFigure TakeSampleWait(const SamplerSide& side, const Plan& plan) {
  InstrumentRig rig(side, ZolBehaviour{.answers = true, .measureMs = plan.takeSampleDoneMs});
  const bool silent = plan.takeSampleDoneMs < 0;
  const char* what = silent ? "TakeSample, measurement never confirmed (25 s limit)"
                            : "TakeSample, measurement confirmed late";
  return TimeWait(what, silent ? -2 : 1, [&] { return side.takeSample(kZolPort); });
}

WaitFigure CtdReplyWait(const SamplerSide& side, const Plan& plan) {
  InstrumentRig rig(side, ZolBehaviour{},
                    CtdBehaviour{.answersPoke = true, .dataMs = plan.ctdDataMs});
  const bool silent = plan.ctdDataMs < 0;
  const char* what = silent ? "GetCtdDat, no reply to pts (wake-up + 45 s limit)"
                            : "GetCtdDat, reply to pts late (wake-up + wait)";
  return TimeWait(what, silent ? -2 : 1, [&] { return side.getCtdDat(kCtdPort); });
}

WaitFigure SilentCtdWake(const SamplerSide& side) {
  InstrumentRig rig(side, ZolBehaviour{}, CtdBehaviour{.answersPoke = false, .dataMs = -1});
  return TimeWait("WakeCtd, CTD never prompts (10 x GetcTimed 2 s)", -2,
                  [&] { return side.wakeCtd(kCtdPort); });
}

WaitFigure IdleGetc(const SamplerSide& side, const Plan& plan) {
  InstrumentRig rig(side, ZolBehaviour{.answers = false, .measureMs = -1});
  const std::string what =
      "GetcTimed, nothing arrives (" + std::to_string(plan.getcIdleSeconds) + " s limit)";
  WaitFigure figure =
      TimeWait(what.c_str(), 0, [&] { return side.getcTimed(kZolPort, plan.getcIdleSeconds); });
  return figure;
}

template <typename Exchange>
ReactionFigure TimeReactions(const char* what, int exchanges, PeerRecord& record,
                             Exchange exchange) {
  ReactionFigure figure;
  figure.what = what;
  // The first exchange opens the line; the reactions count from its reply.
  figure.allAnswered = exchange();
  record.ClearReactions();
  CpuWindow window;
  for (int i = 0; i < exchanges; ++i)
    figure.allAnswered = exchange() && figure.allAnswered;
  window.Stop();
  figure.samples = std::min(record.samples.load(), kMaxLatencySamples);
  const std::vector<int64_t> samples(record.reactionNs, record.reactionNs + figure.samples);
  figure.p50Us = static_cast<double>(Percentile(samples, 50)) / 1e3;
  figure.p99Us = static_cast<double>(Percentile(samples, 99)) / 1e3;
  figure.maxUs = static_cast<double>(Percentile(samples, 100)) / 1e3;
  figure.cpuUsPerExchange = window.CpuMs() * 1e3 / exchanges;
  return figure;
}

}  // namespace

Plan FullPlan() {
  return Plan{};
}

Plan QuickPlan() {
  Plan plan;
  plan.name = "quick";
  plan.takeSampleDoneMs = 3000;
  plan.ctdDataMs = 3000;
  plan.silentCtdWake = false;
  plan.timedCycles = 1;
  plan.idleBetweenCyclesMs = 5000;
  plan.pacedBytes = 5 * kLineBytesPerSecond;
  plan.bulkBytes = 1'000'000;
  plan.memoryCycles = 200;
  plan.memoryCheckCycle = 50;
  return plan;
}

Plan CheckPlan() {
  Plan plan = QuickPlan();
  plan.name = "check";
  plan.takeSampleDoneMs = 2000;
  plan.ctdDataMs = 2000;
  plan.exchanges = 300;
  plan.timedCycles = 0;
  plan.idleBetweenCyclesMs = 0;
  plan.pacedBytes = kLineBytesPerSecond;
  plan.bulkBytes = 500'000;
  plan.memoryCycles = 0;
  return plan;
}

void QuietSide(const SamplerSide& side) {
  side.install(NullConsole(), KeyLine{});
  side.setPauseDivisor(1);
}

std::vector<WaitFigure> MeasureWaits(const SamplerSide& side, const Plan& plan) {
  std::vector<WaitFigure> figures;
  figures.push_back(TakeSampleWait(side, plan));
  figures.push_back(CtdReplyWait(side, plan));
  if (plan.silentCtdWake) figures.push_back(SilentCtdWake(side));
  figures.push_back(IdleGetc(side, plan));
  return figures;
}

std::vector<ReactionFigure> MeasureReactions(const SamplerSide& side, const Plan& plan) {
  std::vector<ReactionFigure> figures;
  {
    InstrumentRig rig(side, ZolBehaviour{});
    figures.push_back(TimeReactions("W -> ACK -> W (WakeZol: Putc, ReadLine)", plan.exchanges,
                                    rig.Record(), [&] { return side.wakeZol(kZolPort) == 1; }));
    figures.push_back(TimeReactions("SLP -> ACK,SLP -> SLP (ZolSleep: SendString, ReadLine)",
                                    plan.exchanges, rig.Record(),
                                    [&] { return side.zolSleep(kZolPort) == 1; }));
  }
  {
    InstrumentRig rig(side, ZolBehaviour{}, kBriskCtd);
    figures.push_back(TimeReactions("CR -> S> -> CR (CTD prompt: Putc, GetcTimed)", plan.exchanges,
                                    rig.Record(), [&] { return side.pokeForPrompt(kCtdPort); }));
  }
  return figures;
}

CycleFigure MeasureCycles(const SamplerSide& side, const Plan& plan) {
  CycleFigure figure;
  TempDir files;
  InstrumentRig rig(side, kBriskZol, kBriskCtd);
  side.setUpCycles(CycleSetup{kCtdPort, true, files.Path().c_str()});
  double cpuMs = 0;
  double wallMs = 0;
  for (int i = 0; i < plan.timedCycles; ++i) {
    CpuWindow window;
    side.runCycle();
    window.Stop();
    cpuMs += window.CpuMs();
    wallMs += window.WallMs();
  }
  figure.cycles = plan.timedCycles;
  figure.cpuMsPerCycle = plan.timedCycles > 0 ? cpuMs / plan.timedCycles : 0;
  figure.wallMsPerCycle = plan.timedCycles > 0 ? wallMs / plan.timedCycles : 0;
  figure.recordsStored = CountLines(files.Path() + "/bench.dat") == plan.timedCycles &&
                         CountLines(files.Path() + "/bench2.dat") == plan.timedCycles;
  if (plan.idleBetweenCyclesMs <= 0) return figure;

  // The sampling thread runs its first cycle at once, then waits a period.
  const int commandsBefore = rig.Record().commands.load();
  side.startSampling();
  std::this_thread::sleep_for(std::chrono::milliseconds(kFirstCycleStartMs));
  side.awaitCycleEnd();
  const bool cycleRan = rig.Record().commands.load() > commandsBefore;
  CpuWindow idle;
  std::this_thread::sleep_for(std::chrono::milliseconds(plan.idleBetweenCyclesMs));
  idle.Stop();
  figure.threadEnded = side.stopSampling() == kSampleThreadExitCode && cycleRan;
  figure.idleWallMs = idle.WallMs();
  figure.idleCpuMs = idle.CpuMs();
  figure.idleCorePercent = idle.CorePercent();
  return figure;
}

StreamFigure MeasurePassThrough(const SamplerSide& side, int64_t bytes, int64_t bytesPerSecond) {
  PtyLine zolLine;
  Pipe console;
  Pipe keys;
  SharedBlock<StreamRecord> record;
  const StreamPlan plan{bytes, bytesPerSecond};
  ChildProcess peer([&] {
    zolLine.CloseSlave();
    console.write.Reset();
    keys.read.Reset();
    return RunStream(zolLine.Master(), console.read.Get(), keys.write.Get(), plan, *record);
  });
  zolLine.CloseMaster();
  console.read.Reset();
  keys.write.Reset();

  std::FILE* screen = ::fdopen(::dup(console.write.Get()), "w");
  console.write.Reset();
  side.install(screen, KeyLine{keys.read.Get(), &record->keyWaiting});
  UseDevice(kZolPort, zolLine.SlavePath());
  StreamFigure figure;
  figure.bytes = bytes;
  figure.bytesPerSecond = bytesPerSecond;
  if (side.openPort(kZolPort, kTerminalBaud) == 0) {
    CpuWindow window;
    side.passThrough();
    window.Stop();
    side.closePort(kZolPort);
    figure.cpuMs = window.CpuMs();
  }
  QuietSide(side);
  std::fclose(screen);
  zolLine.CloseSlave();
  peer.Finish(kPeerEndMs);

  figure.verified = record->verified.load();
  figure.mismatchAt = record->mismatchAt.load();
  figure.intact = figure.mismatchAt < 0 && figure.verified == bytes;
  if (figure.intact) {
    figure.seconds =
        static_cast<double>(record->lastVerifiedNs.load() - record->firstSentNs.load()) / 1e9;
    figure.corePercent = figure.cpuMs / (figure.seconds * 1e3) * 100.0;
  }
  return figure;
}

int RunMemoryChild(const SamplerSide& side, int cycles, int checkCycle, int pauseDivisor) {
  QuietSide(side);
  side.setPauseDivisor(pauseDivisor);
  TempDir files;
  MemoryFigure figure;
  {
    InstrumentRig rig(side, ZolBehaviour{.answers = true, .measureMs = 20},
                      CtdBehaviour{.answersPoke = true, .dataMs = 10});
    side.setUpCycles(CycleSetup{kCtdPort, true, files.Path().c_str()});
    figure.startKib = ResidentKib();
    for (int cycle = 1; cycle <= cycles; ++cycle) {
      side.runCycle();
      if (cycle == checkCycle) figure.checkKib = ResidentKib();
    }
    figure.endKib = ResidentKib();
    figure.peakKib = PeakResidentKib();
    figure.maxRssKib = MaxRssKib();
  }
  figure.records = CountLines(files.Path() + "/bench.dat");
  std::printf("%d %d %ld %ld %ld %ld %ld %ld\n", cycles, checkCycle, figure.startKib,
              figure.checkKib, figure.endKib, figure.peakKib, figure.maxRssKib, figure.records);
  return 0;
}

MemoryPair MeasureMemory(const Plan& plan) {
  struct Run {
    const char* side;
    Pipe output;
    std::unique_ptr<ChildProcess> process;
    MemoryFigure figure;
  };
  Run runs[2] = {{"ours", {}, {}, {}}, {"reference", {}, {}, {}}};
  const std::string cycles = std::to_string(plan.memoryCycles);
  const std::string check = std::to_string(plan.memoryCheckCycle);
  const std::string divisor = std::to_string(plan.memoryPauseDivisor);
  for (Run& run : runs) {
    run.process = std::make_unique<ChildProcess>([&] {
      ::dup2(run.output.write.Get(), STDOUT_FILENO);
      const char* args[] = {"zolbench",    "--memory-run",  run.side, cycles.c_str(),
                            check.c_str(), divisor.c_str(), nullptr};
      ::execv("/proc/self/exe", const_cast<char* const*>(args));
      return 127;
    });
    run.output.write.Reset();
  }
  for (Run& run : runs) {
    std::string text;
    char chunk[256];
    for (ssize_t n; (n = ::read(run.output.read.Get(), chunk, sizeof chunk)) > 0;) {
      text.append(chunk, static_cast<size_t>(n));
    }
    const bool ended = run.process->Finish(kPeerEndMs);
    MemoryFigure& f = run.figure;
    f.ran = ended && std::sscanf(text.c_str(), "%d %d %ld %ld %ld %ld %ld %ld", &f.cycles,
                                 &f.checkCycle, &f.startKib, &f.checkKib, &f.endKib, &f.peakKib,
                                 &f.maxRssKib, &f.records) == 8;
  }
  return MemoryPair{runs[0].figure, runs[1].figure};
}

}  // namespace bench
