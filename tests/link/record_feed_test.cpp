// The live feed's setting, its datagrams and how a failing destination is
// shown to the operator.
#include "link/record_feed.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/console_capture.h"
#include "support/windows_build.h"

namespace zol {
namespace {

std::vector<std::string> Texts(const std::vector<FeedTarget>& targets) {
  std::vector<std::string> texts;
  for (const FeedTarget& target : targets)
    texts.push_back(target.Text());
  return texts;
}

TEST(FeedSettingTest, TakesIpv4Ipv6NamesAndLists) {
  std::vector<FeedTarget> targets;
  std::string error;
  ASSERT_TRUE(ParseFeedTargets("127.0.0.1:9000", &targets, &error)) << error;
  EXPECT_EQ(targets[0].host, "127.0.0.1");
  EXPECT_EQ(targets[0].port, 9000);

  ASSERT_TRUE(ParseFeedTargets("[::1]:65535,localhost:1,[fe80::1%eth0]:7", &targets, &error))
      << error;
  EXPECT_EQ(targets[0].host, "::1");
  EXPECT_EQ(Texts(targets),
            (std::vector<std::string>{"[::1]:65535", "localhost:1", "[fe80::1%eth0]:7"}));
}

TEST(FeedSettingTest, RefusesWhatCannotBeADestinationSayingWhy) {
  const struct {
    const char* setting;
    const char* error;
  } cases[] = {
      {"", "empty; give HOST:PORT[,HOST:PORT...]"},
      {"ship-ds", "'ship-ds' has no :PORT"},
      {":9000", "':9000' has no host"},
      {"host:", "'host:': the port must be 1..65535"},
      {"host:0", "'host:0': the port must be 1..65535"},
      {"host:65536", "'host:65536': the port must be 1..65535"},
      {"host:9x", "'host:9x': the port must be 1..65535"},
      {"host:-9", "'host:-9': the port must be 1..65535"},
      {"::1:9000", "'::1:9000': write an IPv6 address in brackets, [ADDRESS]:PORT"},
      {"[::1]9000", "'[::1]9000' is not [IPV6]:PORT"},
      {"[::1:9000", "'[::1:9000' is not [IPV6]:PORT"},
      {"[]:9000", "'[]:9000' has no host"},
      {"[[::1]:9000", "'[[::1]:9000': a host holds no blanks, brackets or control characters"},
      {"a]b:9000", "'a]b:9000': a host holds no blanks, brackets or control characters"},
      {"ship ds:9000", "'ship ds:9000': a host holds no blanks, brackets or control characters"},
      {"ship\tds:9000", "'ship\tds:9000': a host holds no blanks, brackets or control characters"},
      {"a:1,", "'' has no :PORT"},
      {",a:1", "'' has no :PORT"},
      {"a:1,,b:2", "'' has no :PORT"},
  };
  for (const auto& c : cases) {
    std::vector<FeedTarget> targets;
    std::string error;
    EXPECT_FALSE(ParseFeedTargets(c.setting, &targets, &error)) << c.setting;
    EXPECT_EQ(error, c.error) << c.setting;
  }
}

class CapturingFeed : public RecordFeed {
 public:
  void Send(const char* datagram, std::size_t length) override {
    sent.emplace_back(datagram, length);
  }
  std::vector<std::string> sent;
};

TEST(FeedRecordTest, OneDatagramNamedByItsFileWithoutADirectory) {
  CapturingFeed feed;
  FeedRecord("ZOL0042_KIRN.dat", "no feed installed yet");
  InstallRecordFeed(&feed);
  FeedRecord("ZOL0042_KIRN.dat", "ABCD, ZOL0042, 1");
  FeedRecord("/var/lib/zolsampler/zol42/ZOL0042_KIRN_2.dat", "EF01, ZOL0042, 2");
  InstallRecordFeed(nullptr);
  FeedRecord("ZOL0042_KIRN.dat", "after the feed went");
  EXPECT_EQ(feed.sent, (std::vector<std::string>{"ZOL0042_KIRN.dat\tABCD, ZOL0042, 1\n",
                                                 "ZOL0042_KIRN_2.dat\tEF01, ZOL0042, 2\n"}));
}

TEST(FeedRecordTest, AnOverlongRecordIsCutKeepingItsLineEnd) {
  CapturingFeed feed;
  InstallRecordFeed(&feed);
  FeedRecord("ZOL0042_KIRN.dat", std::string(5000, 'x').c_str());
  InstallRecordFeed(nullptr);
  ASSERT_EQ(feed.sent.size(), 1u);
  EXPECT_EQ(feed.sent[0].size(), 2047u);
  EXPECT_EQ(feed.sent[0].rfind("ZOL0042_KIRN.dat\txxx", 0), 0u);
  EXPECT_EQ(feed.sent[0].back(), '\n');
}

TEST(FeedHealthTest, OneLineWhenFailingStartsAndOneWhenItWorksAgain) {
  if (test::kWindowsBuild) GTEST_SKIP() << "the error texts are glibc's";
  test::ConsoleCapture console;
  FeedHealth health("127.0.0.1:9000");
  health.Sent(0);
  EXPECT_EQ(console.Take(), "");
  for (int i = 0; i < 50; ++i)
    health.Sent(ENETUNREACH);
  EXPECT_EQ(console.Take(),
            "UDP feed to 127.0.0.1:9000: Network is unreachable; records are not sent until it "
            "works again\n");
  EXPECT_EQ(health.Lost(), 50u);
  health.Sent(0);
  health.Sent(0);
  EXPECT_EQ(console.Take(), "UDP feed to 127.0.0.1:9000 works again; 50 records were not sent\n");
  health.Sent(EAGAIN);
  EXPECT_NE(console.Take().find("Resource temporarily unavailable"), std::string::npos);
  EXPECT_EQ(health.Lost(), 1u);
}

}  // namespace
}  // namespace zol
