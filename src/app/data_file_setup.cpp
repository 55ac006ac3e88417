#include "app/data_file_setup.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/port_setup.h"
#include "app/sampler_state.h"
#include "app/unattended.h"
#include "base/console_out.h"
#include "base/errno_text.h"
#include "console/prompts.h"
#include "files/data_files.h"
#include "files/line_file.h"
#include "link/zol_protocol.h"

namespace zol {
namespace {

// The documented end of the configuration step: ports closed, CTD first.
[[noreturn]] void EndProgram() {
  CloseSamplerPorts();
  // NOLINTNEXTLINE(concurrency-mt-unsafe): what other threads use is never destroyed
  std::exit(1);
}

// Size of the file just opened; 0 (and the message) when it cannot be
// found. By name: a line file shows no descriptor.
long long FileSize(const char* path) {
  const long long size = FileSizeOf(path);
  if (size < 0) {
    ConsolePrintf("\n\nError, fstat ret = %d\n\n", -1);
    return 0;
  }
  return size;
}

}  // namespace

void CheckPreviousFiles() {
  SamplerState& state = State();
  const char* mode = ModeName(state.sampleMode);
  struct {
    char* path;
    const char* format;
    const char* kind;
  } const files[] = {
      {state.logPath, "ZOL%04d_%s.log", "LogFile"},
      {state.datPath, "ZOL%04d_%s.dat", "DatFile"},
      {state.dat2Path, "ZOL%04d_%s_2.dat", "DatFile"},
  };
  for (const auto& file : files) {
    FormatPath(file.path, file.format, state.serialNumber, mode);
    if (!CanOpenForReading(file.path)) continue;
    ConsolePrintf("%s %s was found, ", file.kind, file.path);
    AnswerYesNo(&StartAnswers::removePrevious);
    // A file that stays would take the new run's lines after the old ones.
    if (PromptYesNo("should it be REMOVED?", 0) != 0) {
      if (std::remove(file.path) != 0) {
        ConsolePrintf("\nERROR Removing %s: %s", file.path, ErrnoText(errno).c_str());
      } else {
        // The MQTT link's cursor goes with its data file, silently: a new
        // file is a new generation.
        const std::string cursor = std::string(file.path) + ".sent";
        std::remove(cursor.c_str());  // NOLINT(cert-err33-c): most often there is none
      }
    }
    ConsolePrintf("\n");
  }
}

void GetConfigInfo() {
  SamplerState& state = State();
  const int woke = WakeZolMode(state.zolPort, state.sampleMode);
  if (woke != kReplyOk) {
    ConsolePrintf("ERROR Waking ZOL, ret = %d, exiting!\n", woke);
    EndProgram();
  }
  state.datFile = LineFile::Open(state.datPath);
  if (state.datFile == nullptr) {
    ConsolePrintf("\nERROR Opening Local Data File, exiting!\n");
    EndProgram();
  }
  if (FileSize(state.datPath) == 0) WriteDataFileHeader(*state.datFile, state.sampleMode);
  const int records = GetZolConfig(state.zolPort, state.datFile.get());
  const int writeError = state.datFile->Close();
  state.datFile.reset();
  if (records > 0) {
    ConsolePrintf("\n%d Configuration Records Received\n", records);
  } else {
    ConsolePrintf("\nERROR Getting %s Config Data, ret = %d\n", ModeName(state.sampleMode),
                  records);
  }
  // A full disk must not pass unnoticed: the records are not in the file.
  if (writeError != 0) {
    ConsolePrintf("ERROR Writing Local Data File %s: %s\n", state.datPath,
                  ErrnoText(writeError).c_str());
  }
}

}  // namespace zol
