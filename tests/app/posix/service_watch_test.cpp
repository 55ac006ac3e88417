// The sampler as a watched service: the notifications a service manager
// receives on a real datagram socket, the no-record alarm counted over
// scheduled cycles on the driven clock (its lines, its STATUS and its
// command), the refused settings and the watchdog's health.
#include "app/service_watch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/cycle_fixture.h"
#include "app/sampling_thread.h"
#include "app/service_platform.h"
#include "app/stop_event.h"

namespace zol::test {
namespace {

// A service manager's end of NOTIFY_SOCKET: a datagram socket at a path in
// `dir`, or in the abstract namespace.
class NotifyReceiver {
 public:
  NotifyReceiver(const std::string& name, bool abstract) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s%s", abstract ? "@" : "",
                  name.c_str());
    const std::string setting = address.sun_path;
    if (abstract) address.sun_path[0] = '\0';
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + setting.size());
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&address), size) == 0;
    setenv("NOTIFY_SOCKET", setting.c_str(), 1);
  }
  ~NotifyReceiver() {
    unsetenv("NOTIFY_SOCKET");
    close(fd_);
  }
  bool Bound() const { return bound_; }

  // Every message that has arrived, in order.
  std::vector<std::string> Take() {
    std::vector<std::string> messages;
    char buffer[512];
    for (ssize_t got; (got = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) >= 0;)
      messages.emplace_back(buffer, static_cast<size_t>(got));
    return messages;
  }

 private:
  int fd_ = -1;
  bool bound_ = false;
};

// Lines from a FIFO the alarm command writes to; stops after `count` lines
// or 10 s.
std::vector<std::string> ReadLines(const std::string& fifo, size_t count) {
  const int fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  std::string text;
  std::vector<std::string> lines;
  while (fd >= 0 && lines.size() < count) {
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, 10000) <= 0) break;
    char buffer[256];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) text.append(buffer, static_cast<size_t>(got));
    if (got == 0) {
      pollfd again{fd, 0, 0};
      poll(&again, 1, 50);  // writer gone: let the next one open it
    }
    lines.clear();
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1)
      lines.push_back(text.substr(start, end - start));
  }
  if (fd >= 0) close(fd);
  return lines;
}

class ServiceWatchTest : public CycleFixture {
 protected:
  void SetUp() override {
    CycleFixture::SetUp();
    State().stopEvent = std::make_shared<AutoResetEvent>();
    for (const char* name : {"ZOLSAMPLER_ALARM_AFTER", "ZOLSAMPLER_ALARM_COMMAND", "WATCHDOG_USEC",
                             "WATCHDOG_PID", "JOURNAL_STREAM"})
      unsetenv(name);
  }
  void TearDown() override {
    ResetServiceWatch();
    for (const char* name :
         {"ZOLSAMPLER_ALARM_AFTER", "ZOLSAMPLER_ALARM_COMMAND", "WATCHDOG_USEC", "JOURNAL_STREAM"})
      unsetenv(name);
  }
};

TEST(NoRecordAlarmTest, RaisesOnceOnTheNthCycleInARowAndRecoversOnce) {
  using Change = NoRecordAlarm::Change;
  struct Case {
    int after;
    std::vector<bool> stored;
    std::vector<Change> changes;
  };
  const Change n = Change::kNone;
  const Change r = Change::kRaised;
  const Change v = Change::kRecovered;
  const std::vector<Case> cases = {
      {3, {false, false, false, false, true, true}, {n, n, r, n, v, n}},
      {3, {false, false, true, false, false, false}, {n, n, n, n, n, r}},
      {1, {false, true, false, true}, {r, v, r, v}},
      {0, {false, false, false, false, true}, {n, n, n, n, n}},
      {2, {true, true, false, true}, {n, n, n, n}},
  };
  for (const Case& c : cases) {
    NoRecordAlarm alarm(c.after);
    std::vector<Change> changes;
    for (bool stored : c.stored)
      changes.push_back(alarm.Count(stored));
    EXPECT_EQ(changes, c.changes) << "after " << c.after;
  }
}

