// A test's own MQTT client: it subscribes to a topic filter and keeps every
// message it receives, in order, for the test to wait on. Header only: only
// tests that link the MQTT library include it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "mqtt/mqtt_client.h"

namespace zol::test {

struct Received {
  std::string topic;
  std::string payload;
};

class MqttListener {
 public:
  MqttListener(const std::string& url, const std::string& filter, std::string clientId = "listener")
      : client_(Options(url, std::move(clientId)), Callbacks()) {
    client_.Subscribe(filter, 1);
    std::string error;
    started_ = client_.Start(&error);
  }

  bool Started() const { return started_; }
  // Waits until `done` holds for what came so far; false after timeoutMs.
  bool WaitFor(const std::function<bool(const std::vector<Received>&)>& done, int timeoutMs) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return done(received_); });
  }
  // Waits until at least `count` messages came on topics ending in `suffix`.
  bool WaitForCount(const std::string& suffix, size_t count, int timeoutMs) {
    return WaitFor([&](const std::vector<Received>& all) { return Count(all, suffix) >= count; },
                   timeoutMs);
  }
  std::vector<Received> All() {
    std::lock_guard lock(mutex_);
    return received_;
  }
  std::vector<std::string> Payloads(const std::string& suffix) {
    std::vector<std::string> payloads;
    for (const Received& r : All())
      if (r.topic.ends_with(suffix)) payloads.push_back(r.payload);
    return payloads;
  }

  static size_t Count(const std::vector<Received>& all, const std::string& suffix) {
    size_t count = 0;
    for (const Received& r : all)
      count += r.topic.ends_with(suffix) ? 1 : 0;
    return count;
  }

 private:
  static mqtt::ClientOptions Options(const std::string& url, std::string clientId) {
    mqtt::ClientOptions options;
    mqtt::ParseBrokerUrl(url, &options.broker.url);
    options.clientId = std::move(clientId);
    options.keepAliveSeconds = 5;
    return options;
  }
  mqtt::ClientCallbacks Callbacks() {
    mqtt::ClientCallbacks callbacks;
    callbacks.message = [this](std::string_view topic, std::string_view payload) {
      std::lock_guard lock(mutex_);
      received_.push_back({std::string(topic), std::string(payload)});
      changed_.notify_all();
    };
    return callbacks;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Received> received_;
  bool started_ = false;
  mqtt::Client client_;  // last: it stops before the rest goes
};

}  // namespace zol::test
