// Everything the program shows the operator goes through here, so that every
// line reaches the screen (or a pipe into tee) when it happens and tests can
// capture the exact bytes.
#pragma once

#include <cstddef>
#include <cstdio>

namespace zol {

// Formats to the console and flushes it.
void ConsolePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes bytes as they are (no translation) and flushes.
void ConsoleWrite(const char* bytes, std::size_t count);
void ConsolePutc(int ch);
// The terminal bell, the program's beep.
void ConsoleBeep();

// Receives a copy of every byte written to the console, on the writer's
// thread, after the console has it; it must not block nor write to the
// console. nullptr removes it. Installed by the application.
using ConsoleTee = void (*)(const char* bytes, std::size_t count);
void SetConsoleTee(ConsoleTee tee);

// The stream the console writes to: standard output unless a test set another.
std::FILE* ConsoleStream();
// nullptr restores standard output. Not owned.
void SetConsoleStream(std::FILE* stream);

}  // namespace zol
