// The feed over real UDP sockets on the loopback interface.
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "link/system_feed.h"
#include "support/console_capture.h"
#include "support/udp_receiver.h"

namespace zol {
namespace {

using test::UdpReceiver;

std::unique_ptr<RecordFeed> Open(const std::string& setting, std::string* error) {
  std::vector<FeedTarget> targets;
  if (!ParseFeedTargets(setting, &targets, error)) return nullptr;
  return OpenUdpFeed(targets, error);
}

TEST(UdpFeedTest, EveryDestinationGetsEachDatagramWhole) {
  UdpReceiver v4(AF_INET);
  UdpReceiver named(AF_INET);
  ASSERT_TRUE(v4.Bound() && named.Bound());
  std::string error;
  auto feed =
      Open("127.0.0.1:" + std::to_string(v4.Port()) + ",localhost:" + std::to_string(named.Port()),
           &error);
  ASSERT_NE(feed, nullptr) << error;
  const std::string first = "ZOL0042_KIRN.dat\tABCD, ZOL0042, 2024-01-15 12:34:56\n";
  const std::string second = "ZOL0042_KIRN_2.dat\t" + std::string(1100, 'r') + "\n";
  feed->Send(first.data(), first.size());
  feed->Send(second.data(), second.size());
  EXPECT_EQ(v4.Next(), first);
  EXPECT_EQ(v4.Next(), second);
  // "localhost" may resolve to ::1 first where IPv6 is on; the receiver
  // listens on IPv4 only, so only an IPv4 answer is checked here.
  const std::string viaName = named.Next(500);
  if (viaName != "(none)") {
    EXPECT_EQ(viaName, first);
  }
}

TEST(UdpFeedTest, Ipv6LoopbackWhereTheMachineHasIt) {
  UdpReceiver v6(AF_INET6);
  if (!v6.Bound()) GTEST_SKIP() << "no IPv6 loopback here";
  std::string error;
  auto feed = Open("[::1]:" + std::to_string(v6.Port()), &error);
  ASSERT_NE(feed, nullptr) << error;
  const std::string datagram = "ZOL0042_PADO.dat\trecord\n";
  feed->Send(datagram.data(), datagram.size());
  EXPECT_EQ(v6.Next(), datagram);
}

TEST(UdpFeedTest, NobodyListeningCostsNoTimeAndShowsNothing) {
  uint16_t closedPort = 0;
  {
    UdpReceiver gone(AF_INET);
    ASSERT_TRUE(gone.Bound());
    closedPort = gone.Port();
  }
  test::ConsoleCapture console;
  std::string error;
  auto feed = Open("127.0.0.1:" + std::to_string(closedPort), &error);
  ASSERT_NE(feed, nullptr) << error;
  const std::string datagram = "ZOL0042_KIRN.dat\t" + std::string(1000, 'r') + "\n";
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 1000; ++i)
    feed->Send(datagram.data(), datagram.size());
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::milliseconds(500));
  EXPECT_EQ(console.Text(), "");
}

}  // namespace
}  // namespace zol
