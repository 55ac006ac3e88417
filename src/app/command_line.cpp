#include "app/command_line.h"

#include <getopt.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "app/port_setup.h"
#include "app/sampler_state.h"
#include "base/console_out.h"
#include "link/serial_service.h"

namespace zol {
namespace {

// The program name, two words for each of the four port and speed options.
constexpr int kCompleteWordCount = 9;
constexpr int kFirstPort = 1;
constexpr int kLastPort = 20;
constexpr int kNoCtd = -1;
constexpr int kQueueSize = 1024;
// The source file that holds the program's entry, as the banner names it.
constexpr const char* kEntrySource = "main.cpp";

#if defined(__clang__)
constexpr const char* kCompilerName = "Clang";
constexpr int kCompilerVersion[] = {__clang_major__, __clang_minor__, __clang_patchlevel__};
#else
constexpr const char* kCompilerName = "GCC";
constexpr int kCompilerVersion[] = {__GNUC__, __GNUC_MINOR__, __GNUC_PATCHLEVEL__};
#endif

#if defined(__linux__)
constexpr const char* kTargetSystem = "Linux";
#elif defined(_WIN64)
constexpr const char* kTargetSystem = "Win64";
#else
constexpr const char* kTargetSystem = "Unix";
#endif

#if defined(__x86_64__)
#define ZOL_TARGET_ARCH "x86_64"
#elif defined(__aarch64__)
#define ZOL_TARGET_ARCH "aarch64"
#elif defined(__i386__)
#define ZOL_TARGET_ARCH "i386"
#elif defined(__arm__)
#define ZOL_TARGET_ARCH "arm"
#elif defined(__riscv) && __riscv_xlen == 64
#define ZOL_TARGET_ARCH "riscv64"
#else
#define ZOL_TARGET_ARCH "unknown"
#endif
#if defined(__gnu_linux__)
#define ZOL_TARGET_OS "linux-gnu"
#elif defined(__linux__)
#define ZOL_TARGET_OS "linux"
#elif defined(__MINGW64__)
#define ZOL_TARGET_OS "w64-mingw32"
#else
#define ZOL_TARGET_OS "unknown"
#endif
constexpr const char* kTargetTriple = ZOL_TARGET_ARCH "-" ZOL_TARGET_OS;

// Reads a number the way atoi does (leading blanks, a sign, digits up to the
// first other character, 0 without digits) but saturates instead of
// overflowing, so that a huge value is simply out of range.
int LeadingNumber(const char* text) {
  const long long value = std::strtoll(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

bool IsPortNumber(int number) {
  return number >= kFirstPort && number <= kLastPort;
}

[[noreturn]] void Refuse(const char* text) {
  ConsolePrintf("%s", text);
  // NOLINTNEXTLINE(concurrency-mt-unsafe): what other threads use is never destroyed
  std::exit(0);
}

[[noreturn]] void RefuseBaud(const char* value) {
  ConsolePrintf("Error, unrecognized ZOL baud rate: %s\n", value);
  // NOLINTNEXTLINE(concurrency-mt-unsafe): what other threads use is never destroyed
  std::exit(0);
}

[[noreturn]] void PrintUsage(const char* program) {
  std::fprintf(stderr, "Usage: %s -P ZOL_Port -B ZOL_Baud -p CTD_port -b CTD_baud | -l | -v\n",
               program);
  std::fprintf(stderr, "Example with    CTD: %s -P 1 -B 9600 -p 2 -b 9600\n", program);
  std::fprintf(stderr, "Example without CTD: %s -P 1 -B 9600 -p -1 -b -1\n", program);
  // NOLINTNEXTLINE(concurrency-mt-unsafe): what other threads use is never destroyed
  std::exit(0);
}

// The speed an option names, as an integer; refuses any other text.
int32_t BaudFromOption(const char* value) {
  const int baud = FindBaudRate(value);
  if (baud < 0) RefuseBaud(value);
  return baud;
}

void TakeZolPort(const char* value) {
  const int number = LeadingNumber(value);
  if (!IsPortNumber(number)) Refuse("Error, ZOL CommPort Range = [1,20]\n");
  State().zolPort = number - 1;
}

void TakeCtdPort(const char* value) {
  const int number = LeadingNumber(value);
  if (number == kNoCtd) {
    State().ctdPort = kNoCtdPort;
    return;
  }
  if (!IsPortNumber(number)) Refuse("Error, CTD CommPort Range = [1,20]\n");
  State().ctdPort = number - 1;
}

void TakeCtdBaud(const char* value) {
  // "-1" (or anything that reads as -1) says that there is no CTD.
  State().ctdBaud = LeadingNumber(value) == kNoCtd ? kNoCtd : BaudFromOption(value);
}

}  // namespace

void PrintBuildBanner() {
  const ServiceVersion service = ReadServiceVersion();
  ConsolePrintf("\nBuild: %s Date: %s %s\n\n", kEntrySource, __DATE__, __TIME__);
  ConsolePrintf("%-4s version %d.%d.%d ", kCompilerName, kCompilerVersion[0], kCompilerVersion[1],
                kCompilerVersion[2]);
  ConsolePrintf("(%s - %s)\n", kTargetSystem, kTargetTriple);
  ConsolePrintf("WSC  version %d.%d.%d (Build %d)\n", service.major, service.minor, service.release,
                service.build);
  ConsolePrintf("STDC version %ld\n\n", static_cast<long>(__cplusplus));
}

void ScanPorts() {
  InitSerialLibrary();
  ConsolePrintf("\nChecking COM%1d through COM%1d...\n", 1, kSerialMaxPorts);
  int found = 0;
  int notReady = 0;
  for (int port = 0; port < kSerialMaxPorts; ++port) {
    const int result = SerialOpen(port, kQueueSize, kQueueSize);
    if (result >= 0) {
      ConsolePrintf("COM%1d: OK, port exists\n", port + 1);
      ++found;
      SerialClose(port);
    } else if (result == kSerialNotReady) {
      ConsolePrintf("COM%1d: Port exists but not enabled (event I/O error %d)\n", port + 1, result);
      ++notReady;
    }
  }
  ConsolePrintf("\n%d port(s) found\n", found);
  if (notReady > 0) {
    ConsolePrintf("%d 'not ready' port(s) found (virtual port not ready?)\n", notReady);
  }
  FatalExit(0);
}

int RunCommandLine(int argc, char** argv, void (*startSampler)()) {
  const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "zolsampler";
  SamplerState& state = State();
  // '+': options end at the first word that is none, as POSIX has it. A
  // fresh scan each call (optind 0), as tests run more than one line.
  optind = 0;
  // NOLINTNEXTLINE(concurrency-mt-unsafe): start-up, on the main thread alone
  for (int option; (option = getopt(argc, argv, "+P:B:p:b:lv")) != -1;) {
    switch (option) {
      case 'P':
        TakeZolPort(optarg);
        break;
      case 'B':
        state.zolBaud = BaudFromOption(optarg);
        break;
      case 'p':
        TakeCtdPort(optarg);
        break;
      case 'b':
        TakeCtdBaud(optarg);
        break;
      case 'l':
        ScanPorts();
      case 'v':
        PrintBuildBanner();
        // NOLINTNEXTLINE(concurrency-mt-unsafe): what other threads use is never destroyed
        std::exit(0);
      default:  // getopt has told what was wrong
        PrintUsage(program);
    }
  }
  // The line is complete when it has exactly nine words, all consumed; the
  // options are not checked one by one, so a field no option set keeps 0.
  if (argc != kCompleteWordCount || optind != kCompleteWordCount) {
    PrintUsage(program);
  }
  if (state.ctdPort == state.zolPort) Refuse("Error, Port Numbers can't be the same!\n");
  startSampler();
  return 0;
}

}  // namespace zol
