// The zolsim program itself, talked to through its ptys as the sampler
// would talk to the instruments.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "sim/sim_process.h"

namespace zol::sim::test {
namespace {

constexpr int kStartMs = 5000;

bool Exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

TEST(ZolsimProgramTest, TalksLikeTheInstrumentsAndCleansUp) {
  TempDir dir;
  ChildProcess sim(ZOLSIM_EXE, {"--zol-link", dir.File("zol"), "--ctd-link", dir.File("ctd"),
                                "--seed", "3", "--measure-seconds", "0.2"});
  ASSERT_TRUE(sim.Started());
  EXPECT_EQ(sim.ReadLine(kStartMs), "ZOLSAMPLER_COM1=" + dir.File("zol"));
  EXPECT_EQ(sim.ReadLine(kStartMs), "ZOLSAMPLER_COM2=" + dir.File("ctd"));

  PtyClient zol(dir.File("zol"));
  ASSERT_TRUE(zol.IsOpen());
  ASSERT_TRUE(zol.Write("W"));
  EXPECT_EQ(zol.ReadUntil("\r\n", kStartMs), "ACK\r\n");
  ASSERT_TRUE(zol.Write("TS"));
  EXPECT_EQ(zol.ReadUntil("DAT\r\n", kStartMs), "ACK,TS,CMD\r\nACK,TS,DAT\r\n");

  PtyClient ctd(dir.File("ctd"));
  ASSERT_TRUE(ctd.IsOpen());
  ASSERT_TRUE(ctd.Write("\r"));
  EXPECT_EQ(ctd.ReadUntil(">", kStartMs), "\r\nS>");
  ASSERT_TRUE(ctd.Write("pts\r"));
  std::string reply = ctd.ReadUntil("S>", kStartMs);
  float pressure = 0;
  float temperature = 0;
  float salinity = 0;
  EXPECT_EQ(std::sscanf(reply.c_str(), "%f, %f, %f", &pressure, &temperature, &salinity), 3)
      << reply;
  EXPECT_GT(pressure, 0.0f);

  EXPECT_EQ(sim.Stop(SIGTERM), 0) << sim.Errors();
  EXPECT_FALSE(Exists(dir.File("zol")));
  EXPECT_FALSE(Exists(dir.File("ctd")));
  EXPECT_NE(sim.Errors().find("seed 3"), std::string::npos);
}

TEST(ZolsimProgramTest, NamesTheDevicesForTheChosenPortNumbers) {
  ChildProcess sim(ZOLSIM_EXE, {"--zol-port", "3", "--ctd-port", "7"});
  std::optional<std::string> zolSetting = sim.ReadLine(kStartMs);
  std::optional<std::string> ctdSetting = sim.ReadLine(kStartMs);
  ASSERT_TRUE(zolSetting && ctdSetting);
  ASSERT_TRUE(zolSetting->starts_with("ZOLSAMPLER_COM3=/dev/pts/")) << *zolSetting;
  ASSERT_TRUE(ctdSetting->starts_with("ZOLSAMPLER_COM7=/dev/pts/")) << *ctdSetting;
  PtyClient zol(zolSetting->substr(zolSetting->find('=') + 1));
  ASSERT_TRUE(zol.Write("W"));
  EXPECT_EQ(zol.ReadUntil("\r\n", kStartMs), "ACK\r\n");
  EXPECT_EQ(sim.Stop(SIGINT), 0);
}

TEST(ZolsimProgramTest, EndsWithTheProcessItWatches) {
  TempDir dir;
  ChildProcess sleeper("/bin/sleep", {"60"});
  ASSERT_TRUE(sleeper.Started());
  ChildProcess sim(ZOLSIM_EXE, {"--no-ctd", "--zol-link", dir.File("zol"), "--exit-with-pid",
                                std::to_string(sleeper.Pid())});
  ASSERT_EQ(sim.ReadLine(kStartMs), "ZOLSAMPLER_COM1=" + dir.File("zol"));
  EXPECT_EQ(sim.WaitExit(300), std::nullopt) << "it runs while the process lives";
  EXPECT_EQ(sleeper.Stop(SIGKILL), -SIGKILL);
  EXPECT_EQ(sim.WaitExit(kStartMs), 0) << sim.Errors();
  EXPECT_FALSE(Exists(dir.File("zol")));
}

TEST(ZolsimProgramTest, AVanishedZolComesBackAtItsLink) {
  TempDir dir;
  ChildProcess sim(ZOLSIM_EXE,
                   {"--no-ctd", "--zol-link", dir.File("zol"), "--zol-fault", "vanish:0.5@TS"});
  ASSERT_EQ(sim.ReadLine(kStartMs), "ZOLSAMPLER_COM1=" + dir.File("zol"));
  {
    PtyClient zol(dir.File("zol"));
    ASSERT_TRUE(zol.Write("W"));
    EXPECT_EQ(zol.ReadUntil("\r\n", kStartMs), "ACK\r\n");
    ASSERT_TRUE(zol.Write("TS"));
    EXPECT_EQ(zol.ReadUntil("\r\n", kStartMs), "");
    EXPECT_TRUE(zol.HungUp()) << "the device went away under the open descriptor";
  }
  EXPECT_EQ(sim.ReadLine(kStartMs), "ZOLSAMPLER_COM1=" + dir.File("zol"));
  PtyClient zol(dir.File("zol"));
  ASSERT_TRUE(zol.Write("W"));
  EXPECT_EQ(zol.ReadUntil("\r\n", kStartMs), "ACK\r\n");
  ASSERT_TRUE(zol.Write("TS"));
  EXPECT_EQ(zol.ReadUntil("\r\n", kStartMs), "ACK,TS,CMD\r\n") << "it vanishes once";
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_NE(sim.Errors().find("ZOL has gone away for 0.5 s"), std::string::npos);
}

TEST(ZolsimProgramTest, RefusesBadOptionsAndForeignFiles) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--kind", "FOO"},
                                             {"--zol-fault", "late"},
                                             {"--ctd-fault", "nak@TS"},
                                             {"--zol-port", "2"},
                                             {"stray"},
                                             {"--measure-seconds", "-1"}}) {
    ChildProcess sim(ZOLSIM_EXE, args);
    EXPECT_EQ(sim.WaitExit(kStartMs), 2) << args[0];
    EXPECT_NE(sim.Errors().find("--help"), std::string::npos) << args[0];
  }
  TempDir dir;
  std::ofstream(dir.File("precious")) << "keep me\n";
  ChildProcess sim(ZOLSIM_EXE, {"--no-ctd", "--zol-link", dir.File("precious")});
  EXPECT_EQ(sim.WaitExit(kStartMs), 1);
  EXPECT_NE(sim.Errors().find("not a symbolic link"), std::string::npos);
  std::ifstream kept(dir.File("precious"));
  std::string content;
  std::getline(kept, content);
  EXPECT_EQ(content, "keep me");
}

TEST(ZolsimProgramTest, HelpDocumentsEveryOptionAndFault) {
  ChildProcess sim(ZOLSIM_EXE, {"--help"});
  std::string help;
  while (std::optional<std::string> line = sim.ReadLine(kStartMs))
    help += *line + "\n";
  EXPECT_EQ(sim.WaitExit(kStartMs), 0);
  for (const char* word : {"--kind",          "--measure-seconds",
                           "--seed",          "--ctd-echo",
                           "--verbose",       "--no-ctd",
                           "--zol-link",      "--ctd-link",
                           "--zol-port",      "--ctd-port",
                           "--exit-with-pid", "--zol-fault",
                           "--ctd-fault",     "silent",
                           "late:MS",         "nak",
                           "garbage",         "nul",
                           "overlong",        "drop:P",
                           "vanish:S"}) {
    EXPECT_NE(help.find(word), std::string::npos) << word;
  }
}

}  // namespace
}  // namespace zol::sim::test
