// The local side of zolctl's terminal: standard input in raw mode for as
// long as a RawTerminal lives (put back on every way out, a signal that
// ends the program included), and the bytes of both standard streams
// unchanged.
#pragma once

#include <cstddef>

namespace zol::ctl {

class RawTerminal {
 public:
  // Nothing when standard input is no terminal.
  RawTerminal();
  ~RawTerminal();
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;
};

// Bytes read from standard input (> 0), 0 at its end, -1 when nothing
// was there after all (a console's event that was no key).
long ReadInput(char* buffer, std::size_t size);
// Writes bytes to standard output as they are, at once.
void WriteOutput(const char* bytes, std::size_t count);

}  // namespace zol::ctl
