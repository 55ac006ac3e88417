// The MQTT shore link in whole runs against a real broker: every line of the
// data files arrives as the JSON the link makes, in order, across a cut
// link, a broker restart and a SIGKILL of the sampler; the retained status
// follows the sampler's life; a silent broker delays no cycle; TLS and
// credentials; bad settings end the start before the dialogue.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "base/json_reader.h"
#include "base/json_text.h"
#include "simrun/sim_run.h"
#include "support/mqtt_broker.h"
#include "support/mqtt_listener.h"
#include "support/run_program.h"
#include "support/tcp_relay.h"
#include "view/layout.h"
#include "view/record_parser.h"

namespace zol::test {
namespace {

constexpr int kDeliveryMs = 20000;

constexpr const char* kAnswers =
    "serial_number = 42\n"
    "sample_rate = 1\n"
    "sample_mode = KIRN\n"
    "pump_sample = yes\n";

struct DataLine {
  std::string file;
  int64_t generation = 0;
  uint64_t offset = 0;
  std::string line;
  std::string eol;
  JsonValue json;
};

std::string Bytes(const JsonValue* value) {
  return value == nullptr ? "(none)" : Latin1Bytes(value->Text()).value_or("(not Latin-1)");
}

std::vector<DataLine> DataLines(const std::vector<Received>& all) {
  std::vector<DataLine> lines;
  for (const Received& received : all) {
    if (!received.topic.ends_with("/data")) continue;
    const std::string& payload = received.payload;
    DataLine line;
    std::string error;
    EXPECT_TRUE(ParseJson(payload, &line.json, &error)) << error << ": " << payload;
    line.file = Bytes(line.json.Find("file"));
    line.generation = line.json.Find("generation")->Integer().value_or(-1);
    line.offset = static_cast<uint64_t>(line.json.Find("offset")->Integer().value_or(-1));
    line.line = Bytes(line.json.Find("line"));
    line.eol = Bytes(line.json.Find("eol"));
    lines.push_back(line);
  }
  return lines;
}

// A file as a receiver that ignores keys it has seen rebuilds it; lines of
// one generation arrive in order (a line sent again comes after its first).
std::string Rebuilt(const std::vector<DataLine>& lines, const std::string& file) {
  std::string text;
  for (const DataLine& line : lines) {
    if (line.file != file) continue;
    if (line.offset > text.size()) return "(gap before offset " + std::to_string(line.offset) + ")";
    if (line.offset == text.size()) text += line.line + line.eol;
  }
  return text;
}

// Every record's fields, time and pump flag as the file holds them.
void ExpectRecordsMatch(const std::vector<DataLine>& lines) {
  const view::Layout layout = *view::LayoutForKind("KIRN");
  int records = 0;
  for (const DataLine& line : lines) {
    const std::string kind = Bytes(line.json.Find("kind"));
    EXPECT_EQ(Bytes(line.json.Find("station")), "ZOL0042");
    EXPECT_EQ(kind, IsRecord(line.line) ? "record" : "header") << line.line;
    if (kind != "record") continue;
    ++records;
    const std::vector<std::string> fields = RecordFields(line.line);
    EXPECT_EQ(line.json.Find("pump")->Bool(), line.file.ends_with("_2.dat"));
    EXPECT_EQ(Bytes(line.json.Find("time")), IsoUtc(*view::ParseDateTime(fields[2])));
    const JsonValue* values = line.json.Find("values");
    ASSERT_EQ(values->Members().size(), layout.columns.size());
    for (size_t i = 0; i < fields.size(); ++i) {
      const JsonValue* value = values->Find(layout.columns[i]);
      if (const std::optional<double> number = view::ParseNumber(fields[i])) {
        EXPECT_EQ(value->Number(), *number) << layout.columns[i];
      } else {
        EXPECT_EQ(Bytes(value), fields[i]) << layout.columns[i];
      }
    }
  }
  EXPECT_GT(records, 0);
}

int64_t StatusMember(const std::string& payload, const char* name) {
  JsonValue status;
  std::string error;
  if (!ParseJson(payload, &status, &error) || status.Find(name) == nullptr) return -1;
  return status.Find(name)->Integer().value_or(-1);
}

class SimRunMqttTest : public SimRunTest {
 protected:
  void SetUp() override {
    broker = std::make_unique<MqttBroker>(dir.Path());
    ASSERT_TRUE(broker->Start());
    samplerEnv["ZOLSAMPLER_MQTT_KEEPALIVE"] = "5";
  }
  // Waits until both files are at the shore whole.
  bool Delivered(MqttListener& listener) {
    return listener.WaitFor(
        [&](const std::vector<Received>& all) {
          const std::vector<DataLine> lines = DataLines(all);
          return Rebuilt(lines, FileName(".dat")) == Read(".dat") &&
                 Rebuilt(lines, FileName("_2.dat")) == Read("_2.dat");
        },
        kDeliveryMs);
  }
  void ExpectDelivered(MqttListener& listener) {
    EXPECT_TRUE(Delivered(listener)) << app->Console();
    const std::vector<DataLine> lines = DataLines(listener.All());
    EXPECT_EQ(Rebuilt(lines, FileName(".dat")), Read(".dat"));
    EXPECT_EQ(Rebuilt(lines, FileName("_2.dat")), Read("_2.dat"));
    ExpectRecordsMatch(lines);
  }
  // From a cycle's last record to its sleep, as without a link: a cycle
  // waits on no network.
  void ExpectNotDelayed(int n) {
    char head[8];
    std::snprintf(head, sizeof head, "%03d, ", n);
    const std::string console = app->Console();
    const size_t last = console.rfind(head + std::string("Send Sample OK"));
    ASSERT_NE(last, std::string::npos) << console;
    EXPECT_LE(SecondsOf(StampOn(console.substr(last), head + std::string("Enter Sleep OK"))) -
                  SecondsOf(StampOn(console.substr(last), head + std::string("Send Sample OK"))),
              1)
        << console;
  }
  size_t Count(const std::string& text) { return Count(app->Console(), text); }
  static size_t Count(const std::string& console, const std::string& text) {
    size_t count = 0;
    for (size_t at = console.find(text); at != std::string::npos; at = console.find(text, at + 1))
      ++count;
    return count;
  }

