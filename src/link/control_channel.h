// The control channel as the platform gives it: a local stream endpoint
// (a Unix socket; a named pipe on Windows) whose permissions are the whole
// access rule. The sampler listens (ControlListener); zolctl connects
// (ControlLink). Everything above the bytes (lines, replies, clients,
// bounds) is shared code in the application.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace zol {

// What a wait looks at: the listener (kListener) or one connection.
struct ChannelWatch {
  static constexpr int kListener = -1;
  int connection = kListener;
  bool read = true;    // bytes, a new connection, or the peer gone
  bool write = false;  // room to write
  // Set by Wait.
  bool readable = false;
  bool writable = false;
};

class ControlListener {
 public:
  virtual ~ControlListener() = default;
  // Blocks until something watched is ready, Wake() is called (also one made
  // before this wait began) or `timeoutMs` passes (-1: no limit).
  virtual void Wait(std::vector<ChannelWatch>& watches, int timeoutMs) = 0;
  // A waiting connection (>= 0; -1 when none), and who made it ("uid 1000").
  virtual int Accept(std::string* peer) = 0;
  // Bytes read (> 0), 0 when none wait, -1 when the peer has gone.
  virtual long Read(int connection, char* buffer, std::size_t size) = 0;
  // Bytes taken without waiting (maybe fewer, maybe 0), -1 when gone.
  virtual long Write(int connection, const char* bytes, std::size_t size) = 0;
  virtual void Close(int connection) = 0;
  // From any thread.
  virtual void Wake() = 0;
  // Removes the endpoint's name (the socket file), when it is still ours.
  virtual void Unlink() = 0;
};

// Listens on `path`. An endpoint left by a program that died is replaced;
// nullptr with the reason in `error` ("PATH is in use by another sampler")
// when it cannot listen.
std::unique_ptr<ControlListener> ListenOnControl(const std::string& path, std::string* error);

class ControlLink {
 public:
  virtual ~ControlLink() = default;
  // Writes all of `bytes`; false when the peer has gone.
  virtual bool WriteAll(const char* bytes, std::size_t size) = 0;
  // Blocks for bytes: count (> 0), 0 when the peer has gone, -1 when
  // `alsoInput` and the program's own input has something first.
  virtual long Read(char* buffer, std::size_t size, bool alsoInput) = 0;
};

enum class LinkFailure { kNone, kNoListener, kPermission, kOther };

// Connects to `path`; nullptr with the kind and the system's reason.
std::unique_ptr<ControlLink> ConnectToControl(const std::string& path, LinkFailure* failure,
                                              std::string* reason);

// What lets a refused user in ("join the group zolsampler").
std::string ControlPermissionHint();

// Where an instance's endpoint is ("/run/zolsampler/NAME/control" or the
// pipe "zolsampler-NAME"), and the endpoint a setting names.
std::string InstanceControlPath(const std::string& instance);

}  // namespace zol
