// The answers file read from its text: the answers it gives, and the first
// fault with its line and the allowed values.
#include "app/answers_file.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>

namespace zol::test {
namespace {

constexpr const char* kRequired = "serial_number = 42\nsample_rate = 5\nsample_mode = KIRN\n";

StartAnswers Parsed(const std::string& text) {
  const auto result = ParseAnswers(text);
  if (const auto* fault = std::get_if<AnswersFault>(&result)) {
    ADD_FAILURE() << "line " << fault->line << ": " << fault->what << "\n" << text;
    return {};
  }
  return std::get<StartAnswers>(result);
}

// "LINE: what" of the fault, or "(accepted)".
std::string Fault(const std::string& text) {
  const auto result = ParseAnswers(text);
  const auto* fault = std::get_if<AnswersFault>(&result);
  return fault == nullptr ? "(accepted)" : std::to_string(fault->line) + ": " + fault->what;
}

TEST(AnswersFileTest, RequiredKeysAloneLeaveEveryOtherToTheDialogue) {
  const StartAnswers a = Parsed(kRequired);
  EXPECT_EQ(a.serialNumber, 42);
  EXPECT_EQ(a.sampleRate, 5);
  EXPECT_EQ(a.sampleMode, 1);
  EXPECT_FALSE(a.solutionTemp || a.solutionSal || a.pumpSample || a.syncZolClock ||
               a.tzOffsetHours || a.daylight || a.transferPcTime || a.syncMinute);
  EXPECT_FALSE(a.removePrevious);
}

TEST(AnswersFileTest, EveryKeyWithCommentsBlanksAndSpacing) {
  const StartAnswers a = Parsed(
      "# mooring 7\n"
      "\n"
      "  serial_number=0042   # as on the housing\r\n"
      "sample_rate\t= 1440\n"
      "sample_mode = pado\n"
      "solution_temp = 12.5\n"
      "solution_sal = 35\n"
      "pump_sample = No\n"
      "sync_zol_clock = YES\n"
      "tz_offset_hours = -12\n"
      "daylight = 1\n"
      "transfer_pc_time = yes\n"
      "remove_previous = yes\n"
      "sync_minute = 0\n"
      "   \n");
  EXPECT_EQ(a.serialNumber, 42);
  EXPECT_EQ(a.sampleRate, 1440);
  EXPECT_EQ(a.sampleMode, 2);
  EXPECT_EQ(a.solutionTemp, "12.5");
  EXPECT_EQ(a.solutionSal, "35");
  EXPECT_EQ(a.pumpSample, false);
  EXPECT_EQ(a.syncZolClock, true);
  EXPECT_EQ(a.tzOffsetHours, -12);
  EXPECT_EQ(a.daylight, 1);
  EXPECT_EQ(a.transferPcTime, true);
  EXPECT_TRUE(a.removePrevious);
  EXPECT_EQ(a.syncMinute, 0);
}

TEST(AnswersFileTest, BoundsAreInclusive) {
  const std::string low = "serial_number = 1\nsample_rate = 1\nsample_mode = 1\n";
  const std::string high = "serial_number = 9999\nsample_rate = 1440\nsample_mode = 2\n";
  EXPECT_EQ(Parsed(low).serialNumber, 1);
  EXPECT_EQ(Parsed(high).serialNumber, 9999);
  EXPECT_EQ(Parsed(low + "tz_offset_hours = +12\n").tzOffsetHours, 12);
  EXPECT_EQ(Parsed(low + "sync_minute = 59\n").syncMinute, 59);
  EXPECT_EQ(Parsed(low + "solution_temp = 40.0\n").solutionTemp, "40.0");
  EXPECT_EQ(Parsed(low + "solution_sal = 0.\n").solutionSal, "0.");
}

TEST(AnswersFileTest, ValuesTheDialogueWouldRefuseAreFaultsWithTheAllowedValues) {
  const std::string r = kRequired;  // lines 1..3
  const struct {
    std::string text;
    const char* fault;
  } cases[] = {
      {"serial_number = 0\n", "1: serial_number must be 1..9999, not 0"},
      {"serial_number = 10000\n", "1: serial_number must be 1..9999, not 10000"},
      {"serial_number = 4294967338\n", "1: serial_number must be 1..9999, not 4294967338"},
      {"serial_number = 42x\n", "1: serial_number must be 1..9999, not 42x"},
      {"sample_rate = 1441\n", "1: sample_rate must be 1..1440, not 1441"},
      {"sample_mode = 3\n", "1: sample_mode must be 1, 2, KIRN or PADO, not 3"},
      {r + "solution_temp = 40.01\n", "4: solution_temp must be 0.0..40.0, not 40.01"},
      {r + "solution_sal = -0.5\n", "4: solution_sal must be 0.0..40.0, not -0.5"},
      {r + "solution_sal = 1e1\n", "4: solution_sal must be 0.0..40.0, not 1e1"},
      {r + "solution_temp = 1.2.3\n", "4: solution_temp must be 0.0..40.0, not 1.2.3"},
      {r + "solution_temp = 10.000000000000000000\n",
       "4: solution_temp must be 0.0..40.0, not 10.000000000000000000"},
      {r + "pump_sample = y\n", "4: pump_sample must be yes or no, not y"},
      {r + "sync_zol_clock = 1\n", "4: sync_zol_clock must be yes or no, not 1"},
      {r + "tz_offset_hours = -13\n", "4: tz_offset_hours must be -12..12, not -13"},
      {r + "daylight = 2\n", "4: daylight must be 0 or 1, not 2"},
      {r + "transfer_pc_time = maybe\n", "4: transfer_pc_time must be yes or no, not maybe"},
      {r + "remove_previous = YESS\n", "4: remove_previous must be yes or no, not YESS"},
      {r + "sync_minute = 60\n", "4: sync_minute must be 0..59, not 60"},
      {r + "sync_minute =\n", "4: sync_minute has no value; it must be 0..59"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Fault(c.text), c.fault) << c.text;
}

TEST(AnswersFileTest, MalformedUnknownAndRepeatedKeys) {
  const std::string r = kRequired;
  EXPECT_EQ(Fault("# start\nserial_number 42\n"),
            "2: expected 'key = value', not 'serial_number 42'");
  EXPECT_EQ(Fault(r + "\nsample_interval = 5\n"), "5: unknown key 'sample_interval'");
  EXPECT_EQ(Fault(r + "Serial_Number = 42\n"), "4: unknown key 'Serial_Number'");
  EXPECT_EQ(Fault(r + "# again\nserial_number = 43\n"),
            "5: serial_number is given twice (first on line 1)");
  // The first fault is the one told, even when a later line has another.
  EXPECT_EQ(Fault("daylight = 5\nbogus = 1\n"), "1: daylight must be 0 or 1, not 5");
}

TEST(AnswersFileTest, MissingRequiredKeyIsAFaultOfTheLastLine) {
  EXPECT_EQ(Fault(""), "0: serial_number is missing; it must be given, 1..9999");
  EXPECT_EQ(Fault("serial_number = 1\nsample_mode = 2\n# end\n"),
            "3: sample_rate is missing; it must be given, 1..1440");
  EXPECT_EQ(Fault("serial_number = 1\nsample_rate = 2"),
            "2: sample_mode is missing; it must be given, 1, 2, KIRN or PADO");
}

}  // namespace
}  // namespace zol::test
