#include "mqtt/broker_settings.h"

#include <charconv>

#include "base/errno_text.h"
#include "mqtt/private_file.h"

namespace zol::mqtt {
namespace {

constexpr size_t kMaxHostLength = 253;
constexpr size_t kMaxCaBytes = 1 << 20;

// A host name or an address: no blanks, controls or URL punctuation.
bool IsHostText(std::string_view host) {
  if (host.empty() || host.size() > kMaxHostLength) return false;
  for (const char c : host) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) return false;
    if (c == '/' || c == '?' || c == '#' || c == '@' || c == '[' || c == ']') return false;
  }
  return true;
}

std::string ParsePort(std::string_view text, uint16_t* port) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value == 0 ||
      value > 65535)
    return "the port \"" + std::string(text) + "\" is not a number from 1 to 65535";
  *port = static_cast<uint16_t>(value);
  return "";
}

// Printable ASCII: what an MQTT user name or password line may hold here.
bool IsLineText(std::string_view line) {
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

std::string_view TakeLine(std::string_view& text) {
  const size_t end = text.find('\n');
  std::string_view line = text.substr(0, end);
  text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace

std::string BrokerUrl::Where() const {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string ParseBrokerUrl(std::string_view text, BrokerUrl* url) {
  BrokerUrl parsed;
  std::string_view rest;
  if (text.starts_with("mqtt://")) {
    rest = text.substr(7);
  } else if (text.starts_with("mqtts://")) {
    rest = text.substr(8);
    parsed.tls = true;
    parsed.port = kTlsPort;
  } else {
    return "\"" + std::string(text) + "\" is not mqtt://HOST[:PORT] or mqtts://HOST[:PORT]";
  }
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  std::string_view host = rest;
  std::optional<std::string_view> port;
  if (rest.starts_with("[")) {
    const size_t close = rest.find(']');
    if (close == std::string_view::npos) return "an IPv6 address without its ']'";
    host = rest.substr(1, close - 1);
    const std::string_view after = rest.substr(close + 1);
    if (!after.empty() && after.front() != ':')
      return "text after the host: \"" + std::string(after) + "\"";
    if (!after.empty()) port = after.substr(1);
    if (host.empty() ||
        host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string_view::npos)
      return "\"" + std::string(host) + "\" is not an IPv6 address";
  } else {
    if (const size_t colon = rest.find(':'); colon != std::string_view::npos) {
      host = rest.substr(0, colon);
      port = rest.substr(colon + 1);
    }
    if (host.empty()) return "no host name or address";
    if (!IsHostText(host)) return "\"" + std::string(host) + "\" is not a host name or address";
  }
  if (port) {
    if (std::string error = ParsePort(*port, &parsed.port); !error.empty()) return error;
  }
  parsed.host = std::string(host);
  *url = parsed;
  return "";
}

std::string ParseCredentials(std::string_view text, Credentials* credentials) {
  if (text.size() > kMaxCredentialsBytes) return "longer than a user name and a password";
  Credentials parsed;
  const std::string_view user = TakeLine(text);
  if (user.empty()) return "no user name on its first line";
  if (text.empty()) return "no password line after the user name";
  const std::string_view password = TakeLine(text);
  while (!text.empty()) {
    if (!TakeLine(text).empty()) return "more than a user-name line and a password line";
  }
  if (!IsLineText(user) || !IsLineText(password))
    return "a control character in the user name or the password";
  parsed.user = std::string(user);
  parsed.password = std::string(password);
  *credentials = parsed;
  return "";
}

std::string ReadCredentialsFile(const std::string& path, Credentials* credentials) {
  if (path.empty()) return "no file named";
  const SmallFile file = ReadSmallFile(path, kMaxCredentialsBytes);
  if (file.error != 0) return path + ": " + ErrnoText(file.error);
  if (file.othersMayRead)
    return path + ": others than its owner and group may read it (chmod o-rwx " + path + ")";
  if (file.tooLarge) return path + ": longer than a user name and a password";
  std::string error = ParseCredentials(file.content, credentials);
  return error.empty() ? error : path + ": " + error;
}

std::string CheckCaFile(const std::string& path) {
  if (path.empty()) return "no file named";
  const SmallFile file = ReadSmallFile(path, kMaxCaBytes);
  if (file.error != 0) return path + ": " + ErrnoText(file.error);
  if (file.tooLarge) return path + ": larger than a CA file";
  if (file.content.find("-----BEGIN CERTIFICATE-----") == std::string::npos)
    return path + ": no PEM certificate in it";
  return "";
}

}  // namespace zol::mqtt
