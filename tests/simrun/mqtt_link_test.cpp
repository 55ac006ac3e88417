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

bool Openssl(const std::vector<std::string>& args, const std::string& dir) {
  std::vector<std::string> all = {"openssl"};
  all.insert(all.end(), args.begin(), args.end());
  const ProgramResult result = RunProgram("/usr/bin/openssl", all, {}, 30000, dir);
  EXPECT_EQ(result.status, 0) << result.err;
  return result.status == 0;
}

// A CA and a certificate it signed for 127.0.0.1, made for the test.
bool MakeCertificates(const std::string& dir) {
  const std::vector<std::string> key = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                        "-nodes"};
  std::vector<std::string> ca = {"req",    "-x509", "-keyout", "ca.key", "-out",
                                 "ca.pem", "-days", "2",       "-subj",  "/CN=zoltest CA"};
  ca.insert(ca.begin() + 2, key.begin(), key.end());
  std::vector<std::string> request = {"req",        "-keyout", "server.key",   "-out",
                                      "server.csr", "-subj",   "/CN=127.0.0.1"};
  request.insert(request.begin() + 1, key.begin(), key.end());
  return WriteFile(dir + "/san", "subjectAltName=IP:127.0.0.1\n") && Openssl(ca, dir) &&
         Openssl(request, dir) &&
         Openssl({"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                  "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "san"},
                 dir);
}

TEST_F(SimRunMqttTest, OverTlsAWrongPasswordKeepsTheLinesUntilItIsRight) {
  ASSERT_TRUE(MakeCertificates(dir.Path()));
  broker->Stop();
  test::BrokerOptions tls{
      {{"ship", "new secret"}, {"shore", "shore"}}, dir.File("server.pem"), dir.File("server.key")};
  broker->SetOptions(tls);
  ASSERT_TRUE(broker->Start()) << broker->Log();
  mqtt::BrokerSettings listenerSettings;
  listenerSettings.caFile = dir.File("ca.pem");
  listenerSettings.credentials = mqtt::Credentials{"shore", "shore"};
  MqttListener listener(broker->Url(), "zolsampler/#", "listener", listenerSettings);
  ASSERT_TRUE(WriteFile(dir.File("credentials"), "ship\nold secret\n"));
  ASSERT_EQ(::chmod(dir.File("credentials").c_str(), 0640), 0);
  samplerEnv["ZOLSAMPLER_MQTT"] = broker->Url();
  samplerEnv["ZOLSAMPLER_MQTT_CA"] = dir.File("ca.pem");
  samplerEnv["ZOLSAMPLER_MQTT_CREDENTIALS"] = dir.File("credentials");
  const RunSetup setup{{}, true, true, 1};
  ASSERT_TRUE(RunCycles(setup, false));
  EXPECT_NE(app->Console().find(": Connection Refused: not authorised; records are kept and sent "
                                "when it works again\n"),
            std::string::npos)
      << app->Console();
  // The broker takes the sampler's password from now on.
  broker->Stop();
  tls.users[0].second = "old secret";
  broker->SetOptions(tls);
  ASSERT_TRUE(broker->Start());
  ASSERT_TRUE(app->Expect(" works again; ", 40000));
  // The listener's session kept what came while it was away.
  ExpectDelivered(listener);
  StopSampling();
}

TEST(MqttSettingRunTest, ABadSettingEndsTheStartBeforeTheDialogueAndAnyPort) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir.File("open"), "ship\nsecret\n"));
  ASSERT_EQ(::chmod(dir.File("open").c_str(), 0644), 0);
  const struct {
    EnvOverrides env;
    const char* variable;
  } cases[] = {
      {{{"ZOLSAMPLER_MQTT", "http://broker"}}, "ZOLSAMPLER_MQTT"},
      {{{"ZOLSAMPLER_MQTT", "mqtt://broker:0"}}, "ZOLSAMPLER_MQTT"},
      {{{"ZOLSAMPLER_MQTT", "mqtts://broker"}, {"ZOLSAMPLER_MQTT_CA", dir.File("none.pem")}},
       "ZOLSAMPLER_MQTT_CA"},
      {{{"ZOLSAMPLER_MQTT", "mqtt://broker"}, {"ZOLSAMPLER_MQTT_CA", dir.File("open")}},
       "ZOLSAMPLER_MQTT_CA"},
      {{{"ZOLSAMPLER_MQTT", "mqtt://broker"}, {"ZOLSAMPLER_MQTT_CREDENTIALS", dir.File("open")}},
       "ZOLSAMPLER_MQTT_CREDENTIALS"},
      {{{"ZOLSAMPLER_MQTT", "mqtt://broker"}, {"ZOLSAMPLER_MQTT_CREDENTIALS", dir.File("none")}},
       "ZOLSAMPLER_MQTT_CREDENTIALS"},
      {{{"ZOLSAMPLER_MQTT", "mqtt://broker"}, {"ZOLSAMPLER_MQTT_TOPIC", "ship/#"}},
       "ZOLSAMPLER_MQTT_TOPIC"},
      {{{"ZOLSAMPLER_MQTT", "mqtt://broker"}, {"ZOLSAMPLER_MQTT_KEEPALIVE", "2"}},
       "ZOLSAMPLER_MQTT_KEEPALIVE"},
  };
  for (const auto& c : cases) {
    EnvOverrides env = c.env;
    env.push_back({"ZOLSAMPLER_COM1", "/nonexistent/zol"});
    const ProgramResult result = RunProgram(
        ZOLSAMPLER_EXE, {"zolsampler", "-P", "1", "-B", "9600", "-p", "-1", "-b", "-1"}, env);
    EXPECT_EQ(result.status, 1) << c.variable;
    EXPECT_EQ(result.err.rfind("zolsampler: " + std::string(c.variable) + ": ", 0), 0u)
        << result.err;
    EXPECT_EQ(result.out, "") << c.variable;
  }
}

}  // namespace
}  // namespace zol::test
