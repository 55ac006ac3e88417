// Thousands of scheduled cycles on the driven clock against a ZOL and a CTD
// that misbehave on a seeded schedule. Whatever they do, the sampler keeps
// its schedule, leaks neither descriptors nor memory, stores every record it
// acknowledged exactly once and in order, and writes every cycle's step
// lines whole from Waking to Next Sample.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iomanip>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/sampler_state.h"
#include "app/sampling_thread.h"
#include "app/stop_event.h"
#include "cycle_fixture.h"
#include "support/process_usage.h"
#include "support/text_lines.h"

namespace zol::test {
namespace {

constexpr uint32_t kCycles = 2000;
constexpr uint32_t kWarmUpCycles = 200;
constexpr unsigned kSeed = 20240115;

enum class Fault {
  kNone,
  kSilent,      // the ZOL answers nothing
  kLateMiss,    // every reply after the 2 s limits
  kLateMake,    // every reply just within them
  kNak,         // sample, record or mode refused
  kGarbage,     // replies replaced by random characters
  kNul,         // replies replaced by NUL bytes
  kOverlong,    // reply lines padded to 1500 characters
  kDrop,        // each reply lost with probability 0.3
  kCtdSilent,   // no prompt from the CTD
  kCtdNoData,   // the CTD takes the query and answers nothing
  kCtdGarbage,  // the CTD's data line is noise
  kCtdShort,    // the CTD's data line has two numbers
  kCount
};

// Faults after which a record the ZOL sent must be stored.
bool LeavesTheZolLineClean(Fault fault) {
  return fault == Fault::kNone || fault == Fault::kLateMake || fault >= Fault::kCtdSilent;
}

int64_t StampSeconds(const std::string& stamp) {
  std::tm fields{};
  std::istringstream in(stamp);
  in >> std::get_time(&fields, "%a %b %d %H:%M:%S %Y");
  return in.fail() ? -1 : static_cast<int64_t>(timegm(&fields));
}

// "<count>, " as the cycle's lines start.
std::string CounterHead(uint32_t count) {
  char head[16];
  std::snprintf(head, sizeof head, "%03u, ", count);
  return head;
}

// A record the ZOL sent, with the faults of its cycle and the one before.
struct SentRecord {
  uint32_t seq;
  Fault fault;
  Fault previousFault;
};

class SoakTest : public CycleFixture {
 protected:
  void SetUp() override {
    CycleFixture::SetUp();
    // fsync costs nothing on a memory file system; the run stays short.
    if (access("/dev/shm", W_OK) == 0) {
      char pattern[] = "/dev/shm/zolsoak.XXXXXX";
      if (mkdtemp(pattern) != nullptr) shm_ = pattern;
    }
    const std::string where = shm_.empty() ? dir.Path() : shm_;
    SetPath(State().logPath, where + "/ZOL0042_KIRN.log");
    SetPath(State().datPath, where + "/ZOL0042_KIRN.dat");
    SetPath(State().dat2Path, where + "/ZOL0042_KIRN_2.dat");
    UseCtd(true);
    State().stopEvent = std::make_shared<AutoResetEvent>();
    WireFaultyLines();
    // Room up front, so that the test's own bookkeeping does not count as
    // the sampler's memory.
    sentRecords_.reserve(2 * kCycles);
    for (auto& records : acknowledged_)
      records.reserve(kCycles);
  }
  void TearDown() override {
    if (!shm_.empty()) std::filesystem::remove_all(shm_);
  }

  // Replies pass through the fault of the cycle before they reach the line.
  void WireFaultyLines() {
    zolLine_ = std::make_unique<ZolPeer>(
        [this](std::string_view bytes, int delayMs) { DeliverZol(bytes, delayMs); }, rig.clock);
    rig.serial.SetPeer(kZolPort, [this](int, std::string_view bytes) {
      OnZolCommand();
      zolLine_->Hear(bytes);
    });
    ctd->onCommand = [this](const std::string&) { ApplyCtdFault(); };
    zolLine_->onCommand = [this](const std::string& command) {
      if (command == "SL") NameNextRecord();
    };
  }

