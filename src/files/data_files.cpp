#include "files/data_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/sampler_state.h"
#include "console/console_out.h"
#include "console/prompts.h"
#include "console/value_format.h"
#include "files/line_file.h"
#include "link/serial_service.h"
#include "link/zol_protocol.h"

namespace zol {
namespace {

constexpr const char* kKirnColumns =
    "CRC, ID, DATE TIME, UTC SECS, CTD DEPTH, CTD TEMP, CTD SALINITY, SAMPLE COUNTER, POR "
    "COUNTER, KIRN_ERROR COUNTER, SYS_ERROR COUNTER, HOUSING TEMPERATURE, HOUSING HUMIDITY, "
    "INPUT VOLTAGE, INPUT CURRENT, MAX LAMP INTEN, MIN LAMP INTEN, DC MEAN, DC STDDEV, KIRN "
    "SALINITY, KIRN NITRATE, FIT ERROR, DAT PIXEL BEG, DAT PIXEL END, PACKED HEX DATA, SW DC";

constexpr const char* kPadoColumns =
    "CRC, ID, DATE TIME, UTC SECS, CTD DEPTH, CTD TEMP, CTD SALINITY, SAMPLE COUNTER, POR "
    "COUNTER, PADO_ERROR COUNTER, HOUSING TEMPERATURE, HOUSING HUMIDITY, INPUT VOLTAGE, INPUT "
    "CURRENT, FOOBAR PH VALUE, BACKUP BATTERY, VRS VOLTS, VRS STDDEV, VK VOLTS, VK STDDEV, IK "
    "AMPS, IB AMPS";

const char* ModeName(uint16_t mode) {
  return mode < kModeCount ? ModeNames[mode] : ModeNames[0];
}

// Opening without blocking, so that a FIFO of the same name cannot hang the
// check; a file that cannot be opened for reading counts as absent.
bool CanOpenForReading(const char* path) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// The documented end of the configuration step: ports closed, CTD first.
[[noreturn]] void EndProgram() {
  const SamplerState& state = State();
  if (state.ctdPort != -1) SerialClose(state.ctdPort);
  SerialClose(state.zolPort);
  std::exit(1);
}

void WriteHeader(std::FILE* file, uint16_t mode) {
  std::fprintf(file, "#ALL RECORDS\n%s\n\n\n", mode == 1 ? kKirnColumns : kPadoColumns);
}

// Size of the file just opened; 0 (and the message) when it cannot be
// found. By name: a line file's stream has no descriptor of its own.
long long FileSize(const char* path) {
  struct stat info {};
  if (stat(path, &info) != 0) {
    ConsolePrintf("\n\nError, fstat ret = %d\n\n", -1);
    return 0;
  }
  return static_cast<long long>(info.st_size);
}

// Closes a line file: 0 when everything written reached the disk, else the
// errno of the first loss.
int CloseReportingError(std::FILE* file) {
  if (std::fclose(file) == 0) return 0;
  return errno != 0 ? errno : EIO;
}

}  // namespace

void FormatPath(char* destination, const char* format, uint16_t serialNumber,
                const char* modeName) {
  FormatNumberAndText(destination, kPathSize, format, serialNumber, modeName);
}

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
    if (PromptYesNo("should it be REMOVED?", 0) != 0) std::remove(file.path);
    ConsolePrintf("\n");
  }
}

void GetConfigInfo() {
  SamplerState& state = State();
  const int woke = WakeZolMode(state.zolPort, state.sampleMode);
  if (woke != 1) {
    ConsolePrintf("ERROR Waking ZOL, ret = %d, exiting!\n", woke);
    EndProgram();
  }
  state.datFile = OpenLineFile(state.datPath);
  if (state.datFile == nullptr) {
    ConsolePrintf("\nERROR Opening Local Data File, exiting!\n");
    EndProgram();
  }
  if (FileSize(state.datPath) == 0) WriteHeader(state.datFile, state.sampleMode);
  const int records = GetZolConfig(state.zolPort, state.datFile);
  const int writeError = CloseReportingError(state.datFile);
  state.datFile = nullptr;
  if (records > 0) {
    ConsolePrintf("\n%d Configuration Records Received\n", records);
  } else {
    ConsolePrintf("\nERROR Getting %s Config Data, ret = %d\n", ModeName(state.sampleMode),
                  records);
  }
  // A full disk must not pass unnoticed: the records are not in the file.
  if (writeError != 0) {
    ConsolePrintf("ERROR Writing Local Data File %s: %s\n", state.datPath,
                  std::strerror(writeError));
  }
}

}  // namespace zol
