// Where the sampler stands, as one JSON object: what the control socket's
// `status` answers and the shore link publishes. The cycle's runners note
// what happens as it happens (each under the cycle lock); the status keeps
// its own copy under a mutex of its own, so it answers at once even while a
// cycle or the terminal holds the cycle lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zol {

// The status object the control socket's `status` gives and the shore link
// publishes: serial, mode, period_minutes, cycle, state, next_sample,
// last_record, records_stored, cycles_without_record, alarm, ports, pid,
// started, version. `extraMembers` ("\"backlog\":3", already JSON) go last.
std::string StatusJson(std::string_view extraMembers = {});

// Called after every cycle (scheduled, forced, or asked for over the socket)
// on that cycle's thread while it still holds the cycle lock: must not block.
void AddCycleEndedListener(void (*listener)());

// Sampling has started: the settings are complete. `ctdPort` empty: no CTD.
void NoteSamplerStarted(std::string_view zolPort, std::string_view ctdPort);
void NoteNextSample(int64_t nextSampleTime);
// A cycle has raised the counter to `cycle`.
void NoteCycleBegins(uint32_t cycle, int64_t nextSampleTime);
// A record reached `file`.
void NoteRecordStored(std::string_view file, std::string_view record);
// Scheduled cycles in a row without a record, and whether the alarm is up.
void NoteNoRecordCount(int missed, bool alarmRaised);
// Back to waiting; tells the listeners.
void NoteCycleEnded();
// The pass-through terminal (console or socket) opened or closed.
void NoteTerminal(bool open);

// "2026/12/11 12:00:00", the third field of a record, as
// "2026-12-11T12:00:00Z"; empty when the record has no such field.
std::string RecordTimeIso(std::string_view record);

// The terminal's note for as long as it is open.
class TerminalOpenNote {
 public:
  TerminalOpenNote() { NoteTerminal(true); }
  ~TerminalOpenNote() { NoteTerminal(false); }
  TerminalOpenNote(const TerminalOpenNote&) = delete;
  TerminalOpenNote& operator=(const TerminalOpenNote&) = delete;
};

// Back to program start, no listeners (tests).
void ResetSamplerStatus();

}  // namespace zol
