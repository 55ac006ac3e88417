#include "shore/shore_options.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace zol::shore {
namespace {

// A topic level or levels: no wildcards, no NUL, not empty.
bool IsTopicPrefix(const std::string& topic) {
  return !topic.empty() && topic.find_first_of(std::string("+#\0", 3)) == std::string::npos &&
         topic.front() != '/' && topic.back() != '/';
}

std::string BrokerFiles(const char* (*environment)(const char*), mqtt::BrokerSettings* broker) {
  const char* ca = environment("ZOLSAMPLER_MQTT_CA");
  if (ca != nullptr && *ca != '\0') {
    if (std::string error = mqtt::CheckCaFile(ca); !error.empty())
      return "ZOLSAMPLER_MQTT_CA: " + error;
    broker->caFile = ca;
  }
  const char* credentials = environment("ZOLSAMPLER_MQTT_CREDENTIALS");
  if (credentials != nullptr && *credentials != '\0') {
    mqtt::Credentials read;
    if (std::string error = mqtt::ReadCredentialsFile(credentials, &read); !error.empty())
      return "ZOLSAMPLER_MQTT_CREDENTIALS: " + error;
    broker->credentials = read;
  }
  return "";
}

}  // namespace

std::string ParseShoreOptions(const std::vector<std::string>& args,
                              const char* (*environment)(const char*), ShoreOptions* options) {
  std::vector<std::string> operands;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      options->help = true;
      return "";
    }
    if (arg == "--topic" || arg == "--client-id") {
      if (i + 1 >= args.size()) return arg + " needs a value";
      (arg == "--topic" ? options->topic : options->clientId) = args[++i];
    } else if (arg.starts_with("-") && arg != "-") {
      return "unknown option " + arg;
    } else {
      operands.push_back(arg);
    }
  }
  if (operands.size() != 2) return "give the broker's URL and the folder DIR";
  if (!IsTopicPrefix(options->topic))
    return "--topic: \"" + options->topic + "\" is not a topic prefix";
  if (options->clientId.empty() && std::find(args.begin(), args.end(), "--client-id") != args.end())
    return "--client-id: an empty client id";
  if (std::string error = mqtt::ParseBrokerUrl(operands[0], &options->broker.url); !error.empty())
    return error;
  std::error_code error;
  if (!std::filesystem::is_directory(operands[1], error)) return operands[1] + ": not a folder";
  options->dir = operands[1];
  return BrokerFiles(environment, &options->broker);
}

}  // namespace zol::shore
