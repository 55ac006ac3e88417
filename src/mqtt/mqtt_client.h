// One MQTT client over the broker's reference library, on a network thread
// of its own: it connects (TLS, CA, credentials, a persistent session under
// a fixed client id, a last will), keeps the connection alive, drops one
// that goes silent and tries again with a growing pause, and hands what
// happens to the owner's callbacks on that thread. Publishing and
// subscribing may be called from any thread and never wait on the network.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "mqtt/broker_settings.h"

struct mosquitto;

namespace zol::mqtt {

struct Will {
  std::string topic;
  std::string payload;
  bool retain = true;
};

struct ClientOptions {
  BrokerSettings broker;
  std::string clientId;
  int keepAliveSeconds = 60;  // the library takes 5 at least
  std::optional<Will> will;
  int maxInFlight = 20;  // QoS 1 messages sent and not yet acknowledged
  int firstRetrySeconds = 1;
  int lastRetrySeconds = 30;
};

// Called on the network thread, one at a time, in the order things happen.
// They must not call Stop(); they may publish and subscribe.
struct ClientCallbacks {
  // The broker accepted the connection.
  std::function<void(bool sessionPresent)> connected;
  // A connection attempt failed or a connection ended; `reason` says why.
  // The client tries again after its pause.
  std::function<void(const std::string& reason)> disconnected;
  // The broker acknowledged a QoS 1 message (PUBACK) of this connection.
  std::function<void(int messageId)> acknowledged;
  std::function<void(std::string_view topic, std::string_view payload)> message;
};

class Client {
 public:
  Client(ClientOptions options, ClientCallbacks callbacks);
  // Stops with no time to send.
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Starts the network thread; false (and `error`) when the library could
  // not be set up.
  bool Start(std::string* error);
  // The message id, or -1 while no connection is up or the library
  // refuses. A message published on a connection that then breaks is
  // forgotten with it: the owner sends it again on the next.
  int Publish(std::string_view topic, std::string_view payload, int qos, bool retain);
  // Taken again at every connection.
  void Subscribe(std::string topic, int qos);
  bool Connected() const;
  // Disconnects and ends the network thread: at most one network wait (a
  // second) or a name look-up that has begun. Owners that want their last
  // messages acknowledged wait for that before.
  void Stop();

 private:
  struct Callbacks;
  void Run();
  bool Connect(std::string* reason);
  std::string Serve();
  bool PauseBeforeRetry();
  void CloseConnection();
  void SubscribeAll();

  ClientOptions options_;
  ClientCallbacks callbacks_;

  std::mutex subscriptionsMutex_;
  std::vector<std::pair<std::string, int>> subscriptions_;

  // The handle lives for one connection; the network thread replaces it
  // under this lock, publishers use it under it.
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  mosquitto* handle_ = nullptr;
  bool stopping_ = false;
  std::atomic<bool> connected_{false};

  // The network thread's own.
  std::string refusal_;  // why the broker or the TLS layer refused, for the line
  int retrySeconds_ = 1;
  std::thread thread_;
};

// libmosquitto's text for one of its results or CONNACK codes.
std::string ConnectRefusal(int code);

}  // namespace zol::mqtt
