// A sampler set up for sample cycles against the scripted instruments: ZOL
// on port 0, CTD (when used) on port 1, files in a fresh directory, the
// clock at 2024-01-15 12:34:56 UTC.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>

#include "app/sampler_state.h"
#include "support/instrument_peers.h"
#include "support/stamps.h"
#include "support/temp_dir.h"
#include "support/test_rig.h"

namespace zol::test {

class CycleFixture : public ::testing::Test {
 protected:
  static constexpr int kZolPort = 0;
  static constexpr int kCtdPort = 1;

  void SetUp() override {
    SamplerState& s = State();
    s.zolPort = kZolPort;
    s.ctdPort = -1;
    s.serialNumber = 42;
    s.sampleRate = 1;
    s.sampleMode = 1;
    s.solutionTemp = 20.0f;
    s.solutionSal = 35.0f;
    SetPath(s.logPath, dir.File("ZOL0042_KIRN.log"));
    SetPath(s.datPath, dir.File("ZOL0042_KIRN.dat"));
    SetPath(s.dat2Path, dir.File("ZOL0042_KIRN_2.dat"));
    s.nowTime = rig.clock.WallSeconds();
    s.nextSampleTime = s.nowTime + 60;
    zol.measureMs = 3000;
  }

  void UseCtd(bool pumpSample) {
    State().ctdPort = kCtdPort;
    State().pumpSample = pumpSample ? 1 : 0;
    ctd.emplace(rig.serial, kCtdPort);
  }

  static void SetPath(char (&field)[kPathSize], const std::string& path) {
    std::snprintf(field, sizeof field, "%s", path.c_str());
  }

  std::string Log() { return ReadFile(State().logPath); }
  std::string Dat() { return ReadFile(State().datPath); }
  std::string Dat2() { return ReadFile(State().dat2Path); }

  TestRig rig;
  TempDir dir;
  ZolPeer zol{rig.serial, rig.clock, kZolPort};
  std::optional<CtdPeer> ctd;
};

}  // namespace zol::test
