#include "app/stop_request.h"

#include <condition_variable>
#include <mutex>

#include "console/keys.h"

namespace zol {
namespace {

struct StopFlag {
  std::mutex mutex;
  std::condition_variable requested;
  bool isRequested = false;
  bool accepted = false;
  const char* heading = nullptr;
};

StopFlag& Flag() {
  // Never destroyed: the signal thread may still use it while the process exits.
  static StopFlag& flag = *new StopFlag;
  return flag;
}

}  // namespace

void AcceptStopRequests() {
  StopFlag& flag = Flag();
  std::lock_guard lock(flag.mutex);
  flag.accepted = true;
}

bool StopRequestsAccepted() {
  StopFlag& flag = Flag();
  std::lock_guard lock(flag.mutex);
  return flag.accepted;
}

void RequestStop(const char* heading) {
  StopFlag& flag = Flag();
  {
    std::lock_guard lock(flag.mutex);
    if (!flag.isRequested) flag.heading = heading;
    flag.isRequested = true;
  }
  flag.requested.notify_all();
  Keys().InterruptKeyWait();
}

bool StopRequested() {
  StopFlag& flag = Flag();
  std::lock_guard lock(flag.mutex);
  return flag.isRequested;
}

const char* StopHeading() {
  StopFlag& flag = Flag();
  std::lock_guard lock(flag.mutex);
  return flag.heading;
}

void WaitForStopRequest() {
  StopFlag& flag = Flag();
  std::unique_lock lock(flag.mutex);
  flag.requested.wait(lock, [&] { return flag.isRequested; });
}

void ResetStopRequest() {
  StopFlag& flag = Flag();
  std::lock_guard lock(flag.mutex);
  flag.isRequested = false;
  flag.accepted = false;
  flag.heading = nullptr;
}

}  // namespace zol
