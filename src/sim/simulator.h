// The zolsim program: the instruments on their ptys and one event loop that
// blocks in poll() until a byte arrives, a reply falls due, a vanished
// device is due back, a stop signal comes or the watched process ends.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "sim/instrument.h"
#include "sim/pty_port.h"
#include "sim/sim_options.h"

namespace zol::sim {

// One instrument and the line it sits on.
struct SimLine {
  std::string name;  // "ZOL" or "CTD", for the messages
  int comNumber = 0;
  std::string linkPath;
  std::unique_ptr<Instrument> model;
  std::unique_ptr<PtyPort> pty;  // null while the device has vanished
  PortLink link;
  std::string unsent;
  int64_t backAtMs = kNever;
};

class Simulator {
 public:
  explicit Simulator(const SimOptions& options);
  // Runs until stopped; the process exit status.
  int Run();

 private:
  void AddLine(const char* name, int comNumber, const std::string& linkPath,
               std::unique_ptr<Instrument> model);
  bool BringUp(SimLine& line, int64_t nowMs);
  void TakeDown(SimLine& line, double seconds, int64_t nowMs);
  void Service(SimLine& line, int64_t nowMs);
  void Receive(SimLine& line, int64_t nowMs);
  void Flush(SimLine& line);
  int PollTimeoutMs(int64_t nowMs) const;
  void Log(const SimLine& line, const char* direction, const std::string& bytes) const;

  SimOptions options_;
  int64_t startMs_;            // the verbose log counts from here
  std::deque<SimLine> lines_;  // a deque: lines stay where they are built
};

}  // namespace zol::sim
