// The settings of a connection to an MQTT broker, as the sampler and the
// receiver ashore take them: the broker's URL, the CA file that checks its
// certificate, and a credentials file. Each check gives what is wrong as a
// text the caller prints after the setting's name; empty when it is good.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zol::mqtt {

inline constexpr uint16_t kPlainPort = 1883;
inline constexpr uint16_t kTlsPort = 8883;
// Whether the library was built with TLS (the Windows build's is not).
inline constexpr bool kWithTls = ZOL_MQTT_TLS != 0;

struct BrokerUrl {
  std::string host;  // a name or an address; an IPv6 address without brackets
  uint16_t port = kPlainPort;
  bool tls = false;
  // "HOST:PORT" (an IPv6 address in brackets), as the console shows it.
  std::string Where() const;
};

struct Credentials {
  std::string user;
  std::string password;
};

// The whole of a broker's connection settings.
struct BrokerSettings {
  BrokerUrl url;
  std::string caFile;  // empty: the system's store (TLS only)
  std::optional<Credentials> credentials;
};

// mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] (8883, TLS).
std::string ParseBrokerUrl(std::string_view text, BrokerUrl* url);

// A credentials file's content: a user-name line and a password line.
inline constexpr size_t kMaxCredentialsBytes = 4096;
std::string ParseCredentials(std::string_view text, Credentials* credentials);

// Reads and checks a credentials file: refused when others than its owner
// and group may read it.
std::string ReadCredentialsFile(const std::string& path, Credentials* credentials);

// A CA file (PEM) that can be read.
std::string CheckCaFile(const std::string& path);

}  // namespace zol::mqtt
