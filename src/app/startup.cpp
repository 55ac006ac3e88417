#include "app/startup.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>

#include "app/clock_setup.h"
#include "app/control.h"
#include "app/control_server.h"
#include "app/cycle_lock.h"
#include "app/data_file_setup.h"
#include "app/feed_setup.h"
#include "app/keyboard.h"
#include "app/port_setup.h"
#include "app/sampler_state.h"
#include "app/sampler_status.h"
#include "app/sampling_thread.h"
#include "app/service_watch.h"
#include "app/shore_setup.h"
#include "app/stop_event.h"
#include "app/stop_request.h"
#include "app/unattended.h"
#include "base/console_out.h"
#include "console/prompts.h"
#include "link/serial_service.h"
#include "link/system_serial.h"

namespace zol {
namespace {

[[noreturn]] void RefuseAnswer(const char* message) {
  ConsolePrintf("%s\n", message);
  // NOLINTNEXTLINE(concurrency-mt-unsafe): what other threads use is never destroyed
  std::exit(0);
}

// Asks an integer with "%lu" shown and scanned; the default is `value`.
int32_t AskNumber(const char* question, int32_t value) {
  PromptNumber(question, "%lu", "%lu", &value);
  return value;
}

float AskFloat(const char* question, float value) {
  PromptFloat(question, "%.2f", "%f", &value);
  return value;
}

bool InRange(int32_t value, int32_t low, int32_t high) {
  return value >= low && value <= high;
}

// False for a value that is not a number, too.
bool InRange(float value, float low, float high) {
  return value >= low && value <= high;
}

void AskSolution() {
  SamplerState& s = State();
  AnswerText(&StartAnswers::solutionTemp, "20.00");
  const float temp = AskFloat("\nEnter Solution Temperature", 20.0f);
  if (!InRange(temp, 0.0f, 40.0f)) RefuseAnswer("Error, Solution Temp Range = [0.0,40.0] degC");
  s.solutionTemp = temp;
  AnswerText(&StartAnswers::solutionSal, "35.00");
  const float sal = AskFloat("\nEnter Solution Salinity", 35.0f);
  if (!InRange(sal, 0.0f, 40.0f)) RefuseAnswer("Error, Solution Temp Range = [0.0,40.0] pss");
  s.solutionSal = sal;
}

void OpenCommunications() {
  const SamplerState& s = State();
  ConsolePrintf("\n\n***Initializing Communications***\n");
  InitSerialLibrary();
  OpenPort(s.zolPort, s.zolBaud);
  if (s.HasCtd()) OpenPort(s.ctdPort, s.ctdBaud);
}

[[noreturn]] void FailStart(const char* message) {
  ConsolePrintf("%s", message);
  CloseSamplerPorts();
  // NOLINTNEXTLINE(concurrency-mt-unsafe): what other threads use is never destroyed
  std::exit(1);
}

}  // namespace

void GetSampleParameters() {
  SamplerState& s = State();
  AnswerNumber(&StartAnswers::serialNumber);
  const int32_t serial = AskNumber("Enter ZOL Serial Number", 0);
  if (!InRange(serial, 1, 9999)) RefuseAnswer("\n\nError, ZOL Serial Number Range = [1,9999]");
  s.serialNumber = static_cast<uint16_t>(serial);

  AnswerNumber(&StartAnswers::sampleRate);
  const int32_t rate = AskNumber("\nEnter ZOL Sample Rate in minutes", 2);
  if (!InRange(rate, 1, 1440)) RefuseAnswer("\n\nError, Sample Rate Range = [1,1440] minutes");
  s.sampleRate = static_cast<uint16_t>(rate);

  AnswerNumber(&StartAnswers::sampleMode);
  const int32_t mode = AskNumber("\nEnter ZOL Sample MODE: KIRN=1 PADO=2", 2);
  if (!InRange(mode, 1, 2)) RefuseAnswer("\n\nError, Sample Mode Range = [1,2]");
  s.sampleMode = static_cast<uint16_t>(mode);

  s.pumpSample = 0;
  if (!s.HasCtd()) {
    AskSolution();
    return;
  }
  AnswerYesNo(&StartAnswers::pumpSample, true);
  if (PromptYesNo("\nCollect a second sample with CTD pump ON?", 1) == 1) s.pumpSample = 1;
}

void GetSyncMinute() {
  SamplerState& s = State();
  s.syncMinute = -1;
  AnswerPresence(&StartAnswers::syncMinute);
  if (PromptYesNo("\nSync start of sampling to minute value?", 0) != 1) {
    ConsolePrintf("\n\n");
    return;
  }
  AnswerNumber(&StartAnswers::syncMinute, 30);
  const int32_t minute = AskNumber("\nEnter minute value (mins)", 30);
  if (static_cast<uint32_t>(minute) > 59) {
    ConsolePrintf("\nError, Range = [0,59] - Sync Disabled!\n\n");
    return;
  }
  s.syncMinute = minute;
}

void StartSampling() {
  SamplerState& s = State();
  // From here a SIGTERM is carried out by the keyboard loop, in order.
  AcceptStopRequests();
  try {
    s.stopEvent = std::make_shared<AutoResetEvent>();
  } catch (const std::exception&) {
    FailStart("\nERROR Creating Stop Event, exiting!\n");
  }
  NoteSamplerStarted(SystemPortPath(s.zolPort), s.ctdPort != -1 ? SystemPortPath(s.ctdPort) : "");
  // Beside the sampling thread, after the dialogue: none of its lines
  // lands inside it.
  StartShoreLink();
  try {
    StartSamplingThread();
  } catch (const std::system_error&) {
    FailStart("\nERROR Creating Sample Thread, exiting!\n");
  }
  try {
    StartControl();
  } catch (const std::system_error&) {
    ConsolePrintf("\nERROR Starting the control socket; sampling goes on without it\n");
  }
}

void StartSampler() {
  SamplerState& s = State();
  // Every answer is checked before a port is opened or a file touched.
  LoadStartAnswers();
  StartRecordFeed();
  LoadShoreLinkSettings();
  OpenControlSocket();
  LoadServiceSettings();
  ConsolePrintf("\n\n***ZOL Sampler Parameters***\n");
  GetSampleParameters();
  OpenCommunications();
  EnableControlHandler();
  // The start-up exchanges hold the port like a cycle: a control event
  // waits for their end.
  {
    std::lock_guard lock(TheCycleLock());
    ConsolePrintf("\n***Getting ZOL and PC GMT Time***\n");
    ShowTimes();
  }
  ConsolePrintf("\n***Checking for Previous Log Files***\n");
  CheckPreviousFiles();
  {
    std::lock_guard lock(TheCycleLock());
    ConsolePrintf("\n***Getting %s Configuration Info***\n", ModeName(s.sampleMode));
    GetConfigInfo();
  }
  ConsolePrintf("\n*** Starting Sample Thread ( Type CTRL+H for help )***\n");
  GetSyncMinute();
  StartSampling();
  ServiceReady();
  KeyboardLoop();
}

}  // namespace zol
