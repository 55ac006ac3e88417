// zolshore end to end against a real broker on the real clock: a file's
// lines out of order, a duplicate, a hostile message and a restart of
// zolshore between them, and the shore's file equal to the ship's.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/json_text.h"
#include "mqtt/mqtt_client.h"
#include "support/mqtt_broker.h"
#include "support/sampler_process.h"
#include "support/temp_dir.h"

namespace zol::shore {
namespace {

using test::ReadFile;

const std::vector<std::string> kLines = {"#ALL RECORDS", "DATE TIME,T,NOTE",
                                         "2026/12/11 11:52:53,1.5,\xb0"
                                         "C",
                                         "2026/12/11 12:52:53,2.5,", "2026/12/11 13:52:53,3.5,ok"};

std::string ShipBytes() {
  std::string bytes;
  for (const std::string& line : kLines)
    bytes += line + "\r\n";
  return bytes;
}

std::string Message(std::size_t index, const std::string& file = "ZOL0042_KIRN.dat") {
  uint64_t offset = 0;
  for (std::size_t i = 0; i < index; ++i)
    offset += kLines[i].size() + 2;
  return JsonObject()
      .String("station", "ZOL0042")
      .String("file", file)
      .Integer("generation", 1765453973)
      .Integer("offset", static_cast<int64_t>(offset))
      .String("line", kLines[index])
      .String("eol", "\r\n")
      .String("kind", "header")
      .Text();
}

// Publishes at QoS 1 and waits for the broker's acknowledgement.
class Publisher {
 public:
  explicit Publisher(const std::string& url) : client_(Options(url), Callbacks()) {
    std::string error;
    EXPECT_TRUE(client_.Start(&error)) << error;
  }
  void Send(const std::string& payload) {
    std::unique_lock lock(mutex_);
    ASSERT_TRUE(
        changed_.wait_for(lock, std::chrono::seconds(10), [this] { return acked_.count(-1); }));
    lock.unlock();
    const int id = client_.Publish("test/ZOL0042/data", payload, 1, false);
    ASSERT_GE(id, 0);
    lock.lock();
    ASSERT_TRUE(
        changed_.wait_for(lock, std::chrono::seconds(10), [&] { return acked_.count(id); }));
  }

 private:
  static mqtt::ClientOptions Options(const std::string& url) {
    mqtt::ClientOptions options;
    mqtt::ParseBrokerUrl(url, &options.broker.url);
    options.clientId = "ship";
    return options;
  }
  // Connected counts as acknowledgement -1.
  mqtt::ClientCallbacks Callbacks() {
    mqtt::ClientCallbacks callbacks;
    callbacks.connected = [this](bool) { Acked(-1); };
    callbacks.acknowledged = [this](int id) { Acked(id); };
    return callbacks;
  }
  void Acked(int id) {
    std::lock_guard lock(mutex_);
    acked_.insert(id);
    changed_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::set<int> acked_;
  mqtt::Client client_;  // last: it stops before the rest goes
};

// The shore's file once it holds `bytes`, or what it held after `timeoutMs`.
std::string WaitForFile(const std::string& path, const std::string& bytes, int timeoutMs = 10000) {
  std::string now;
  for (int i = 0; i < timeoutMs / 50 && (now = ReadFile(path)) != bytes; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return now;
}

class ZolshoreRunTest : public ::testing::Test {
 protected:
  std::unique_ptr<test::SamplerProcess> StartShore() {
    auto shore = std::make_unique<test::SamplerProcess>(
        std::vector<std::string>{ZOLSHORE_EXE, "--topic", "test", "--client-id", "zolshore-test",
                                 broker_.Url(), shoreDir_},
        std::map<std::string, std::string>{}, dir_.Path(), false);
    EXPECT_TRUE(shore->Expect("zolshore: receiving test/+/data from 127.0.0.1:"));
    return shore;
  }
  static void Stop(test::SamplerProcess& shore) {
    shore.Signal(SIGTERM);
    EXPECT_EQ(shore.Wait(10000), 0) << shore.Console();
  }

  test::TempDir dir_;
  std::string shoreDir_ =
      (std::filesystem::create_directory(dir_.File("shore")), dir_.File("shore"));
  std::string brokerDir_ =
      (std::filesystem::create_directory(dir_.File("broker")), dir_.File("broker"));
  test::MqttBroker broker_{brokerDir_};
  std::string shoreFile_ = shoreDir_ + "/ZOL0042/ZOL0042_KIRN.dat";
};

TEST_F(ZolshoreRunTest, RebuildsTheShipsFileAcrossDisorderDuplicatesAndARestart) {
  ASSERT_TRUE(broker_.Start()) << broker_.Log();
  Publisher ship(broker_.Url());
  auto shore = StartShore();
  // Until its subscription is in place, a line may go unseen: sent again,
  // as the ship's link does, it is taken once.
  const std::string first = kLines[0] + "\r\n";
  for (int i = 0; i < 20 && WaitForFile(shoreFile_, first, 500) != first; ++i)
    ship.Send(Message(0));
  ASSERT_EQ(ReadFile(shoreFile_), first) << shore->Console() << broker_.Log();
  ship.Send(Message(2));
  ship.Send(Message(1));
  ship.Send(Message(1));
  const std::string three =
      ShipBytes().substr(0, first.size() + kLines[1].size() + kLines[2].size() + 4);
  EXPECT_EQ(WaitForFile(shoreFile_, three), three);
  Stop(*shore);
  // While it is down its session keeps what comes.
  ship.Send(Message(4));
  ship.Send(Message(2, "../escape.dat"));
  ship.Send("{not json");
  ship.Send(Message(3));
  ship.Send(Message(0));
  shore = StartShore();
  EXPECT_EQ(WaitForFile(shoreFile_, ShipBytes()), ShipBytes());
  Stop(*shore);
  const std::string console = shore->Console();
  EXPECT_NE(console.find("refused a message on test/ZOL0042/data: \"file\" is not a plain name"),
            std::string::npos)
      << console;
  EXPECT_NE(console.find("refused a message on test/ZOL0042/data: not JSON"), std::string::npos);
  std::vector<std::string> entries;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(shoreDir_))
    entries.push_back(entry.path().lexically_relative(shoreDir_).string());
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"ZOL0042", "ZOL0042/.ZOL0042_KIRN.dat.zolshore",
                                               "ZOL0042/ZOL0042_KIRN.dat"}));
}

}  // namespace
}  // namespace zol::shore
