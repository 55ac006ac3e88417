#include "app/unattended.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <variant>

#include "base/errno_text.h"
#include "console/typed_ahead_keys.h"

namespace zol {
namespace {

constexpr const char* kAnswersVariable = "ZOLSAMPLER_ANSWERS";
// An answers file is a dozen short lines; anything this large is not one.
constexpr size_t kMaxAnswersBytes = size_t{64} * 1024;

struct Unattended {
  StartAnswers answers;
  KeySource* device = nullptr;
  std::unique_ptr<TypedAheadKeys> keys;
};

// Set by the start-up thread before any other thread reads keys. Never
// destroyed while the program runs: its key source is the installed one,
// which the signal thread may interrupt while the process ends.
Unattended* g_unattended = nullptr;

[[noreturn]] void RefuseFile(const char* path, int line, const std::string& what) {
  std::fprintf(stderr, "zolsampler: %s:%d: %s\n", path, line, what.c_str());
  // NOLINTNEXTLINE(concurrency-mt-unsafe): what other threads use is never destroyed
  std::exit(1);
}

// A file that cannot be read has no line: its faults are on line 0.
[[noreturn]] void RefuseUnreadable(const char* path, int error) {
  RefuseFile(path, 0, std::string("cannot be read: ") + ErrnoText(error));
}

struct FileCloser {
  // Read only: nothing is lost when the close fails.
  void operator()(std::FILE* file) const { (void)std::fclose(file); }
};

// The whole file's text; refuses a file that cannot be read.
std::string ReadAnswersFile(const char* path) {
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
  if (!file) RefuseUnreadable(path, errno);
  std::string text;
  char chunk[4096];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
    text.append(chunk, got);
    if (text.size() > kMaxAnswersBytes) {
      RefuseFile(path, 0, "is larger than " + std::to_string(kMaxAnswersBytes) + " bytes");
    }
  }
  if (std::ferror(file.get()) != 0) RefuseUnreadable(path, errno);
  return text;
}

// The answer and Enter, when the start is unattended.
void Type(std::string_view answer) {
  if (g_unattended == nullptr) return;
  g_unattended->keys->Type(answer);
  g_unattended->keys->Type("\r");
}

const StartAnswers* Answers() {
  return g_unattended != nullptr ? &g_unattended->answers : nullptr;
}

std::string NumberText(int32_t value) {
  return std::to_string(value);
}

}  // namespace

void LoadStartAnswers() {
  const char* path = std::getenv(kAnswersVariable);
  if (path == nullptr || path[0] == '\0') return;
  const auto parsed = ParseAnswers(ReadAnswersFile(path));
  if (const auto* fault = std::get_if<AnswersFault>(&parsed)) {
    RefuseFile(path, fault->line, fault->what);
  }
  UseStartAnswers(std::get<StartAnswers>(parsed));
}

void UseStartAnswers(const StartAnswers& answers) {
  ForgetStartAnswers();
  auto unattended = std::make_unique<Unattended>();
  unattended->answers = answers;
  unattended->device = &Keys();
  unattended->keys = std::make_unique<TypedAheadKeys>(*unattended->device);
  InstallKeySource(unattended->keys.get());
  g_unattended = unattended.release();
}

void ForgetStartAnswers() {
  if (g_unattended == nullptr) return;
  InstallKeySource(g_unattended->device);
  delete std::exchange(g_unattended, nullptr);
}

void AnswerYesNo(std::optional<bool> StartAnswers::*key, bool defaultYes) {
  if (const StartAnswers* a = Answers()) Type((a->*key).value_or(defaultYes) ? "Y" : "N");
}

void AnswerYesNo(bool StartAnswers::*key) {
  if (const StartAnswers* a = Answers()) Type(a->*key ? "Y" : "N");
}

void AnswerNumber(int32_t StartAnswers::*key) {
  if (const StartAnswers* a = Answers()) Type(NumberText(a->*key));
}

void AnswerNumber(std::optional<int32_t> StartAnswers::*key, int32_t defaultValue) {
  if (const StartAnswers* a = Answers()) Type(NumberText((a->*key).value_or(defaultValue)));
}

void AnswerText(std::optional<std::string> StartAnswers::*key, const char* defaultText) {
  if (const StartAnswers* a = Answers()) Type((a->*key).value_or(defaultText));
}

void AnswerChange(std::optional<int32_t> StartAnswers::*key, int32_t current) {
  if (const StartAnswers* a = Answers()) {
    Type((a->*key).has_value() && *(a->*key) != current ? "Y" : "N");
  }
}

void AnswerPresence(std::optional<int32_t> StartAnswers::*key) {
  if (const StartAnswers* a = Answers()) Type((a->*key).has_value() ? "Y" : "N");
}

}  // namespace zol
