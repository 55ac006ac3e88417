// The control channel on Windows will be a named pipe (\\.\pipe\NAME, a bare
// NAME meaning that pipe). Until it is, ZOLSAMPLER_CONTROL is refused at
// start with the reason, so no one relies on a channel that is not there.
#include "link/control_channel.h"

namespace zol {

std::unique_ptr<ControlListener> ListenOnControl(const std::string& path, std::string* error) {
  *error = path + ": this Windows build has no control pipe yet";
  return nullptr;
}

std::unique_ptr<ControlLink> ConnectToControl(const std::string&, LinkFailure* failure,
                                              std::string* reason) {
  *failure = LinkFailure::kOther;
  *reason = "this Windows build has no control pipe yet";
  return nullptr;
}

std::string InstanceControlPath(const std::string& instance) {
  return "\\\\.\\pipe\\zolsampler-" + instance;
}

}  // namespace zol
