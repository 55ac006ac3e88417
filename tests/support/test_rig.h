// Everything an in-process test needs: a driven clock, the in-memory serial
// service, a scripted keyboard and a captured console, installed for the
// test's lifetime, with the sampler state back at program start and the
// time zone at UTC.
#pragma once

#include "app/sampler_state.h"
#include "base/local_time.h"
#include "support/console_capture.h"
#include "support/fake_clock.h"
#include "support/fake_serial.h"
#include "support/scripted_keys.h"

namespace zol::test {

struct TestRig {
  FakeClock clock;
  FakeSerial serial{clock};
  ScriptedKeys keys;
  ConsoleCapture console;

  TestRig() {
    ResetState();
    SetTimeZoneOffset(0);
    SetDaylightFlag(0);
    InstallClock(&clock);
    InstallSerialService(&serial);
    InstallKeySource(&keys);
  }
  ~TestRig() {
    InstallKeySource(nullptr);
    InstallSerialService(nullptr);
    InstallClock(nullptr);
    ResetState();
  }
  TestRig(const TestRig&) = delete;
  TestRig& operator=(const TestRig&) = delete;
};

}  // namespace zol::test
