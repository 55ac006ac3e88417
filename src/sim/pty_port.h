// A pseudo-terminal that plays an instrument's serial line: the simulator
// keeps the master side; the device path of the slave side is what the
// sampler opens. An optional symbolic link gives the device a stable name.
#pragma once

#include <memory>
#include <string>

namespace zol::sim {

class PtyPort {
 public:
  // A new pty in raw mode, or nullptr with `error` set.
  static std::unique_ptr<PtyPort> Open(std::string& error);
  ~PtyPort();
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;

  // The master side, non-blocking.
  int Fd() const { return master_; }
  // The device the sampler opens, e.g. /dev/pts/3.
  const std::string& DevicePath() const { return devicePath_; }

 private:
  PtyPort() = default;

  int master_ = -1;
  // Held open so that the master never sees a hang-up while no sampler has
  // the device open.
  int slave_ = -1;
  std::string devicePath_;
};

// A symbolic link to a device, removed again when it goes (but only while it
// still points at that device: a newer run may have taken the name over).
class PortLink {
 public:
  PortLink() = default;
  ~PortLink() { Remove(); }
  PortLink(const PortLink&) = delete;
  PortLink& operator=(const PortLink&) = delete;

  // Points `linkPath` at `target`, replacing an earlier symbolic link there;
  // anything else at that path is left alone and reported.
  bool Create(const std::string& linkPath, const std::string& target, std::string& error);
  void Remove();

 private:
  std::string linkPath_;
  std::string target_;
};

}  // namespace zol::sim
