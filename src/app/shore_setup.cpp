#include "app/shore_setup.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "app/sampler_state.h"
#include "app/sampler_status.h"
#include "base/console_out.h"

#if ZOL_MQTT
#include "forward/shore_link.h"
#include "mqtt/broker_settings.h"
#endif

namespace zol {
namespace {

[[noreturn]] void RefuseSetting(const char* variable, const std::string& what) {
  std::fprintf(stderr, "zolsampler: %s: %s\n", variable, what.c_str());
  // NOLINTNEXTLINE(concurrency-mt-unsafe): what other threads use is never destroyed
  std::exit(1);
}

const char* Setting(const char* variable) {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): read before any thread starts
  const char* value = std::getenv(variable);
  return value == nullptr ? "" : value;
}

#if ZOL_MQTT

constexpr int64_t kStopGraceMs = 5000;
constexpr int kShortestKeepAlive = 5;  // the library's least

struct ShoreSettings {
  bool enabled = false;
  mqtt::BrokerSettings broker;
  std::string topic;  // empty: the default for the serial number
  int keepAliveSeconds = 60;
};

ShoreSettings g_settings;
std::unique_ptr<forward::ShoreLink> g_link;

// A topic to publish under: no wildcards, no NUL, no empty level at an end.
std::string CheckTopic(const std::string& topic) {
  if (topic.size() > 200) return "longer than 200 characters";
  if (topic.find_first_of("+#") != std::string::npos) return "a wildcard (+ or #) in a topic";
  for (const char c : topic) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return "a control character in it";
  }
  if (topic.starts_with('/') || topic.ends_with('/')) return "a '/' at its start or end";
  return "";
}

void OnCycleEnded() {
  if (g_link != nullptr) g_link->StatusChanged();
}

#endif

}  // namespace

#if ZOL_MQTT

void LoadShoreLinkSettings() {
  const std::string url = Setting("ZOLSAMPLER_MQTT");
  if (url.empty()) return;
  ShoreSettings s;
  if (std::string error = mqtt::ParseBrokerUrl(url, &s.broker.url); !error.empty())
    RefuseSetting("ZOLSAMPLER_MQTT", error);
  if (s.broker.url.tls && !mqtt::kWithTls)
    RefuseSetting("ZOLSAMPLER_MQTT", "this build of zolsampler has no TLS: mqtt:// only");
  s.broker.caFile = Setting("ZOLSAMPLER_MQTT_CA");
  if (!s.broker.caFile.empty()) {
    if (!s.broker.url.tls) RefuseSetting("ZOLSAMPLER_MQTT_CA", "a CA file needs mqtts://");
    if (std::string error = mqtt::CheckCaFile(s.broker.caFile); !error.empty())
      RefuseSetting("ZOLSAMPLER_MQTT_CA", error);
  }
  if (const std::string path = Setting("ZOLSAMPLER_MQTT_CREDENTIALS"); !path.empty()) {
    mqtt::Credentials credentials;
    if (std::string error = mqtt::ReadCredentialsFile(path, &credentials); !error.empty())
      RefuseSetting("ZOLSAMPLER_MQTT_CREDENTIALS", error);
    s.broker.credentials = credentials;
  }
  s.topic = Setting("ZOLSAMPLER_MQTT_TOPIC");
  if (std::string error = CheckTopic(s.topic); !error.empty())
    RefuseSetting("ZOLSAMPLER_MQTT_TOPIC", error);
  // For tests: a silent broker is found out sooner.
  if (const std::string keepAlive = Setting("ZOLSAMPLER_MQTT_KEEPALIVE"); !keepAlive.empty()) {
    const int seconds = std::atoi(keepAlive.c_str());
    if (keepAlive.find_first_not_of("0123456789") != std::string::npos || keepAlive.size() > 4 ||
        seconds < kShortestKeepAlive)
      RefuseSetting("ZOLSAMPLER_MQTT_KEEPALIVE", "not a number of seconds from 5 to 9999");
    s.keepAliveSeconds = seconds;
  }
  s.enabled = true;
  g_settings = s;
}

void StartShoreLink() {
  if (!g_settings.enabled) return;
  const SamplerState& state = Settings();
  const char* mode = state.sampleMode < kModeCount ? ModeNames[state.sampleMode] : ModeNames[0];
  char station[16];
  std::snprintf(station, sizeof station, "ZOL%04d", state.serialNumber);
  forward::LinkSettings link;
  link.broker = g_settings.broker;
  link.station = station;
  link.prefix = g_settings.topic.empty() ? std::string("zolsampler/") + station : g_settings.topic;
  // A KIRN and a PADO run of one ZOL keep sessions of their own.
  link.clientId = link.prefix + "-" + mode;
  for (char& c : link.clientId)
    c = c == '/' ? '-' : c;
  if (const std::optional<view::Layout> layout = view::LayoutForKind(mode)) link.layout = *layout;
  link.files = {{state.datPath, false}, {state.dat2Path, true}};
  link.keepAliveSeconds = g_settings.keepAliveSeconds;
  link.status = [](std::string_view extra) { return StatusJson(extra); };
  link.say = [](const std::string& line) { ConsolePrintf("%s", line.c_str()); };
  g_link = std::make_unique<forward::ShoreLink>(link);
  std::string error;
  if (!g_link->Start(&error)) {
    ConsolePrintf("MQTT link could not start: %s\n", error.c_str());
    g_link.reset();
    return;
  }
  AddCycleEndedListener(OnCycleEnded);
}

void NudgeShoreLink() {
  if (g_link != nullptr) g_link->Nudge();
}

uint64_t ShoreLinkOutageBacklog() {
  return g_link != nullptr ? g_link->OutageBacklog() : 0;
}

void StopShoreLink() {
  if (g_link != nullptr) g_link->Stop(kStopGraceMs);
}

#else

// This build has no MQTT library: a link asked for is refused, not ignored.
void LoadShoreLinkSettings() {
  if (Setting("ZOLSAMPLER_MQTT")[0] != '\0')
    RefuseSetting("ZOLSAMPLER_MQTT", "this build of zolsampler has no MQTT link");
}
void StartShoreLink() {}
void NudgeShoreLink() {}
uint64_t ShoreLinkOutageBacklog() {
  return 0;
}
void StopShoreLink() {}

#endif

}  // namespace zol
