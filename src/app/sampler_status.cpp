#include "app/sampler_status.h"

#include <array>
#include <mutex>

#include "app/sampler_state.h"
#include "app/service_platform.h"
#include "base/clock.h"
#include "base/json_text.h"
#include "base/text_trim.h"

#ifndef ZOL_VERSION
#define ZOL_VERSION "0.0.0"
#endif

namespace zol {
namespace {

constexpr std::size_t kMostListeners = 8;

struct LastRecord {
  std::string file;
  std::string record;
};

struct Fields {
  uint16_t serial = 0;
  uint16_t mode = 0;
  uint16_t periodMinutes = 0;
  uint32_t cycle = 0;
  const char* state = "waiting";
  bool terminalOpen = false;
  int64_t nextSample = 0;
  bool hasRecord = false;
  LastRecord last;
  int64_t recordsStored = 0;
  int missed = 0;
  bool alarm = false;
  std::string zolPort;
  std::string ctdPort;
  bool hasCtd = false;
  int64_t started = 0;
  std::array<void (*)(), kMostListeners> listeners{};
};

struct Status : Fields {
  std::mutex mutex;
};

Status& TheStatus() {
  // Never destroyed: a cycle may still note while the process exits.
  static Status& status = *new Status;
  return status;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// "YYYY/MM/DD hh:mm:ss", digits where the layout has them.
bool HasDateTimeShape(std::string_view text) {
  constexpr std::string_view kShape = "0000/00/00 00:00:00";
  if (text.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    if (kShape[i] == '0' ? !IsDigit(text[i]) : text[i] != kShape[i]) return false;
  }
  return true;
}

std::string LastRecordJson(const Fields& s) {
  if (!s.hasRecord) return "null";
  JsonObject record;
  const std::string time = RecordTimeIso(s.last.record);
  if (time.empty()) {
    record.Null("time");
  } else {
    record.String("time", time);
  }
  return record.String("file", s.last.file).String("record", s.last.record).Text();
}

std::string PortsJson(const Fields& s) {
  JsonObject ports;
  ports.String("zol", s.zolPort);
  if (s.hasCtd) {
    ports.String("ctd", s.ctdPort);
  } else {
    ports.Null("ctd");
  }
  return ports.Text();
}

}  // namespace

std::string RecordTimeIso(std::string_view record) {
  for (int field = 0; field < 2; ++field) {
    const std::size_t comma = record.find(',');
    if (comma == std::string_view::npos) return "";
    record.remove_prefix(comma + 1);
  }
  const std::string_view text = Trimmed(record.substr(0, record.find(',')), " \r");
  if (!HasDateTimeShape(text)) return "";
  std::string iso(text);
  iso[4] = '-';
  iso[7] = '-';
  iso[10] = 'T';
  return iso + "Z";
}

std::string StatusJson(std::string_view extraMembers) {
  Status& s = TheStatus();
  std::lock_guard lock(s.mutex);
  JsonObject status;
  status.Integer("serial", s.serial)
      .String("mode", s.mode < kModeCount ? ModeNames[s.mode] : ModeNames[0])
      .Integer("period_minutes", s.periodMinutes)
      .Integer("cycle", s.cycle)
      .String("state", s.state)
      .String("next_sample", IsoUtc(s.nextSample))
      .Raw("last_record", LastRecordJson(s))
      .Integer("records_stored", s.recordsStored)
      .Integer("cycles_without_record", s.missed)
      .Bool("alarm", s.alarm)
      .Raw("ports", PortsJson(s))
      .Integer("pid", static_cast<int64_t>(ProcessId()))
      .String("started", IsoUtc(s.started))
      .String("version", ZOL_VERSION);
  std::string text = status.Text();
  if (!extraMembers.empty()) {
    text.pop_back();
    text += ',';
    text += extraMembers;
    text += '}';
  }
  return text;
}

void AddCycleEndedListener(void (*listener)()) {
  Status& s = TheStatus();
  std::lock_guard lock(s.mutex);
  for (auto& slot : s.listeners) {
    if (slot == nullptr || slot == listener) {
      slot = listener;
      return;
    }
  }
}

void NoteSamplerStarted(std::string_view zolPort, std::string_view ctdPort) {
  const SamplerState& settings = Settings();
  Status& s = TheStatus();
  std::lock_guard lock(s.mutex);
  s.serial = settings.serialNumber;
  s.mode = settings.sampleMode;
  s.periodMinutes = settings.sampleRate;
  s.zolPort = zolPort;
  s.ctdPort = ctdPort;
  s.hasCtd = !ctdPort.empty();
  s.started = WallNow();
}

void NoteNextSample(int64_t nextSampleTime) {
  Status& s = TheStatus();
  std::lock_guard lock(s.mutex);
  s.nextSample = nextSampleTime;
}

void NoteCycleBegins(uint32_t cycle, int64_t nextSampleTime) {
  Status& s = TheStatus();
  std::lock_guard lock(s.mutex);
  s.cycle = cycle;
  s.nextSample = nextSampleTime;
  s.state = "sampling";
}

void NoteRecordStored(std::string_view file, std::string_view record) {
  Status& s = TheStatus();
  std::lock_guard lock(s.mutex);
  s.hasRecord = true;
  s.last.file = file;
  s.last.record = record;
  ++s.recordsStored;
}

void NoteNoRecordCount(int missed, bool alarmRaised) {
  Status& s = TheStatus();
  std::lock_guard lock(s.mutex);
  s.missed = missed;
  s.alarm = alarmRaised;
}

void NoteCycleEnded() {
  Status& s = TheStatus();
  std::array<void (*)(), kMostListeners> listeners{};
  {
    std::lock_guard lock(s.mutex);
    s.state = s.terminalOpen ? "terminal" : "waiting";
    listeners = s.listeners;
  }
  for (void (*listener)() : listeners) {
    if (listener != nullptr) listener();
  }
}

void NoteTerminal(bool open) {
  Status& s = TheStatus();
  std::lock_guard lock(s.mutex);
  s.terminalOpen = open;
  s.state = open ? "terminal" : "waiting";
}

void ResetSamplerStatus() {
  Status& s = TheStatus();
  std::lock_guard lock(s.mutex);
  static_cast<Fields&>(s) = Fields();
}

}  // namespace zol
