// The line editor and the prompts of every operator dialogue. Results: 1
// answered (or default kept), 0 abandoned or no key could be read.
#pragma once

#include <cstdint>
#include <ctime>

namespace zol {

int16_t EditLine(char* buf, int16_t capacity);
int16_t PromptChoice(const char* question, uint16_t defaultChar, const char* allowed, char* answer);
// 1 for Yes; 0 for No or abandoned.
int16_t PromptYesNo(const char* question, uint16_t defaultYes);
// `display` may be null or empty; `scan` is "%lu" or "%ld" where l denotes a
// 32-bit integer. `value` is the default and the result.
int16_t PromptNumber(const char* question, const char* display, const char* scan, int32_t* value);
int16_t PromptFloat(const char* question, const char* display, const char* scan, float* value);
int16_t PromptDateTime(const char* question, uint16_t useNow, std::tm* time);
// Nonzero when a key was waiting on entry; discards every waiting key.
int FlushKeyboard();

// CTRL+\ stands for CTRL+BREAK, a console control event rather than a key:
// at a prompt it calls the hook the application installs here (nothing
// when there is none) and the question goes on waiting for its answer.
// nullptr removes the hook.
void SetBreakKeyHook(void (*hook)());

// How the last line edit on this thread ended. A result of 0 means either
// that the operator abandoned the question or that no key can be read; a
// dialogue that asks until it gets a new value stops only on the latter.
enum class LineEnd { kEnter, kAbandoned, kNoKey };
LineEnd LastLineEnd();

}  // namespace zol