TEST(CycleStatusTest, SaysWhatTheCycleStoredOrWhereItFailed) {
  // 2024-01-15 12:44:47 UTC; the fixture's zone is UTC.
  setenv("TZ", "UTC", 1);
  const int64_t next = 1705322687;
  EXPECT_EQ(CycleStatus(12, {1, ""}, 0, next, false),
            "cycle 12: record stored; next sample 12:44:47");
  EXPECT_EQ(CycleStatus(3, {2, ""}, 0, next, false),
            "cycle 3: 2 records stored; next sample 12:44:47");
  EXPECT_EQ(CycleStatus(13, {0, "Take Sample ERROR"}, 3, next, true),
            "cycle 13: Take Sample ERROR, 3 cycles without a record (ALARM)");
  EXPECT_EQ(CycleStatus(1, {0, "ZOL Wakeup ERROR"}, 1, next, false),
            "cycle 1: ZOL Wakeup ERROR, 1 cycle without a record");
}

TEST_F(ServiceWatchTest, NotificationsReachAPathAndAnAbstractSocket) {
  EXPECT_FALSE(NotifyServiceManager("READY=1"));  // no manager: nothing sent
  {
    NotifyReceiver manager(dir.File("notify"), false);
    ASSERT_TRUE(manager.Bound());
    EXPECT_TRUE(NotifyServiceManager("READY=1"));
    EXPECT_TRUE(NotifyServiceManager("STATUS=cycle 1: record stored"));
    EXPECT_EQ(manager.Take(),
              (std::vector<std::string>{"READY=1", "STATUS=cycle 1: record stored"}));
  }
  NotifyReceiver manager("zolsampler-test-" + std::to_string(getpid()), true);
  ASSERT_TRUE(manager.Bound());
  setenv("WATCHDOG_USEC", "3600000000", 1);  // an hour: no ping falls due here
  rig.clock.HoldWaits(true);
  LoadServiceSettings();
  ServiceReady();
  rig.clock.AwaitHeldWaits(1);  // the watchdog's thread waits for its next ping
  ServiceStopping();            // and is ended and joined at once
  EXPECT_EQ(manager.Take(), (std::vector<std::string>{"READY=1", "WATCHDOG=1", "STOPPING=1"}));
}

TEST_F(ServiceWatchTest, ScheduledCyclesWithoutRecordsRaiseTheAlarmAndRecordsEndIt) {
  NotifyReceiver manager(dir.File("notify"), false);
  const std::string fifo = dir.File("alarms");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  setenv("ZOLSAMPLER_ALARM_AFTER", "2", 1);
  setenv("ZOLSAMPLER_ALARM_COMMAND",
         ("echo \"$ZOLSAMPLER_ALARM $ZOLSAMPLER_ALARM_MISSED $ZOLSAMPLER_ALARM_CYCLE "
          "$ZOLSAMPLER_ALARM_SERIAL $ZOLSAMPLER_ALARM_REASON\" >" +
          fifo)
             .c_str(),
         1);
  setenv("TZ", "UTC", 1);
  // Cycles 1 and 5 store their record; 2, 3 and 4 are refused; the thread
  // stops after cycle 5.
  int cycle = 0;
  zol.onCommand = [&](const std::string& command) {
    if (command != "TS") return;
    ++cycle;
    zol.refuseSample = cycle >= 2 && cycle <= 4;
    if (cycle == 5) State().stopEvent->Set();
  };
  LoadServiceSettings();
  ::testing::internal::CaptureStderr();
  const int32_t noSync = -1;
  EXPECT_EQ(SampleThread(&noSync), kSampleThreadExitCode);
  const std::string errors = ::testing::internal::GetCapturedStderr();

  EXPECT_EQ(errors,
            "zolsampler: ALARM: no record stored in 2 scheduled cycles in a row (cycle 3: Take "
            "Sample ERROR)\n"
            "zolsampler: recovered: cycle 5 stored a record after 3 cycles without one\n");
  std::vector<std::string> statuses = manager.Take();
  ASSERT_EQ(statuses.size(), 5u);
  EXPECT_EQ(statuses[0].rfind("STATUS=cycle 1: record stored; next sample ", 0), 0u) << statuses[0];
  EXPECT_EQ(statuses[1], "STATUS=cycle 2: Take Sample ERROR, 1 cycle without a record");
  EXPECT_EQ(statuses[2], "STATUS=cycle 3: Take Sample ERROR, 2 cycles without a record (ALARM)");
  EXPECT_EQ(statuses[3], "STATUS=cycle 4: Take Sample ERROR, 3 cycles without a record (ALARM)");
  EXPECT_EQ(statuses[4].rfind("STATUS=cycle 5: record stored; next sample ", 0), 0u) << statuses[4];

  // The two runs are detached and may finish in either order.
  std::vector<std::string> runs = ReadLines(fifo, 2);
  std::sort(runs.begin(), runs.end());
  EXPECT_EQ(runs, (std::vector<std::string>{
                      "no-records 2 3 0042 ALARM: no record stored in 2 scheduled cycles in a row "
                      "(cycle 3: Take Sample ERROR)",
                      "recovered 0 5 0042 recovered: cycle 5 stored a record after 3 cycles "
                      "without one"}));
}

