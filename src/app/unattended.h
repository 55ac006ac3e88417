// An unattended start: the dialogue's questions answered from the file that
// ZOLSAMPLER_ANSWERS names. Each answer is typed ahead just before its
// question, so the console reads as if the operator had typed it. Without
// the variable every function here but LoadStartAnswers does nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/answers_file.h"

namespace zol {

// Reads and checks the whole file that ZOLSAMPLER_ANSWERS names (unset or
// empty: an attended start). On any fault says
// "zolsampler: PATH:LINE: what is wrong" on standard error and ends the
// program with status 1.
void LoadStartAnswers();

// Answers the questions from here on with `answers`, typing them ahead of
// the installed key source.
void UseStartAnswers(const StartAnswers& answers);
// Back to an attended start, the key source as it was. For tests: no other
// thread may be reading keys.
void ForgetStartAnswers();

// Type the answer to the question asked next: the file's value, else the
// default shown by the question. A yes/no answer is typed as Y or N.
void AnswerYesNo(std::optional<bool> StartAnswers::*key, bool defaultYes);
void AnswerYesNo(bool StartAnswers::*key);
void AnswerNumber(int32_t StartAnswers::*key);
void AnswerNumber(std::optional<int32_t> StartAnswers::*key, int32_t defaultValue);
void AnswerText(std::optional<std::string> StartAnswers::*key, const char* defaultText);
// Yes when the file gives a value and it differs from `current`; else no.
void AnswerChange(std::optional<int32_t> StartAnswers::*key, int32_t current);
// Yes when the file gives a value; else no.
void AnswerPresence(std::optional<int32_t> StartAnswers::*key);

}  // namespace zol
