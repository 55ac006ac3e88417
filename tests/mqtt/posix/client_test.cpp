// The client against a real broker on the real clock.
#include "mqtt/mqtt_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "base/posix/unique_fd.h"
#include "support/mqtt_broker.h"
#include "support/mqtt_listener.h"
#include "support/temp_dir.h"

namespace zol::mqtt {
namespace {

// What a client under test reported, for the test to wait on.
struct Events {
  std::mutex mutex;
  std::condition_variable changed;
  int connections = 0;
  std::vector<std::string> reasons;
  std::vector<int> acknowledged;

  ClientCallbacks Callbacks() {
    ClientCallbacks callbacks;
    callbacks.connected = [this](bool) { Note([this] { ++connections; }); };
    callbacks.disconnected = [this](const std::string& reason) {
      Note([&] { reasons.push_back(reason); });
    };
    callbacks.acknowledged = [this](int mid) { Note([&] { acknowledged.push_back(mid); }); };
    return callbacks;
  }
  template <typename Change>
  void Note(Change change) {
    std::lock_guard lock(mutex);
    change();
    changed.notify_all();
  }
  template <typename Done>
  bool Wait(Done done, int timeoutMs = 10000) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
  }
};

ClientOptions OptionsFor(const std::string& url) {
  ClientOptions options;
  EXPECT_EQ(ParseBrokerUrl(url, &options.broker.url), "");
  options.clientId = "client-test";
  options.keepAliveSeconds = 5;
  return options;
}

int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               since)
      .count();
}

TEST(ClientTest, PublishesRetainedAndAcknowledgedAndLeavesItsWill) {
  test::TempDir dir;
  test::MqttBroker broker(dir.Path());
  ASSERT_TRUE(broker.Start());
  Events events;
  ClientOptions options = OptionsFor(broker.Url());
  options.will = Will{"t/status", "{\"state\":\"offline\"}", true};
  auto client = std::make_unique<Client>(options, events.Callbacks());
  std::string error;
  ASSERT_TRUE(client->Start(&error)) << error;
  ASSERT_TRUE(events.Wait([&] { return events.connections == 1; }));
  const int mid = client->Publish("t/status", "{\"state\":\"sampling\"}", 1, true);
  ASSERT_GT(mid, 0);
  ASSERT_TRUE(events.Wait([&] { return !events.acknowledged.empty(); }));
  EXPECT_EQ(events.acknowledged.front(), mid);

  test::MqttListener listener(broker.Url(), "t/#");
  ASSERT_TRUE(listener.WaitForCount("/status", 1, 5000));
  EXPECT_EQ(listener.Payloads("/status").back(), "{\"state\":\"sampling\"}");
  // A broker that goes away takes the will with it only on an unclean end:
  // a stopped client disconnects cleanly and leaves no will.
  client->Stop();
  EXPECT_EQ(listener.Payloads("/status").size(), 1u);
}

TEST(ClientTest, AWrongPasswordIsRefusedWithItsReasonAndTriedAgain) {
  test::TempDir dir;
  test::MqttBroker broker(dir.Path(), {.user = "ship", .password = "right"});
  ASSERT_TRUE(broker.Start());
  Events events;
  ClientOptions options = OptionsFor(broker.Url());
  options.broker.credentials = Credentials{"ship", "wrong"};
  Client client(options, events.Callbacks());
  std::string error;
  ASSERT_TRUE(client.Start(&error));
  ASSERT_TRUE(events.Wait([&] { return events.reasons.size() >= 2; }, 8000));
  EXPECT_NE(events.reasons.front().find("not authorised"), std::string::npos)
      << events.reasons.front();
  EXPECT_EQ(events.connections, 0);
}

// A listener that accepts connections and never says a word.
class SilentServer {
 public:
  SilentServer() : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* any = reinterpret_cast<sockaddr*>(&address);
    ok_ = ::bind(socket_.Get(), any, length) == 0 && ::listen(socket_.Get(), 8) == 0 &&
          ::getsockname(socket_.Get(), any, &length) == 0;
    port_ = ntohs(address.sin_port);
  }
  bool Ok() const { return ok_; }
  std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }

 private:
  UniqueFd socket_;
  bool ok_ = false;
  uint16_t port_ = 0;
};

TEST(ClientTest, ASilentBrokerIsDroppedAfterTheKeepAliveAndStopDoesNotWait) {
  SilentServer server;
  ASSERT_TRUE(server.Ok());
  Events events;
  Client client(OptionsFor(server.Url()), events.Callbacks());
  std::string error;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(client.Start(&error));
  ASSERT_TRUE(events.Wait([&] { return !events.reasons.empty(); }, 10000));
  EXPECT_GE(ElapsedMs(start), 4000);
  EXPECT_EQ(events.reasons.front(), "no answer within the keep-alive");
  EXPECT_EQ(client.Publish("t", "x", 1, false), -1);
  const auto stopping = std::chrono::steady_clock::now();
  client.Stop();
  EXPECT_LT(ElapsedMs(stopping), 1500);
}

}  // namespace
}  // namespace zol::mqtt