TEST_F(ServiceWatchTest, TheJournalGetsTheWarningPriorityAndAFailingCommandIsShownOnce) {
  setenv("ZOLSAMPLER_ALARM_AFTER", "1", 1);
  setenv("ZOLSAMPLER_ALARM_COMMAND", "exit 3", 1);
  LoadServiceSettings();
  ::testing::internal::CaptureStderr();
  struct stat info {};
  ASSERT_EQ(fstat(STDERR_FILENO, &info), 0);
  const std::string stream = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
  setenv("JOURNAL_STREAM", stream.c_str(), 1);
  const CycleOutcome failed{0, "ZOL Wakeup ERROR"};
  const CycleOutcome good{1, ""};
  ScheduledCycleEnded(1, failed, 0);
  ScheduledCycleEnded(2, good, 0);
  // Both runs fail; they are collected at later cycles' ends, never waited
  // for, and the failure is shown once.
  std::string errors;
  for (int cycle = 3; cycle < 300 && errors.find("status 3") == std::string::npos; ++cycle) {
    usleep(10000);
    ScheduledCycleEnded(cycle, good, 0);
    errors += ::testing::internal::GetCapturedStderr();
    ::testing::internal::CaptureStderr();
  }
  usleep(100000);
  ScheduledCycleEnded(400, good, 0);
  errors += ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(errors.rfind("<4>zolsampler: ALARM: no record stored in 1 scheduled cycles", 0), 0u)
      << errors;
  EXPECT_NE(errors.find("\n<5>zolsampler: recovered: cycle 2 stored a record"), std::string::npos);
  size_t shown = 0;
  for (size_t at = errors.find("ZOLSAMPLER_ALARM_COMMAND"); at != std::string::npos;
       at = errors.find("ZOLSAMPLER_ALARM_COMMAND", at + 1))
    ++shown;
  EXPECT_EQ(shown, 1u) << errors;
}

TEST_F(ServiceWatchTest, ABadAlarmCountIsRefusedAtStart) {
  for (const char* bad : {"", "x", "-1", "3x", " 3", "1e3", "99999999999"}) {
    setenv("ZOLSAMPLER_ALARM_AFTER", bad, 1);
    EXPECT_EXIT(LoadServiceSettings(), ::testing::ExitedWithCode(1),
                "^zolsampler: ZOLSAMPLER_ALARM_AFTER: '.*' is not a count of cycles")
        << "'" << bad << "'";
  }
  for (const char* good : {"0", "3", "100000"}) {
    setenv("ZOLSAMPLER_ALARM_AFTER", good, 1);
    LoadServiceSettings();
  }
}

TEST(ParseSettingCountTest, DigitsUpToTheBoundOnlyAndARefusalKeepsTheValue) {
  const struct {
    const char* text;
    bool taken;
    int value;
  } cases[] = {{"0", true, 0},  {"86400", true, 86400}, {"007", true, 7}, {"86401", false, -1},
               {"", false, -1}, {"+5", false, -1},      {"5 ", false, -1}};
  for (const auto& c : cases) {
    int value = -1;
    EXPECT_EQ(ParseSettingCount(c.text, 86400, &value), c.taken) << "'" << c.text << "'";
    EXPECT_EQ(value, c.value) << "'" << c.text << "'";
  }
}

TEST_F(ServiceWatchTest, ACycleOlderThanTheLongestIsNoLongerHealthy) {
  EXPECT_TRUE(WatchdogHealthy(-1, rig.clock.MonotonicMs()));
  const int64_t start = rig.clock.MonotonicMs();
  rig.clock.Advance(kLongestCycleMs);
  EXPECT_TRUE(WatchdogHealthy(start, rig.clock.MonotonicMs()));
  rig.clock.Advance(1);
  EXPECT_FALSE(WatchdogHealthy(start, rig.clock.MonotonicMs()));
}

}  // namespace
}  // namespace zol::test
