// A real MQTT broker (Debian's mosquitto) for tests: on 127.0.0.1, on a
// port chosen here, with its files in a directory of the test's. It can be
// stopped and started again on the same port, with or without keeping its
// sessions, and be given a password file and a TLS certificate.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace zol::test {

// A free TCP port on 127.0.0.1 (free when asked; the caller binds it soon).
uint16_t FreeTcpPort();

struct BrokerOptions {
  std::string user;  // with a password: only this user may connect
  std::string password;
  std::string certFile;  // with keyFile: the listener speaks TLS
  std::string keyFile;
};

class MqttBroker {
 public:
  MqttBroker(std::string dir, BrokerOptions options = {});
  ~MqttBroker();
  MqttBroker(const MqttBroker&) = delete;
  MqttBroker& operator=(const MqttBroker&) = delete;

  // Starts the broker and waits until it listens; false when it did not.
  bool Start();
  // Ends it (SIGTERM: it saves its sessions first) and waits for it.
  void Stop();
  uint16_t Port() const { return port_; }
  std::string Url() const;
  // What it logged (errors, warnings, notices).
  std::string Log() const;

 private:
  std::string dir_;
  BrokerOptions options_;
  uint16_t port_;
  pid_t pid_ = -1;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string log_;
  bool logEnded_ = false;
  std::thread reader_;
};

}  // namespace zol::test
