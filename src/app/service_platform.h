// What the sampler needs from the system to be watched as a service: the
// service manager's notification channel, where standard error goes, and a
// detached alarm command. POSIX speaks systemd's notify protocol; on Windows
// (where the service is a different thing) there is no channel.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zol {

// Sends one notification ("READY=1", "STATUS=...") to the service manager
// that started the program (NOTIFY_SOCKET); false when there is none or it
// could not be sent. Never blocks.
bool NotifyServiceManager(const std::string& message);

// The service manager's watchdog interval in milliseconds when it watches
// this process (WATCHDOG_USEC, WATCHDOG_PID), else 0.
int64_t ServiceWatchdogMs();

// True when standard error is the journal's stream (JOURNAL_STREAM names
// its device and inode), which reads a "<N>" prefix as the line's priority.
bool StandardErrorIsJournal();

// True when standard input is a terminal (an attended run).
bool KeyboardIsTerminal();

// This process's id.
unsigned long ProcessId();

// Starts `command` through the shell, detached: no descriptor but the
// standard three, `environment` ("NAME=value") added to the program's own.
// False with the reason in *error when it cannot be started.
bool StartAlarmCommand(const std::string& command, const std::vector<std::string>& environment,
                       std::string* error);
// Collects alarm commands that have ended, without waiting; for each that
// failed, the reason goes into *failures.
void ReapAlarmCommands(std::vector<std::string>* failures);

}  // namespace zol
