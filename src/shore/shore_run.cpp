#include "shore/shore_run.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "mqtt/mqtt_client.h"
#include "shore/rebuilder.h"
#include "shore/stop_signals.h"

namespace zol::shore {
namespace {

// Lines written are put on disk at least this often.
constexpr int kSyncMs = 1000;

void Say(const std::string& line) {
  std::fprintf(stderr, "zolshore: %s\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace

int RunShore(const ShoreOptions& options) {
  BlockStopSignals();
  const std::string where = options.broker.url.Where();
  const std::string filter = options.topic + "/+/data";
  std::mutex mutex;  // the rebuilder: the network thread writes, this one syncs
  Rebuilder rebuilder(options.dir, {}, Say);
  bool down = false;  // an outage already said, until the broker answers again

  mqtt::ClientOptions client;
  client.broker = options.broker;
  client.clientId = options.clientId.empty() ? "zolshore-" + HostName() : options.clientId;
  mqtt::ClientCallbacks callbacks;
  callbacks.connected = [&](bool) {
    if (down) Say("the broker at " + where + " answers again");
    down = false;
  };
  callbacks.disconnected = [&](const std::string& reason) {
    if (!down) Say("no connection to the broker at " + where + ": " + reason + "; trying again");
    down = true;
  };
  callbacks.message = [&](std::string_view topic, std::string_view payload) {
    std::lock_guard lock(mutex);
    (void)rebuilder.Handle(topic, payload);
  };
  mqtt::Client mqttClient(client, callbacks);
  mqttClient.Subscribe(filter, 1);
  std::string error;
  if (!mqttClient.Start(&error)) {
    Say(error);
    return 1;
  }
  Say("receiving " + filter + " from " + where + " as " + client.clientId + " into " + options.dir);
  while (!WaitForStopSignal(kSyncMs)) {
    std::lock_guard lock(mutex);
    rebuilder.Sync();
  }
  mqttClient.Stop();
  std::lock_guard lock(mutex);
  rebuilder.Sync();
  return 0;
}

}  // namespace zol::shore
