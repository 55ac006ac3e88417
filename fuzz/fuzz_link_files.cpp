// What the MQTT link reads from outside the program: the cursor file beside
// a data file, the credentials file and the broker's URL. The first byte
// picks which; each ends, a refusal says why, and what is taken reads back
// the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "forward/cursor.h"
#include "fuzz_rig.h"
#include "mqtt/broker_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      if (const auto cursor = zol::forward::ParseCursor(text))
        zol::fuzz::Require(zol::forward::FormatCursor(*cursor) == text);
      break;
    case 1: {
      zol::mqtt::Credentials credentials;
      const std::string error = zol::mqtt::ParseCredentials(text, &credentials);
      zol::fuzz::Require(!error.empty() || !credentials.user.empty());
      if (error.empty()) {
        zol::mqtt::Credentials again;
        zol::fuzz::Require(zol::mqtt::ParseCredentials(
                               credentials.user + "\n" + credentials.password + "\n", &again) ==
                           "");
        zol::fuzz::Require(again.user == credentials.user &&
                           again.password == credentials.password);
      }
      break;
    }
    default: {
      zol::mqtt::BrokerUrl url;
      const std::string error = zol::mqtt::ParseBrokerUrl(text, &url);
      if (error.empty()) {
        zol::mqtt::BrokerUrl again;
        const std::string written = (url.tls ? "mqtts://" : "mqtt://") + url.Where();
        zol::fuzz::Require(zol::mqtt::ParseBrokerUrl(written, &again) == "");
        zol::fuzz::Require(again.host == url.host && again.port == url.port);
      }
      break;
    }
  }
  return 0;
}