  // Each record names itself, and the file it is meant for.
  void NameNextRecord() {
    char record[64];
    ++recordSeq_;
    std::snprintf(record, sizeof record, "%04X, ZOL0042, %s %06u", recordSeq_ & 0xFFFF,
                  ctd->pumpOn ? "PUMP" : "REC", recordSeq_);
    zolLine_->sampleRecord = record;
  }

  // The first command of a cycle starts its fault; the whole history of
  // the previous one has been checked by then.
  void OnZolCommand() {
    const uint32_t cycle = State().sampleCount;
    if (cycle == cycle_) return;
    cycle_ = cycle;
    TakeConsole();
    rig.serial.ForgetHistory(kZolPort);
    rig.serial.ForgetHistory(kCtdPort);
    zolLine_->commands.clear();
    ctd->commands.clear();
    if (cycle == kWarmUpCycles) {
      fdsAfterWarmUp_ = OpenDescriptors();
      rssAfterWarmUp_ = ResidentKiB();
    }
    if (cycle == kCycles) {
      fdsAtLastCycle_ = OpenDescriptors();
      rssAtLastCycle_ = ResidentKiB();
      State().stopEvent->Set();  // seen after this cycle
    }
    previousFault_ = fault_;
    fault_ = static_cast<Fault>(PickFault());
    ++faultsSeen_[static_cast<int>(fault_)];
    ApplyZolFault();
  }

  int PickFault() {
    // Half of the cycles are healthy, the rest spread over the faults.
    if (std::uniform_int_distribution<int>(0, 1)(rng_) == 0) return 0;
    return std::uniform_int_distribution<int>(1, static_cast<int>(Fault::kCount) - 1)(rng_);
  }

  void ApplyZolFault() {
    ZolPeer& z = *zolLine_;
    z.silent = fault_ == Fault::kSilent;
    const int nak = std::uniform_int_distribution<int>(0, 2)(rng_);
    z.refuseSample = fault_ == Fault::kNak && nak == 0;
    z.nakSample = fault_ == Fault::kNak && nak == 1;
    z.ackMode = !(fault_ == Fault::kNak && nak == 2);
  }

  void ApplyCtdFault() {
    ctd->silent = fault_ == Fault::kCtdSilent;
    ctd->noData = fault_ == Fault::kCtdNoData;
    ctd->dataLine = fault_ == Fault::kCtdGarbage ? "#~x!?"
                    : fault_ == Fault::kCtdShort ? "12.345, 15.1234"
                                                 : "12.345, 15.1234, 33.5678";
  }

  void DeliverZol(std::string_view bytes, int delayMs) {
    std::string reply(bytes);
    const size_t end = reply.find_first_of("\r\n");
    std::string line = reply.substr(0, end);
    const std::string lineEnd = end == std::string::npos ? "" : reply.substr(end);
    switch (fault_) {
      case Fault::kLateMiss:
        delayMs += 2500;
        break;
      case Fault::kLateMake:
        delayMs += 1500;
        break;
      case Fault::kGarbage:
        for (char& c : line)
          c = static_cast<char>(std::uniform_int_distribution<int>('!', '=')(rng_));
        break;
      case Fault::kNul:
        line.assign(line.size(), '\0');
        break;
      case Fault::kOverlong:
        line.resize(1500, 'x');
        break;
      case Fault::kDrop:
        if (std::uniform_int_distribution<int>(0, 9)(rng_) < 3) return;
        break;
      default:
        break;
    }
    if (line == zolLine_->sampleRecord)
      sentRecords_.push_back({recordSeq_, fault_, previousFault_});
    rig.serial.Deliver(kZolPort, line + lineEnd, delayMs);
  }

  // Reads the console written since the last look: the records the program
  // acknowledged, sorted by the file each belongs to, and the cycle heads.
  void TakeConsole() {
    consoleCarry_ += rig.console.Restart();
    const size_t complete = consoleCarry_.rfind('\n');
    if (complete == std::string::npos) return;
    for (const std::string& line : SplitLines(consoleCarry_.substr(0, complete + 1)))
      OnConsoleLine(line);
    consoleCarry_.erase(0, complete + 1);
  }

