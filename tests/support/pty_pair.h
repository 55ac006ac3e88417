// A pseudo-terminal pair standing in for a serial device: the program opens
// the slave by its path, the test plays the instrument on the master.
#pragma once

#include <termios.h>

#include <string>
#include <string_view>

namespace zol::test {

class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int Master() const { return master_; }

  void WriteMaster(std::string_view bytes);
  // What arrives at the master until `count` bytes came or timeoutMs passed.
  std::string ReadMaster(size_t count, int timeoutMs);
  // The slave's line settings as the program left them.
  termios SlaveSettings() const;
  // Unplugs the device: the slave path disappears and its users hang up.
  void CloseMaster();
  void CloseSlave();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

}  // namespace zol::test
