// The data-file steps of start-up: the previous-file check and the
// configuration records.
#pragma once

namespace zol {

// Forms logPath, datPath and dat2Path and offers to remove files found.
void CheckPreviousFiles();
// Header block (for an empty data file) and configuration records; ends the
// program with status 1 when the ZOL does not wake or the file cannot be opened.
void GetConfigInfo();

}  // namespace zol
