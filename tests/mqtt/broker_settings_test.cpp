#include "mqtt/broker_settings.h"

#include <gtest/gtest.h>

#include <string>

namespace zol::mqtt {
namespace {

struct UrlCase {
  const char* text;
  const char* host;  // null: refused
  uint16_t port;
  bool tls;
};

TEST(BrokerSettingsTest, Urls) {
  const UrlCase cases[] = {
      {"mqtt://broker.ship", "broker.ship", 1883, false},
      {"mqtts://broker.ship", "broker.ship", 8883, true},
      {"mqtt://10.0.0.2:1884", "10.0.0.2", 1884, false},
      {"mqtts://shore.example:443/", "shore.example", 443, true},
      {"mqtt://[::1]:2000", "::1", 2000, false},
      {"mqtt://[fe80::1]", "fe80::1", 1883, false},
      {"http://broker", nullptr},
      {"MQTT://broker", nullptr},
      {"mqtt://", nullptr},
      {"mqtt://:1883", nullptr},
      {"mqtt://broker:", nullptr},
      {"mqtt://broker:0", nullptr},
      {"mqtt://broker:65536", nullptr},
      {"mqtt://broker:+1", nullptr},
      {"mqtt://broker:1883x", nullptr},
      {"mqtt://broker/topic", nullptr},
      {"mqtt://user@broker", nullptr},
      {"mqtt://bro ker", nullptr},
      {"mqtt://[::1", nullptr},
      {"mqtt://[::1]x", nullptr},
      {"mqtt://[host]:1", nullptr},
  };
  for (const UrlCase& c : cases) {
    BrokerUrl url;
    const std::string error = ParseBrokerUrl(c.text, &url);
    if (c.host == nullptr) {
      EXPECT_FALSE(error.empty()) << c.text;
      continue;
    }
    EXPECT_EQ(error, "") << c.text;
    EXPECT_EQ(url.host, c.host) << c.text;
    EXPECT_EQ(url.port, c.port) << c.text;
    EXPECT_EQ(url.tls, c.tls) << c.text;
  }
}

TEST(BrokerSettingsTest, WhereShowsHostAndPort) {
  EXPECT_EQ((BrokerUrl{"broker", 1883, false}).Where(), "broker:1883");
  EXPECT_EQ((BrokerUrl{"::1", 8883, true}).Where(), "[::1]:8883");
}

struct CredentialsCase {
  std::string text;
  const char* user;  // null: refused
  const char* password;
};

TEST(BrokerSettingsTest, Credentials) {
  const CredentialsCase cases[] = {
      {"ship\nsecret\n", "ship", "secret"},
      {"ship\r\nsecret", "ship", "secret"},
      {"ship\n\n", "ship", ""},
      {"ship\nsecret\n\n\n", "ship", "secret"},
      {"ship with blanks\n p w \n", "ship with blanks", " p w "},
      {"", nullptr},
      {"\nsecret\n", nullptr},
      {"ship", nullptr},
      {"ship\nsecret\nmore\n", nullptr},
      {std::string("ship\nsec\0ret\n", 13), nullptr},
      {"ship\x1b\nsecret\n", nullptr},
      {std::string(kMaxCredentialsBytes + 1, 'a'), nullptr},
  };
  for (const CredentialsCase& c : cases) {
    Credentials credentials;
    const std::string error = ParseCredentials(c.text, &credentials);
    if (c.user == nullptr) {
      EXPECT_FALSE(error.empty()) << c.text;
      continue;
    }
    EXPECT_EQ(error, "") << c.text;
    EXPECT_EQ(credentials.user, c.user);
    EXPECT_EQ(credentials.password, c.password);
  }
}

}  // namespace
}  // namespace zol::mqtt