  void OnConsoleLine(const std::string& line) {
    if (expectRecord_) {
      expectRecord_ = false;
      const size_t comma = line.find(", ");
      // Kept as hashes: the test's own memory must not grow with the run.
      acknowledged_[pumpPhase_ ? 1 : 0].push_back(
          std::hash<std::string>{}(comma == std::string::npos ? "" : line.substr(comma + 2)));
      return;
    }
    if (line.find(", Waking ZOL 0042, ") != std::string::npos) {
      ++consoleWakings_;
      pumpPhase_ = false;
    } else if (line.find(", CtdPump ON OK, ") != std::string::npos) {
      pumpPhase_ = true;
    } else if (line.find(", Send Sample OK, ") != std::string::npos) {
      expectRecord_ = true;
    } else if (line.find(", Next Sample, ") != std::string::npos) {
      ++consoleNextSamples_;
    } else if (line.find("Store Sample ERROR") != std::string::npos) {
      ++storeErrors_;
    }
  }

  std::string shm_;
  std::unique_ptr<ZolPeer> zolLine_;
  std::mt19937 rng_{kSeed};
  uint32_t cycle_ = 0;
  uint32_t recordSeq_ = 0;
  Fault fault_ = Fault::kNone;
  Fault previousFault_ = Fault::kNone;
  int faultsSeen_[static_cast<int>(Fault::kCount)] = {};
  std::vector<SentRecord> sentRecords_;
  std::string consoleCarry_;
  bool expectRecord_ = false;
  bool pumpPhase_ = false;
  std::vector<size_t> acknowledged_[2];
  int consoleWakings_ = 0;
  int consoleNextSamples_ = 0;
  int storeErrors_ = 0;
  int fdsAfterWarmUp_ = 0;
  long rssAfterWarmUp_ = 0;
  int fdsAtLastCycle_ = 0;
  long rssAtLastCycle_ = 0;
};

// Lines of a data file.
std::vector<std::string> FileLines(const char* path) {
  return SplitLines(ReadFile(path));
}

std::vector<size_t> Hashes(const std::vector<std::string>& lines) {
  std::vector<size_t> hashes;
  for (const std::string& line : lines)
    hashes.push_back(std::hash<std::string>{}(line));
  return hashes;
}

// Sequence number of a record named by NameNextRecord, or 0.
uint32_t SeqOf(const std::string& record) {
  unsigned seq = 0;
  char kind[8];
  unsigned crc = 0;
  if (std::sscanf(record.c_str(), "%4X, ZOL0042, %7s %6u", &crc, kind, &seq) != 3) return 0;
  return seq;
}

// Every fault came up, many times.
void ExpectEveryFaultSeen(const int (&faultsSeen)[static_cast<int>(Fault::kCount)]) {
  for (int kind = 0; kind < static_cast<int>(Fault::kCount); ++kind)
    EXPECT_GT(faultsSeen[kind], 40) << "fault " << kind;
}

// Each record at most once, in the order sent, in the file it was meant
// for; the sequence numbers of those stored.
std::set<uint32_t> ExpectEachRecordOnceInOrder(const std::vector<std::string>& dat,
                                               const std::vector<std::string>& dat2) {
  std::set<uint32_t> stored;
  for (const auto* lines : {&dat, &dat2}) {
    uint32_t last = 0;
    for (const std::string& line : *lines) {
      const uint32_t seq = SeqOf(line);
      if (seq == 0) continue;  // noise the ZOL sent in place of a record
      EXPECT_GT(seq, last) << line;
      last = seq;
      EXPECT_TRUE(stored.insert(seq).second) << "twice: " << line;
      EXPECT_EQ(line.find(lines == &dat ? " REC " : " PUMP "), 14u) << line;
    }
  }
  return stored;
}

// Every record sent on a clean line is stored; how many there were.
int ExpectCleanLineRecordsStored(const std::vector<SentRecord>& sentRecords,
                                 const std::set<uint32_t>& stored) {
  int mustStore = 0;
  for (const SentRecord& sent : sentRecords) {
    if (!LeavesTheZolLineClean(sent.fault) || !LeavesTheZolLineClean(sent.previousFault)) continue;
    ++mustStore;
    EXPECT_EQ(stored.count(sent.seq), 1u) << "record " << sent.seq << " lost";
  }
  EXPECT_GT(mustStore, 1000);
  return mustStore;
}

// The log: one block per cycle, Waking to Next Sample, every line whole,
// and cycles that start on schedule from `start`.
void ExpectLogBlocksOnSchedule(const std::string& log, int64_t start) {
  ASSERT_FALSE(log.empty());
  ASSERT_EQ(log.back(), '\n');
  const std::vector<std::string> lines = SplitLines(log);
  uint32_t cycle = 0;
  int64_t cycleStart = 0;
  int64_t lastStep = 0;
  int64_t nextSample = start;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.empty()) continue;
    const std::string head = CounterHead(cycle + 1);
    if (line.rfind(head + "Waking ZOL, ", 0) == 0) {
      ++cycle;
      cycleStart = StampSeconds(line.substr(head.size() + 12));
      // On time, or at once after a cycle that outlasted its period.
      const int64_t due = std::max(nextSample, lastStep);
      ASSERT_TRUE(cycleStart == due || cycleStart == due + 1) << "line " << i << ": " << line;
      continue;
    }
    ASSERT_EQ(line.rfind(CounterHead(cycle), 0), 0u) << "line " << i << ": " << line;
    ASSERT_GE(line.size(), 26u) << "line " << i;
    const int64_t stamp = StampSeconds(line.substr(line.size() - 24));
    ASSERT_GE(stamp, cycleStart) << "line " << i << ": " << line;
    if (line.find(", Next Sample, ") != std::string::npos) {
      ASSERT_TRUE(i + 1 < lines.size() && lines[i + 1].empty()) << "line " << i;
      nextSample = stamp;
    } else {
      lastStep = stamp;
    }
  }
  EXPECT_EQ(cycle, kCycles);
}

