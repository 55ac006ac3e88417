// The control socket (ZOLSAMPLER_CONTROL): status, a sample now, the ZOL's
// terminal, the console's lines, an orderly stop. One thread serves every
// client without ever blocking on one: it waits in the channel for bytes,
// room or a wake-up; the sample and the terminal wait for the cycle lock on
// threads of their own. Every queue is bounded, so a client that floods,
// stalls or vanishes costs no cycle its timing.
#pragma once

#include <memory>

#include "link/control_channel.h"

namespace zol {

inline constexpr std::size_t kMostControlClients = 16;
// Bytes a client may be behind (replies, the ZOL's, the console's).
inline constexpr std::size_t kMostControlBacklog = std::size_t{64} * 1024;
inline constexpr int64_t kTerminalIdleMs = int64_t{10} * 60 * 1000;

// With ZOLSAMPLER_CONTROL set (and not empty), listens on it; a bad setting
// or a live sampler on it ends the program with status 1 and the reason on
// standard error, before any port is opened.
void OpenControlSocket();
// Answers clients from now on: call once the sampling thread runs.
void StartControl();
// Ends the terminal and every client, joins the control threads and removes
// the socket. The stop sequence calls it before it joins the sampling
// thread, so that the socket's terminal or sample lets go of the cycle lock.
void StopControl();

// Serves clients over `listener` (the functions above keep one).
class ControlServer {
 public:
  explicit ControlServer(std::unique_ptr<ControlListener> listener);
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  void Start();
  void Stop();
  // A copy of console bytes for the followers; any thread, never blocks.
  void Tee(const char* bytes, std::size_t count);

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace zol
