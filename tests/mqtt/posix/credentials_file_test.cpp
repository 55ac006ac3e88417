#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "mqtt/broker_settings.h"
#include "support/temp_dir.h"

namespace zol::mqtt {
namespace {

struct ModeCase {
  mode_t mode;
  bool accepted;
};

TEST(CredentialsFileTest, RefusedWhenOthersMayReadIt) {
  test::TempDir dir;
  const std::string path = dir.File("credentials");
  std::ofstream(path) << "ship\nsecret\n";
  const ModeCase cases[] = {{0600, true}, {0640, true}, {0660, true}, {0604, false}, {0644, false}};
  for (const ModeCase& c : cases) {
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    Credentials credentials;
    const std::string error = ReadCredentialsFile(path, &credentials);
    EXPECT_EQ(error.empty(), c.accepted) << std::oct << c.mode << ": " << error;
    if (c.accepted) {
      EXPECT_EQ(credentials.password, "secret");
    }
  }
  Credentials credentials;
  EXPECT_NE(ReadCredentialsFile(dir.File("missing"), &credentials).find("No such file"),
            std::string::npos);
  EXPECT_NE(ReadCredentialsFile(dir.Path(), &credentials), "");
}

TEST(CredentialsFileTest, CaFileHoldsACertificate) {
  test::TempDir dir;
  std::ofstream(dir.File("ca.pem"))
      << "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n";
  std::ofstream(dir.File("empty.pem")) << "";
  EXPECT_EQ(CheckCaFile(dir.File("ca.pem")), "");
  EXPECT_NE(CheckCaFile(dir.File("empty.pem")), "");
  EXPECT_NE(CheckCaFile(dir.File("missing.pem")), "");
}

}  // namespace
}  // namespace zol::mqtt