  std::unique_ptr<MqttBroker> broker;
};

TEST_F(SimRunMqttTest, EveryLineArrivesAsJsonWithTheStatusRetained) {
  MqttListener listener(broker->Url(), "zolsampler/#");
  samplerEnv["ZOLSAMPLER_MQTT"] = broker->Url();
  const RunSetup setup{{}, true, true, 1};
  ASSERT_TRUE(RunCycles(setup));
  ExpectDelivered(listener);
  ExpectNotDelayed(2);
  ASSERT_TRUE(listener.WaitFor(
      [](const std::vector<Received>& all) {
        for (const Received& r : all)
          if (r.topic == "zolsampler/ZOL0042/status" && StatusMember(r.payload, "cycle") == 2)
            return true;
        return false;
      },
      kDeliveryMs));
  StopSampling();
  const std::string console = app->Console();
  EXPECT_EQ(Count(console, "MQTT link"), 1u) << console;
  EXPECT_NE(console.find("MQTT link: data to 127.0.0.1:" + std::to_string(broker->Port()) +
                         ", topic zolsampler/ZOL0042\n"),
            std::string::npos);
  // The dialogue is over before the link says a word.
  EXPECT_GT(console.find("MQTT link"), console.find("Sync start of sampling"));
  const std::string cursor = ReadFile(dir.File("ZOL0042_KIRN.dat.sent"));
  EXPECT_EQ(cursor.substr(0, cursor.find(' ')), std::to_string(Read(".dat").size()));
  // A newcomer finds the last word retained.
  MqttListener later(broker->Url(), "zolsampler/+/status", "later");
  ASSERT_TRUE(later.WaitForCount("/status", 1, 5000));
  EXPECT_EQ(later.Payloads("/status").back(), "{\"state\":\"stopped\"}");
}

TEST_F(SimRunMqttTest, EveryLineArrivesInOrderAcrossACutLinkABrokerRestartAndAKill) {
  TcpRelay relay(broker->Port());
  ASSERT_TRUE(relay.Ok());
  MqttListener listener(broker->Url(), "zolsampler/#");
  samplerEnv["ZOLSAMPLER_MQTT"] = "mqtt://127.0.0.1:" + std::to_string(relay.Port());
  RunSetup setup{{}, true, true, 1, kAnswers};
  ASSERT_TRUE(Launch(setup) && CycleEnded(1)) << app->Console();
  ASSERT_TRUE(Delivered(listener)) << app->Console();

  relay.Cut();
  ASSERT_TRUE(app->Expect("; records are kept and sent when it works again\n", 15000));
  app->Type("\x06");
  ASSERT_TRUE(CycleEnded(2));
  ExpectNotDelayed(2);
  broker->Stop();
  app->Signal(SIGKILL);
  app->Wait();
  ASSERT_TRUE(broker->Start());
  relay.Restore();

  ASSERT_TRUE(StartSampler());
  ASSERT_TRUE(CycleEnded(1)) << app->Console();
  ExpectDelivered(listener);
  EXPECT_EQ(Count("MQTT link"), 1u) << app->Console();

  // A sampler that dies shows as offline.
  app->Signal(SIGKILL);
  app->Wait();
  ASSERT_TRUE(listener.WaitFor(
      [](const std::vector<Received>& all) {
        return !all.empty() && all.back().payload == "{\"state\":\"offline\"}";
      },
      kDeliveryMs));
  EXPECT_EQ(sim->Stop(), 0);
}

TEST_F(SimRunMqttTest, ABrokerThatNeverAnswersDelaysNoCycle) {
  TcpRelay silent(broker->Port());
  silent.Cut();
  samplerEnv["ZOLSAMPLER_MQTT"] = "mqtt://127.0.0.1:" + std::to_string(silent.Port());
  const RunSetup setup{{}, true, true, 1};
  ASSERT_TRUE(RunCycles(setup));
  ExpectNotDelayed(1);
  ExpectNotDelayed(2);
  StopSampling();
  // Two cycles outlast the keep-alive.
  EXPECT_EQ(Count("MQTT link to 127.0.0.1:" + std::to_string(silent.Port()) +
                  ": no answer within the keep-alive; records are kept and sent when it works "
                  "again\n"),
            1u)
      << app->Console();
}

}  // namespace
}  // namespace zol::test
