// The status object: what it shows before and after cycles, the record's
// own time, and that it answers while the cycle lock is held.
#include "app/sampler_status.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cycle_lock.h"
#include "app/keyboard.h"
#include "app/sample_cycle.h"
#include "app/service_watch.h"
#include "base/json_text.h"
#include "cycle_fixture.h"

namespace zol::test {
namespace {

class SamplerStatusTest : public CycleFixture {
 protected:
  void SetUp() override {
    CycleFixture::SetUp();
    NoteSamplerStarted("/dev/ttyS0", "");
  }
  void TearDown() override { ResetServiceWatch(); }

  // The member `name` of the status, as JSON text up to the next member.
  static std::string Member(const std::string& status, const std::string& name) {
    const std::string key = "\"" + name + "\":";
    const size_t at = status.find(key);
    if (at == std::string::npos) return "(no " + name + ")";
    const size_t start = at + key.size();
    size_t end = start;
    for (int depth = 0; end < status.size(); ++end) {
      const char c = status[end];
      if (c == '{') ++depth;
      if (c == '}' && depth-- == 0) break;
      if (c == ',' && depth == 0 && status[end + 1] == '"') break;
    }
    return status.substr(start, end - start);
  }
};

TEST_F(SamplerStatusTest, ShowsTheSettingsAndNoRecordBeforeTheFirstCycle) {
  const std::string status = StatusJson();
  EXPECT_EQ(status.rfind("{\"serial\":42,\"mode\":\"KIRN\",\"period_minutes\":1,\"cycle\":0,"
                         "\"state\":\"waiting\",",
                         0),
            0u)
      << status;
  EXPECT_EQ(Member(status, "last_record"), "null");
  EXPECT_EQ(Member(status, "ports"), "{\"zol\":\"/dev/ttyS0\",\"ctd\":null}");
  EXPECT_EQ(Member(status, "started"), "\"" + IsoUtc(rig.clock.WallSeconds()) + "\"");
  EXPECT_EQ(Member(status, "alarm"), "false");
}

TEST_F(SamplerStatusTest, AForcedCycleShowsItsRecordAndTellsTheListenersUnderTheLock) {
  static std::string seen;
  seen.clear();
  AddCycleEndedListener([] { seen = StatusJson("\"backlog\":3"); });
  ForceSample();

  EXPECT_EQ(Member(seen, "cycle"), "1");
  EXPECT_EQ(Member(seen, "state"), "\"waiting\"");
  EXPECT_EQ(Member(seen, "records_stored"), "1");
  EXPECT_EQ(Member(seen, "last_record"),
            "{\"time\":\"2024-01-15T12:35:00Z\",\"file\":" + JsonString(State().datPath) +
                ",\"record\":\"" + zol.sampleRecord + "\"}");
  EXPECT_EQ(Member(seen, "next_sample"), "\"" + IsoUtc(State().nextSampleTime) + "\"");
  EXPECT_EQ(seen.substr(seen.size() - 13), ",\"backlog\":3}");
}

TEST_F(SamplerStatusTest, CountsScheduledCyclesWithoutARecordAndEscapesOddRecords) {
  zol.refuseSample = true;
  ScheduledCycleEnded(1, SampleCycle(), State().nextSampleTime);
  EXPECT_EQ(Member(StatusJson(), "cycles_without_record"), "1");

  zol.refuseSample = false;
  zol.sampleRecord = "1A2B, ZOL\x01\x7f\xe9, 2024/01/15 12:35:00";
  SampleCycle();
  EXPECT_EQ(Member(StatusJson(), "records_stored"), "1");
  EXPECT_NE(StatusJson().find("\"record\":\"1A2B, ZOL\\u0001\\u007f\\u00e9, 2024/01/15 "
                              "12:35:00\""),
            std::string::npos);
}

TEST_F(SamplerStatusTest, AnswersWhileTheTerminalHoldsTheCycleLock) {
  std::lock_guard lock(TheCycleLock());
  const TerminalOpenNote terminal;
  EXPECT_EQ(Member(StatusJson(), "state"), "\"terminal\"");
}

TEST(RecordTimeIsoTest, ReadsTheThirdFieldWhenItIsADateAndTime) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"1A2B, ZOL0042, 2024/01/15 12:35:00, 1705322100", "2024-01-15T12:35:00Z"},
      {"1A2B,ZOL0042,2026/12/11 23:59:59", "2026-12-11T23:59:59Z"},
      {"1A2B, ZOL0042, 2024/01/15 12:35:00\r", "2024-01-15T12:35:00Z"},
      {"1A2B, ZOL0042", ""},
      {"1A2B, ZOL0042, 2024-01-15 12:35:00, 1", ""},
      {"1A2B, ZOL0042, 2024/01/15 12:35, 1", ""},
      {"", ""},
  };
  for (const auto& [record, iso] : cases)
    EXPECT_EQ(RecordTimeIso(record), iso) << record;
}

}  // namespace
}  // namespace zol::test
