// Append-only text files that survive a crash or a full disk: every line
// reaches the file whole or not at all, and a closed file is on disk.
#pragma once

#include <cstdio>

namespace zol {

// Opens (creating it when missing) `path` for appending and returns a stream
// for fprintf and friends, or nullptr with errno set. The complete lines of
// each write are appended with one write(2) on an O_APPEND descriptor; when
// that write fails or falls short the file is cut back to its size before
// it, so no fragment stays behind; later lines are still tried. Closing
// writes a last unterminated piece and syncs the file to disk; fclose
// fails, with errno the reason of the first loss, when any line or the sync
// failed. (fprintf itself does not see the loss.)
std::FILE* OpenLineFile(const char* path);

}  // namespace zol
