// zolshore's command line and settings: zolshore [--topic PREFIX]
// [--client-id ID] URL DIR, with the broker's CA and credentials files
// taken from the same variables as the sampler's link.
#pragma once

#include <string>
#include <vector>

#include "mqtt/broker_settings.h"

namespace zol::shore {

struct ShoreOptions {
  mqtt::BrokerSettings broker;
  std::string topic = "zolsampler";
  std::string clientId;  // empty: "zolshore-<host name>"
  std::string dir;
  bool help = false;
};

inline constexpr const char* kShoreUsage =
    "Usage: zolshore [--topic PREFIX] [--client-id ID] URL DIR\n"
    "Rebuilds the samplers' data files under DIR from PREFIX/+/data on the MQTT\n"
    "broker at URL (mqtt://HOST[:PORT] or mqtts://HOST[:PORT]).\n"
    "  --topic PREFIX   the samplers' topic prefix (default zolsampler)\n"
    "  --client-id ID   the persistent session's client id (default zolshore-<host name>)\n"
    "Environment: ZOLSAMPLER_MQTT_CA=FILE (the CA that checks the broker's certificate),\n"
    "ZOLSAMPLER_MQTT_CREDENTIALS=FILE (a user-name line and a password line).\n";

// `args` without the program's name; `environment` looks a variable up
// (nullptr when unset). Empty when good, else what is wrong.
std::string ParseShoreOptions(const std::vector<std::string>& args,
                              const char* (*environment)(const char*), ShoreOptions* options);

}  // namespace zol::shore
