// The local side of zolctl's terminal on Windows. The console gives its keys
// through the C runtime (_kbhit/_getch: no echo, no wait for Enter); raw
// mode here only turns off the console's own handling of CTRL+C, so that it
// reaches the ZOL, and is put back on every way out: the destructor, and the
// console's control handler when the window closes or the session ends.
#include <conio.h>
#include <windows.h>

#include <atomic>

#include "ctl/terminal_mode.h"

namespace zol::ctl {
namespace {

DWORD g_saved = 0;
std::atomic<bool> g_raw{false};

HANDLE Input() {
  return ::GetStdHandle(STD_INPUT_HANDLE);
}

void Restore() {
  if (g_raw.exchange(false)) ::SetConsoleMode(Input(), g_saved);
}

BOOL WINAPI OnConsoleControl(DWORD) {
  Restore();
  return FALSE;  // the default handling ends the program
}

bool IsConsole() {
  DWORD mode = 0;
  return ::GetConsoleMode(Input(), &mode) != 0;
}

}  // namespace

RawTerminal::RawTerminal() {
  if (!::GetConsoleMode(Input(), &g_saved)) return;
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  if (::SetConsoleMode(Input(),
                       g_saved & ~static_cast<DWORD>(ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT |
                                                     ENABLE_ECHO_INPUT)))
    g_raw.store(true);
}

RawTerminal::~RawTerminal() {
  Restore();
  ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

long ReadInput(char* buffer, std::size_t size) {
  if (IsConsole()) {
    // The keys typed so far; a cursor or function key (0 or 224, then its
    // code) has no byte for the ZOL and is left out.
    std::size_t count = 0;
    while (count < size && ::_kbhit() != 0) {
      const int key = ::_getch();
      if (key == 0 || key == 0xE0) {
        static_cast<void>(::_getch());
        continue;
      }
      buffer[count++] = static_cast<char>(key);
    }
    return count > 0 ? static_cast<long>(count) : -1;
  }
  DWORD got = 0;
  if (!::ReadFile(Input(), buffer, static_cast<DWORD>(size), &got, nullptr)) return 0;
  return static_cast<long>(got);
}

void WriteOutput(const char* bytes, std::size_t count) {
  const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  while (count > 0) {
    DWORD written = 0;
    if (!::WriteFile(output, bytes, static_cast<DWORD>(count), &written, nullptr) || written == 0)
      return;
    bytes += written;
    count -= written;
  }
}

}  // namespace zol::ctl
