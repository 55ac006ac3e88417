#include "console/prompts.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/clock.h"
#include "base/console_out.h"
#include "base/local_time.h"
#include "base/value_format.h"
#include "console/keys.h"

namespace zol {
namespace {

// The keys the line editor acts on; every other code is appended and echoed.
constexpr int kFunctionKeyLead = 0;  // the first code of a function key
constexpr int kCtrlC = 3;
constexpr char kBackspace = 8;
constexpr int kLineFeed = 10;
constexpr int kCarriageReturn = 13;
constexpr int kCtrlR = 18;
constexpr int kCtrlU = 21;
constexpr int kCtrlBackslash = 28;  // CTRL+BREAK, the other control event
constexpr int16_t kChoiceCapacity = 2;
constexpr int16_t kNumberCapacity = 20;
constexpr int16_t kDateCapacity = 40;
// The question part of a yes/no prompt, terminator included.
constexpr int kYesNoQuestionBytes = 90;

thread_local LineEnd g_lastLineEnd = LineEnd::kEnter;
std::atomic<void (*)()> g_breakKeyHook{nullptr};

int16_t EndLine(LineEnd how) {
  g_lastLineEnd = how;
  return how == LineEnd::kEnter ? 1 : 0;
}

void EchoBackspaces(int count) {
  for (int i = 0; i < count; ++i)
    ConsolePutc(kBackspace);
}

void PrintQuestion(const char* question) {
  ConsoleWrite(question, std::strlen(question));
}

// A question that starts on a fresh line of its own needs no newline before
// it is asked again.
void NewlineBeforeReask(const char* question) {
  if (question[0] != '\n') ConsolePutc('\n');
}

enum class Folding { kUpper, kLower, kNone };

bool IsUpper(char c) {
  return c >= 'A' && c <= 'Z';
}
bool IsLower(char c) {
  return c >= 'a' && c <= 'z';
}

Folding FoldingFor(const char* allowed) {
  bool hasUpper = false;
  bool hasLower = false;
  for (const char* p = allowed; *p != '\0'; ++p) {
    hasUpper = hasUpper || IsUpper(*p);
    hasLower = hasLower || IsLower(*p);
  }
  if (!hasLower) return Folding::kUpper;
  if (!hasUpper) return Folding::kLower;
  return Folding::kNone;
}

char Fold(char c, Folding folding) {
  if (folding == Folding::kUpper && IsLower(c)) return static_cast<char>(c - 'a' + 'A');
  if (folding == Folding::kLower && IsUpper(c)) return static_cast<char>(c - 'A' + 'a');
  return c;
}

// An empty set accepts any character.
bool IsAllowed(char answer, const char* allowed) {
  if (answer == '\0') return false;
  return allowed[0] == '\0' || std::strchr(allowed, answer) != nullptr;
}

bool FormatValue(char* out, std::size_t size, const char* display, int32_t value) {
  return FormatInt32(out, size, display, value);
}
bool FormatValue(char* out, std::size_t size, const char* display, float value) {
  return FormatFloat(out, size, display, value);
}

// The part of the number prompts after the question: the default shown in
// brackets when there is a display format, then " ? ".
template <typename Value>
void PrintDefault(const char* display, Value value) {
  char text[64];
  if (display != nullptr && display[0] != '\0' && FormatValue(text, sizeof text, display, value)) {
    ConsolePrintf(" [%s]", text);
  }
  ConsolePrintf(" ? ");
}

int ScanValue(const char* line, const char* scan, int32_t* value) {
  return ScanInt32(line, scan, value);
}
int ScanValue(const char* line, const char* scan, float* value) {
  return ScanFloat(line, scan, value);
}

template <typename Value>
int16_t PromptValue(const char* question, const char* display, const char* scan, Value* value) {
  if (value == nullptr) return EndLine(LineEnd::kAbandoned);
  if (question == nullptr) question = "";
  for (;;) {
    PrintQuestion(question);
    PrintDefault(display, *value);
    char line[kNumberCapacity];
    if (EditLine(line, kNumberCapacity) == 0) return 0;
    if (line[0] == '\0') return 1;
    const int converted = ScanValue(line, scan, value);
    if (converted == kBadScanFormat) return EndLine(LineEnd::kAbandoned);
    // EOF (a line of blanks) keeps the default, as a conversion does its value.
    if (converted != 0) return 1;
    NewlineBeforeReask(question);
  }
}

void FormatLocalDate(int64_t seconds, char* out, std::size_t size) {
  std::tm local = ToLocalTime(seconds);
  if (std::strftime(out, size, "%m/%d/%Y %H:%M:%S", &local) == 0) out[0] = '\0';
}

// One decimal number after optional blanks, into an int; false when there
// is none or it is out of range. `at` moves past it.
bool ScanInt(const char*& at, int* value) {
  char* end = nullptr;
  errno = 0;
  const long wide = std::strtol(at, &end, 10);
  if (end == at || errno == ERANGE || wide < INT_MIN || wide > INT_MAX) return false;
  *value = static_cast<int>(wide);
  at = end;
  return true;
}

// Month, day, year, hour, minute and second, each number followed by one
// separator of any kind. Only a complete answer is taken; a partial one
// would leave a mix of old and new fields.
bool ScanDateTime(const char* line, std::tm* time) {
  int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
  int* const fields[] = {&month, &day, &year, &hour, &minute, &second};
  const char* at = line;
  for (int* field : fields) {
    if (field != fields[0]) {
      if (*at == '\0') return false;
      ++at;  // the separator
    }
    if (!ScanInt(at, field)) return false;
  }
  // tm counts months from 0 and years from 1900; refuse what would overflow.
  if (month == INT_MIN || year < INT_MIN + 1900) return false;
  time->tm_mon = month - 1;
  time->tm_mday = day;
  time->tm_year = year - 1900;
  time->tm_hour = hour;
  time->tm_min = minute;
  time->tm_sec = second;
  return true;
}

}  // namespace

LineEnd LastLineEnd() {
  return g_lastLineEnd;
}

int16_t EditLine(char* buf, int16_t capacity) {
  if (buf == nullptr || capacity < 2) {
    if (buf != nullptr && capacity == 1) buf[0] = '\0';
    return EndLine(LineEnd::kAbandoned);
  }
  int length = 0;
  buf[0] = '\0';
  for (;;) {
    const int code = GetKey();
    // Every negative code (input ended, wait interrupted) means no key.
    if (code < 0) {
      ConsolePrintf("\n\nInput Timeout!\n");
      return EndLine(LineEnd::kNoKey);
    }
    const char key = static_cast<char>(code & 0xFF);
    switch (code & 0xFF) {
      case kFunctionKeyLead:
      case kCtrlC:
        buf[0] = '\0';
        return EndLine(LineEnd::kAbandoned);
      case kCtrlBackslash:  // an event: the line stays as it is
        if (void (*hook)() = g_breakKeyHook.load()) hook();
        break;
      case kBackspace:
        if (length > 0) {
          buf[--length] = '\0';
          ConsolePutc(kBackspace);
        }
        break;
      case kLineFeed:
      case kCarriageReturn:  // Enter: not echoed, the caller ends the line
        return EndLine(LineEnd::kEnter);
      case kCtrlR:  // the answer so far on a fresh line
        ConsolePutc('\n');
        ConsoleWrite(buf, static_cast<std::size_t>(length));
        break;
      case kCtrlU:  // the answer emptied
        EchoBackspaces(length);
        length = 0;
        buf[0] = '\0';
        break;
      default:
        if (length < capacity - 1) {
          buf[length++] = key;
          buf[length] = '\0';
        } else {
          // A full line never grows: the key takes the last place.
          buf[length - 1] = key;
          ConsolePutc(kBackspace);
        }
        ConsolePutc(key);
        break;
    }
  }
}

int16_t PromptChoice(const char* question, uint16_t defaultChar, const char* allowed,
                     char* answer) {
  if (allowed == nullptr) allowed = "";
  if (question == nullptr) question = "";
  char unused = 0;
  if (answer == nullptr) answer = &unused;
  const Folding folding = FoldingFor(allowed);
  const char defaultKey = static_cast<char>(defaultChar & 0xFF);
  for (;;) {
    PrintQuestion(question);
    if (defaultChar != 0) {
      *answer = defaultKey;
      ConsolePrintf(" [%c]", defaultKey);
    }
    char line[kChoiceCapacity];
    if (EditLine(line, kChoiceCapacity) == 0) return 0;
    // Enter alone takes the default as it is, neither folded nor tested.
    if (defaultChar != 0 && line[0] == '\0') return 1;
    *answer = Fold(line[0], folding);
    if (IsAllowed(*answer, allowed)) return 1;
    NewlineBeforeReask(question);
  }
}

int16_t PromptYesNo(const char* question, uint16_t defaultYes) {
  // At most 89 characters of the question are kept; longer ones are cut.
  char prompt[kYesNoQuestionBytes + sizeof " (Yes/No)"];
  std::snprintf(prompt, sizeof prompt, "%.*s (Yes/No)", kYesNoQuestionBytes - 1,
                question != nullptr ? question : "");
  char answer = 0;
  if (PromptChoice(prompt, defaultYes != 0 ? 'Y' : 'N', "YN", &answer) == 0) return 0;
  return answer == 'Y' ? 1 : 0;
}

int16_t PromptNumber(const char* question, const char* display, const char* scan, int32_t* value) {
  return PromptValue(question, display, scan, value);
}

int16_t PromptFloat(const char* question, const char* display, const char* scan, float* value) {
  return PromptValue(question, display, scan, value);
}

int16_t PromptDateTime(const char* question, uint16_t useNow, std::tm* time) {
  if (time == nullptr) return EndLine(LineEnd::kAbandoned);
  if (question == nullptr) question = "";
  for (;;) {
    PrintQuestion(question);
    const int64_t seconds = useNow != 0 ? WallNow() : FromLocalTime(time);
    char shown[kDateCapacity];
    FormatLocalDate(seconds, shown, sizeof shown);
    ConsolePrintf(" [%s] ? ", shown);
    char line[kDateCapacity];
    if (EditLine(line, kDateCapacity) == 0) return 0;
    if (line[0] == '\0') std::snprintf(line, sizeof line, "%s", shown);
    if (ScanDateTime(line, time)) return 1;
    NewlineBeforeReask(question);
  }
}

void SetBreakKeyHook(void (*hook)()) {
  g_breakKeyHook.store(hook);
}

int FlushKeyboard() {
  const int waiting = KeyWaiting() ? 1 : 0;
  while (KeyWaiting()) {
    if (GetKey() < 0) break;
  }
  return waiting;
}

}  // namespace zol