TEST_F(SoakTest, TwoThousandCyclesWithFaultsLoseNothing) {
  const int32_t noSync = -1;
  const int64_t start = rig.clock.WallSeconds();
  const int fdsBefore = OpenDescriptors();
  ASSERT_EQ(SampleThread(&noSync), kSampleThreadExitCode);
  const int fdsAfter = OpenDescriptors();
  TakeConsole();
  ASSERT_EQ(State().sampleCount, kCycles);
  ExpectEveryFaultSeen(faultsSeen_);

  // Flat descriptors and memory (sanitizers keep freed memory on purpose).
  EXPECT_EQ(fdsAfter, fdsBefore);
  EXPECT_EQ(fdsAtLastCycle_, fdsAfterWarmUp_);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  EXPECT_LT(rssAtLastCycle_ - rssAfterWarmUp_, 512) << "KiB grown after the warm-up";
#endif

  // The files hold exactly what the console acknowledged, in order.
  EXPECT_EQ(storeErrors_, 0);
  const std::vector<std::string> dat = FileLines(State().datPath);
  const std::vector<std::string> dat2 = FileLines(State().dat2Path);
  EXPECT_EQ(Hashes(dat), acknowledged_[0]);
  EXPECT_EQ(Hashes(dat2), acknowledged_[1]);
  const std::set<uint32_t> stored = ExpectEachRecordOnceInOrder(dat, dat2);
  const int mustStore = ExpectCleanLineRecordsStored(sentRecords_, stored);

  ASSERT_NO_FATAL_FAILURE(ExpectLogBlocksOnSchedule(ReadFile(State().logPath), start));
  EXPECT_EQ(consoleWakings_, static_cast<int>(kCycles));
  EXPECT_EQ(consoleNextSamples_, static_cast<int>(kCycles));
  std::printf("[ soak     ] %u cycles, %d records acknowledged, %zu sent on a clean line\n",
              kCycles, static_cast<int>(acknowledged_[0].size() + acknowledged_[1].size()),
              static_cast<size_t>(mustStore));
}

}  // namespace
}  // namespace zol::test
