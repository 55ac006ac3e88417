// The link over a data file against a real broker on the real clock: a
// backlog drains across a cut link with every line once at least and in
// order, the cursor ends at the file's end, and a file replaced by a
// shorter one is a new generation sent from its start.
#include "forward/shore_link.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "base/json_reader.h"
#include "forward/cursor.h"
#include "support/mqtt_broker.h"
#include "support/mqtt_listener.h"
#include "support/tcp_relay.h"
#include "support/temp_dir.h"

namespace zol::forward {
namespace {

constexpr int kWaitMs = 20000;

// The console lines the link says, for the test to wait on.
struct Said {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> lines;
  bool WaitFor(const std::string& part) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] {
      for (const std::string& line : lines)
        if (line.find(part) != std::string::npos) return true;
      return false;
    });
  }
};

LinkSettings SettingsFor(uint16_t port, const std::string& file, Said& said) {
  LinkSettings settings;
  settings.broker.url = {"127.0.0.1", port, false};
  settings.prefix = "zolsampler/ZOL0042";
  settings.station = "ZOL0042";
  settings.clientId = "shore-link-test";
  settings.layout = *view::LayoutForKind("KIRN");
  settings.files = {{file, false}};
  settings.keepAliveSeconds = 5;
  settings.window = 8;
  settings.say = [&said](const std::string& line) {
    std::lock_guard lock(said.mutex);
    said.lines.push_back(line);
    said.changed.notify_all();
  };
  return settings;
}

std::string Lines(int from, int count) {
  std::string text;
  for (int i = from; i < from + count; ++i)
    text += "line " + std::to_string(i) + "\n";
  return text;
}

// (generation, offset, line) of every data message, in arrival order.
struct Sent {
  int64_t generation;
  int64_t offset;
  std::string line;
};
std::vector<Sent> SentLines(test::MqttListener& listener) {
  std::vector<Sent> sent;
  for (const std::string& payload : listener.Payloads("/data")) {
    JsonValue json;
    std::string error;
    EXPECT_TRUE(ParseJson(payload, &json, &error)) << error;
    sent.push_back({json.Find("generation")->Integer().value_or(-1),
                    json.Find("offset")->Integer().value_or(-1), json.Find("line")->Text()});
  }
  return sent;
}

// The file as a receiver that ignores lines it has seen rebuilds it.
std::string Rebuilt(const std::vector<Sent>& sent, int64_t generation) {
  std::string text;
  for (const Sent& s : sent) {
    if (s.generation == generation && static_cast<size_t>(s.offset) == text.size())
      text += s.line + "\n";
  }
  return text;
}

TEST(ShoreLinkTest, ABacklogDrainsAcrossACutLinkAndTheCursorEndsAtTheFilesEnd) {
  test::TempDir dir;
  test::MqttBroker broker(dir.Path());
  ASSERT_TRUE(broker.Start());
  test::TcpRelay relay(broker.Port());
  test::MqttListener listener(broker.Url(), "zolsampler/#");
  const std::string file = dir.File("ZOL0042_KIRN.dat");
  ASSERT_TRUE(test::WriteFile(file, Lines(0, 3000)));
  Said said;
  relay.Cut();
  ShoreLink link(SettingsFor(relay.Port(), file, said));
  std::string error;
  ASSERT_TRUE(link.Start(&error)) << error;
  EXPECT_EQ(link.Backlog(), 3000u);
  ASSERT_TRUE(said.WaitFor("records are kept and sent when it works again"));
  relay.Restore();
  ASSERT_TRUE(said.WaitFor("works again; 3000 lines sent from the backlog"));
  std::ofstream(file, std::ios::app) << Lines(3000, 5) << "half a li";
  link.Nudge();
  ASSERT_TRUE(listener.WaitForCount("/data", 3005, kWaitMs));
  link.Stop(5000);
  const std::optional<Cursor> cursor = ReadCursor(file);
  ASSERT_TRUE(cursor.has_value());
  EXPECT_EQ(Rebuilt(SentLines(listener), cursor->generation), Lines(0, 3005));
  EXPECT_EQ(cursor->offset, Lines(0, 3005).size());
  EXPECT_EQ(said.lines.size(), 3u);
}

TEST(ShoreLinkTest, AFileShorterThanItsCursorIsANewGenerationSentFromItsStart) {
  test::TempDir dir;
  test::MqttBroker broker(dir.Path());
  ASSERT_TRUE(broker.Start());
  test::MqttListener listener(broker.Url(), "zolsampler/#");
  const std::string file = dir.File("ZOL0042_KIRN.dat");
  ASSERT_TRUE(test::WriteFile(file, Lines(0, 20)));
  Said said;
  {
    ShoreLink link(SettingsFor(broker.Port(), file, said));
    std::string error;
    ASSERT_TRUE(link.Start(&error)) << error;
    ASSERT_TRUE(listener.WaitForCount("/data", 20, kWaitMs));
    link.Stop(5000);
  }
  const int64_t first = ReadCursor(file)->generation;
  ASSERT_TRUE(test::WriteFile(file, Lines(100, 2)));
  ShoreLink link(SettingsFor(broker.Port(), file, said));
  std::string error;
  ASSERT_TRUE(link.Start(&error));
  ASSERT_TRUE(listener.WaitForCount("/data", 22, kWaitMs));
  link.Stop(5000);
  EXPECT_TRUE(said.WaitFor("MQTT link: ZOL0042_KIRN.dat is shorter than the " +
                           std::to_string(Lines(0, 20).size()) +
                           " bytes already sent from it; it is sent again from its start as a "
                           "new generation\n"));
  const int64_t second = ReadCursor(file)->generation;
  EXPECT_GT(second, first);
  EXPECT_EQ(Rebuilt(SentLines(listener), second), Lines(100, 2));
}

}  // namespace
}  // namespace zol::forward
