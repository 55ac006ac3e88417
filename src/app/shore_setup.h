// The MQTT shore link (ZOLSAMPLER_MQTT and its companions): checked at
// start before the dialogue and any port, started with the sampling thread,
// nudged by every stored record and told of every cycle's end, and given a
// few seconds at an orderly stop. Unset, none of it shows.
#pragma once

#include <cstdint>

namespace zol {

// Reads and checks the settings; a bad one ends the program with status 1
// and "zolsampler: VARIABLE: what is wrong" on standard error.
void LoadShoreLinkSettings();
// Starts the link when it is set (call once the data files are named).
void StartShoreLink();
// A record reached a data file; never blocks.
void NudgeShoreLink();
// Lines not yet acknowledged while the link is cut off; 0 otherwise.
uint64_t ShoreLinkOutageBacklog();
// Publishes "stopped" and sends what it can for at most 5 s.
void StopShoreLink();

}  // namespace zol
