#include "console/prompts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

#include "support/test_rig.h"

namespace zol {
namespace {

using test::TestRig;

constexpr const char* kTimeout = "\n\nInput Timeout!\n";

class PromptTest : public ::testing::Test {
 protected:
  TestRig rig;
};

struct EditCase {
  const char* name;
  std::string keys;
  int16_t capacity;
  int16_t result;
  std::string line;
  std::string echo;
  LineEnd end;
};

void PrintTo(const EditCase& c, std::ostream* os) {
  *os << c.name;
}

class EditLineTest : public PromptTest, public ::testing::WithParamInterface<EditCase> {};

TEST_P(EditLineTest, LineAndEcho) {
  const EditCase& c = GetParam();
  rig.keys.Push(c.keys);
  char buf[64];
  std::memset(buf, 'Z', sizeof buf);
  EXPECT_EQ(EditLine(buf, c.capacity), c.result);
  EXPECT_EQ(rig.console.Text(), c.echo);
  EXPECT_EQ(LastLineEnd(), c.end);
  if (c.end != LineEnd::kNoKey) {
    EXPECT_EQ(std::string(buf), c.line);
  }
}

const EditCase kEditCases[] = {
    {"EnterIsCarriageReturn", "abc\r", 20, 1, "abc", "abc", LineEnd::kEnter},
    {"EnterIsLineFeed", "ab\n", 20, 1, "ab", "ab", LineEnd::kEnter},
    {"BackspaceDropsLast", "ab\bc\r", 20, 1, "ac", "ab\bc", LineEnd::kEnter},
    {"BackspaceOnEmptyEchoesNothing", "\b\b\r", 20, 1, "", "", LineEnd::kEnter},
    {"CtrlUEmptiesLine",
     "abc\x15"
     "d\r",
     20, 1, "d", "abc\b\b\bd", LineEnd::kEnter},
    {"CtrlUOnEmptyEchoesNothing", "\x15\r", 20, 1, "", "", LineEnd::kEnter},
    {"CtrlRRepeatsAnswer",
     "ab\x12"
     "c\r",
     20, 1, "abc", "ab\nabc", LineEnd::kEnter},
    {"CtrlROnEmptyIsNewlineOnly", "\x12\r", 20, 1, "", "\n", LineEnd::kEnter},
    {"FullLineOverwritesLast", "abcde\r", 4, 1, "abe", "abc\bd\be", LineEnd::kEnter},
    {"SingleKeyLineIsReplaced", "yn\r", 2, 1, "n", "y\bn", LineEnd::kEnter},
    {"ControlsAreStoredAndEchoed", "\t\x1b\x07\r", 20, 1, "\t\x1b\x07", "\t\x1b\x07",
     LineEnd::kEnter},
    {"HighByteIsAKey", "\xe9\r", 20, 1, "\xe9", "\xe9", LineEnd::kEnter},
    {"CtrlCAbandons",
     "ab\x03"
     "cd\r",
     20, 0, "", "ab", LineEnd::kAbandoned},
    {"FunctionKeyAbandons", std::string("ab\0x", 4), 20, 0, "", "ab", LineEnd::kAbandoned},
    // An event, not a key: with no hook installed it changes nothing.
    {"CtrlBackslashLeavesTheLine",
     "ab\x1c"
     "c\r",
     20, 1, "abc", "abc", LineEnd::kEnter},
    {"EndOfInput", "ab", 20, 0, "", std::string("ab") + kTimeout, LineEnd::kNoKey},
};

INSTANTIATE_TEST_SUITE_P(Keys, EditLineTest, ::testing::ValuesIn(kEditCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(PromptTest, EditLineDecidesOnTheLowByte) {
  rig.keys.PushCode(0x100 + 'a');
  rig.keys.PushCode(0x100 + 13);
  char buf[8];
  EXPECT_EQ(EditLine(buf, 8), 1);
  EXPECT_EQ(std::string(buf), "a");
}

TEST_F(PromptTest, EditLineTreatsAnInterruptedWaitAsNoKey) {
  rig.keys.Push("a");
  rig.keys.PushCode(kKeyInterrupted);
  rig.keys.Push("b\r");
  char buf[8];
  EXPECT_EQ(EditLine(buf, 8), 0);
  EXPECT_EQ(rig.console.Text(), std::string("a") + kTimeout);
  EXPECT_EQ(LastLineEnd(), LineEnd::kNoKey);
  EXPECT_EQ(rig.keys.Remaining(), 2u);  // nothing read past the interrupt
}

TEST_F(PromptTest, EditLineRefusesATooSmallBuffer) {
  rig.keys.Push("a\r");
  char buf[1] = {'x'};
  EXPECT_EQ(EditLine(buf, 1), 0);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(rig.keys.Remaining(), 2u);
}

struct YesNoCase {
  const char* name;
  const char* question;
  uint16_t defaultYes;
  std::string keys;
  int16_t result;
  std::string screen;
};

void PrintTo(const YesNoCase& c, std::ostream* os) {
  *os << c.name;
}

class YesNoTest : public PromptTest, public ::testing::WithParamInterface<YesNoCase> {};

TEST_P(YesNoTest, AnswerAndScreen) {
  const YesNoCase& c = GetParam();
  rig.keys.Push(c.keys);
  EXPECT_EQ(PromptYesNo(c.question, c.defaultYes), c.result);
  EXPECT_EQ(rig.console.Text(), c.screen);
}

const YesNoCase kYesNoCases[] = {
    {"EnterKeepsNo", "Modify", 0, "\r", 0, "Modify (Yes/No) [N]"},
    {"EnterKeepsYes", "Pump?", 1, "\r", 1, "Pump? (Yes/No) [Y]"},
    {"LowerY", "Modify", 0, "y\r", 1, "Modify (Yes/No) [N]y"},
    {"UpperY", "Modify", 0, "Y\r", 1, "Modify (Yes/No) [N]Y"},
    {"LowerN", "Pump?", 1, "n\r", 0, "Pump? (Yes/No) [Y]n"},
    {"UpperN", "Pump?", 1, "N\r", 0, "Pump? (Yes/No) [Y]N"},
    {"SecondKeyReplacesFirst", "Modify", 0, "yn\r", 0, "Modify (Yes/No) [N]y\bn"},
    {"WrongKeyAsksAgainOnNewLine", "Modify", 0, "x\ry\r", 1,
     "Modify (Yes/No) [N]x\nModify (Yes/No) [N]y"},
    {"QuestionOnFreshLineAsksAgainWithoutBlankLine", "\nSync ZOL RTC to PC?", 0, "x\ry\r", 1,
     "\nSync ZOL RTC to PC? (Yes/No) [N]x\nSync ZOL RTC to PC? (Yes/No) [N]y"},
    {"CtrlCIsNo", "Pump?", 1, "\x03", 0, "Pump? (Yes/No) [Y]"},
    {"EndOfInputIsNoAndNotAskedAgain", "Pump?", 1, "", 0,
     std::string("Pump? (Yes/No) [Y]") + kTimeout},
    {"EndAfterWrongKey", "Q", 0, "x\r", 0,
     std::string("Q (Yes/No) [N]x\nQ (Yes/No) [N]") + kTimeout},
};

INSTANTIATE_TEST_SUITE_P(Answers, YesNoTest, ::testing::ValuesIn(kYesNoCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(PromptTest, YesNoKeepsAtMost89CharactersOfTheQuestion) {
  const std::string question(120, 'q');
  rig.keys.Push("\r");
  EXPECT_EQ(PromptYesNo(question.c_str(), 1), 1);
  EXPECT_EQ(rig.console.Text(), std::string(89, 'q') + " (Yes/No) [Y]");
}

TEST_F(PromptTest, YesNoQuestionIsNotAFormat) {
  rig.keys.Push("\r");
  PromptYesNo("100%s done", 0);
  EXPECT_EQ(rig.console.Text(), "100%s done (Yes/No) [N]");
}

struct ChoiceCase {
  const char* name;
  uint16_t defaultChar;
  const char* allowed;
  std::string keys;
  int16_t result;
  char answer;
  std::string screen;
};

void PrintTo(const ChoiceCase& c, std::ostream* os) {
  *os << c.name;
}

class ChoiceTest : public PromptTest, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(ChoiceTest, FoldingAndDefaults) {
  const ChoiceCase& c = GetParam();
  rig.keys.Push(c.keys);
  char answer = '?';
  EXPECT_EQ(PromptChoice("Q", c.defaultChar, c.allowed, &answer), c.result);
  if (c.result == 1) {
    EXPECT_EQ(answer, c.answer);
  }
  EXPECT_EQ(rig.console.Text(), c.screen);
}

const ChoiceCase kChoiceCases[] = {
    {"LowerSetFoldsToLower", 0, "abc", "B\r", 1, 'b', "QB"},
    {"UpperSetFoldsToUpper", 0, "ABC", "b\r", 1, 'B', "Qb"},
    {"MixedSetTakesAsTyped", 0, "aB", "A\rb\ra\r", 1, 'a', "QA\nQb\nQa"},
    {"DigitsUnchanged", 0, "123", "2\r", 1, '2', "Q2"},
    {"DefaultNeitherFoldedNorTested", 'y', "YN", "\r", 1, 'y', "Q [y]"},
    {"AbandonKeepsDefault", 'N', "YN", "\x03", 0, 'N', "Q [N]"},
    {"EmptyLineWithoutDefaultAsksAgain", 0, "YN", "\ry\r", 1, 'Y', "Q\nQy"},
    {"EmptySetTakesAnyKey", 0, "", "%\r", 1, '%', "Q%"},
};

INSTANTIATE_TEST_SUITE_P(Rules, ChoiceTest, ::testing::ValuesIn(kChoiceCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(PromptTest, ChoiceAbandonedLeavesTheDefaultAsAnswer) {
  rig.keys.Push("\x03");
  char answer = '?';
  EXPECT_EQ(PromptChoice("Q", 'N', "YN", &answer), 0);
  EXPECT_EQ(answer, 'N');
}

struct NumberCase {
  const char* name;
  const char* question;
  const char* display;
  const char* scan;
  int32_t start;
  std::string keys;
  int16_t result;
  int32_t value;
  std::string screen;
};

void PrintTo(const NumberCase& c, std::ostream* os) {
  *os << c.name;
}

class NumberTest : public PromptTest, public ::testing::WithParamInterface<NumberCase> {};

TEST_P(NumberTest, ValueAndScreen) {
  const NumberCase& c = GetParam();
  rig.keys.Push(c.keys);
  int32_t value = c.start;
  EXPECT_EQ(PromptNumber(c.question, c.display, c.scan, &value), c.result);
  EXPECT_EQ(value, c.value);
  EXPECT_EQ(rig.console.Text(), c.screen);
}

const NumberCase kNumberCases[] = {
    {"EnterKeepsDefault", "Rate", "%lu", "%lu", 2, "\r", 1, 2, "Rate [2] ? "},
    {"Answer", "Rate", "%lu", "%lu", 2, "15\r", 1, 15, "Rate [2] ? 15"},
    {"TrailingTextIgnored", "Rate", "%lu", "%lu", 2, "12abc\r", 1, 12, "Rate [2] ? 12abc"},
    {"BlanksKeepDefault", "Rate", "%lu", "%lu", 2, "   \r", 1, 2, "Rate [2] ?    "},
    {"NoNumberAsksAgain", "Rate", "%lu", "%lu", 2, "abc\r7\r", 1, 7,
     "Rate [2] ? abc\nRate [2] ? 7"},
    {"FreshLineQuestionAsksAgainWithoutBlankLine", "\nEnter minute value (mins)", "%lu", "%lu", 30,
     "x\r5\r", 1, 5, "\nEnter minute value (mins) [30] ? x\nEnter minute value (mins) [30] ? 5"},
    {"EmptyDisplayFormat", "Q", "", "%lu", 9, "\r", 1, 9, "Q ? "},
    {"NoDisplayFormat", "Q", nullptr, "%lu", 9, "3\r", 1, 3, "Q ? 3"},
    {"SignedOffset", "Off", "%ld", "%ld", -5, "-12\r", 1, -12, "Off [-5] ? -12"},
    {"UnsignedShowsAll32Bits", "Q", "%lu", "%lu", -1, "\r", 1, -1, "Q [4294967295] ? "},
    {"UnsignedOfMinusOne", "Q", "%lu", "%lu", 0, "-1\r", 1, -1, "Q [0] ? -1"},
    {"UnsignedSaturatesPast32Bits", "Q", "%lu", "%lu", 0, "4294967297\r", 1, -1,
     "Q [0] ? 4294967297"},
    {"SignedSaturatesPast32Bits", "Q", "%ld", "%ld", 0, "-3000000000\r", 1, INT32_MIN,
     "Q [0] ? -3000000000"},
    {"TwentiethCharacterReplacesNineteenth", "Q", "%lu", "%lu", 0, "00000000000000000012\r", 1, 2,
     "Q [0] ? 0000000000000000001\b2"},
    {"CtrlCKeepsDefault", "Q", "%lu", "%lu", 4, "12\x03", 0, 4, "Q [4] ? 12"},
    {"EndOfInputKeepsDefaultAndStops", "Q", "%lu", "%lu", 4, "abc\r", 0, 4,
     std::string("Q [4] ? abc\nQ [4] ? ") + kTimeout},
    {"BadScanFormatAbandons", "Q", "%lu", "%s", 4, "12\r", 0, 4, "Q [4] ? 12"},
};

INSTANTIATE_TEST_SUITE_P(Answers, NumberTest, ::testing::ValuesIn(kNumberCases),
                         [](const auto& param) { return std::string(param.param.name); });

struct FloatCase {
  const char* name;
  float start;
  std::string keys;
  int16_t result;
  float value;
  std::string screen;
};

void PrintTo(const FloatCase& c, std::ostream* os) {
  *os << c.name;
}

class FloatTest : public PromptTest, public ::testing::WithParamInterface<FloatCase> {};

TEST_P(FloatTest, ValueAndScreen) {
  const FloatCase& c = GetParam();
  rig.keys.Push(c.keys);
  float value = c.start;
  EXPECT_EQ(PromptFloat("\nEnter Solution Temperature", "%.2f", "%f", &value), c.result);
  EXPECT_EQ(value, c.value);
  EXPECT_EQ(rig.console.Text(), c.screen);
}

const FloatCase kFloatCases[] = {
    {"EnterKeepsDefault", 20.0f, "\r", 1, 20.0f, "\nEnter Solution Temperature [20.00] ? "},
    {"Answer", 20.0f, "12.5\r", 1, 12.5f, "\nEnter Solution Temperature [20.00] ? 12.5"},
    {"NoNumberAsksAgain", 35.0f, "x\r40\r", 1, 40.0f,
     "\nEnter Solution Temperature [35.00] ? x\nEnter Solution Temperature [35.00] ? 40"},
    {"AbandonKeepsDefault", 35.0f, "1\x03", 0, 35.0f, "\nEnter Solution Temperature [35.00] ? 1"},
};

INSTANTIATE_TEST_SUITE_P(Answers, FloatTest, ::testing::ValuesIn(kFloatCases),
                         [](const auto& param) { return std::string(param.param.name); });

class DateTimeTest : public PromptTest {
 protected:
  static std::tm March5() {
    std::tm t{};
    t.tm_year = 124;
    t.tm_mon = 2;
    t.tm_mday = 5;
    t.tm_hour = 6;
    t.tm_min = 7;
    t.tm_sec = 8;
    return t;
  }
};

TEST_F(DateTimeTest, EnterTakesTheShownDefaultInTmForm) {
  std::tm t = March5();
  rig.keys.Push("\r");
  EXPECT_EQ(PromptDateTime("When", 0, &t), 1);
  EXPECT_EQ(rig.console.Text(), "When [03/05/2024 06:07:08] ? ");
  EXPECT_EQ(t.tm_mon, 2);
  EXPECT_EQ(t.tm_year, 124);
  EXPECT_EQ(t.tm_mday, 5);
  EXPECT_EQ(t.tm_hour, 6);
  EXPECT_EQ(t.tm_min, 7);
  EXPECT_EQ(t.tm_sec, 8);
}

TEST_F(DateTimeTest, DefaultIsNormalised) {
  std::tm t = March5();
  t.tm_mon = 12;  // the thirteenth month is January of the next year
  rig.keys.Push("\r");
  EXPECT_EQ(PromptDateTime("When", 0, &t), 1);
  EXPECT_EQ(rig.console.Text(), "When [01/05/2025 06:07:08] ? ");
  EXPECT_EQ(t.tm_year, 125);
  EXPECT_EQ(t.tm_mon, 0);
}

TEST_F(DateTimeTest, NowIsShownInTheProgramsLocalTime) {
  std::tm t{};
  SetTimeZoneOffset(-19800);  // five and a half hours east
  rig.keys.Push("\r");
  EXPECT_EQ(PromptDateTime("When", 1, &t), 1);
  // The fake clock stands at 2024-01-15 12:34:56 UTC.
  EXPECT_EQ(rig.console.Text(), "When [01/15/2024 18:04:56] ? ");
  EXPECT_EQ(t.tm_hour, 18);
  EXPECT_EQ(t.tm_min, 4);
}

TEST_F(DateTimeTest, AnswerWithAnySeparators) {
  std::tm t = March5();
  rig.keys.Push("12/25/2024 13:45:00\r");
  EXPECT_EQ(PromptDateTime("When", 0, &t), 1);
  EXPECT_EQ(t.tm_mon, 11);
  EXPECT_EQ(t.tm_mday, 25);
  EXPECT_EQ(t.tm_year, 124);
  EXPECT_EQ(t.tm_hour, 13);
  EXPECT_EQ(t.tm_min, 45);
  EXPECT_EQ(t.tm_sec, 0);
}

TEST_F(DateTimeTest, IncompleteOrOutOfRangeAnswerAsksAgainAndLeavesTheTime) {
  for (const std::string answer :
       {"12/25", "12/25/2024 13:45:", "12/25/99999999999 13:45:00", "12/25/2024 13:45:-2147483649",
        "2147483648/25/2024 13:45:00", "12/25/2024 13:45:00\x03"}) {
    SCOPED_TRACE(answer);
    std::tm t = March5();
    const std::string typed = answer.substr(0, answer.find('\x03'));
    rig.keys.Push(answer == typed ? answer + "\r\x03" : answer);
    EXPECT_EQ(PromptDateTime("When", 0, &t), 0);
    // CTRL+C abandons the line: the answer is never taken.
    const std::string again = answer == typed ? "\nWhen [03/05/2024 06:07:08] ? " : "";
    EXPECT_EQ(rig.console.Take(), "When [03/05/2024 06:07:08] ? " + typed + again);
    EXPECT_EQ(t.tm_mon, 2);
    EXPECT_EQ(t.tm_mday, 5);
  }
}

TEST_F(PromptTest, FlushKeyboardWithNothingWaiting) {
  EXPECT_EQ(FlushKeyboard(), 0);
  EXPECT_EQ(rig.keys.ReadCount(), 0);
}

TEST_F(PromptTest, FlushKeyboardDiscardsEveryWaitingKey) {
  rig.keys.Push("abc");
  EXPECT_NE(FlushKeyboard(), 0);
  EXPECT_EQ(rig.keys.Remaining(), 0u);
  EXPECT_EQ(rig.keys.ReadCount(), 3);
  EXPECT_EQ(rig.console.Text(), "");
}

}  // namespace
}  // namespace zol
