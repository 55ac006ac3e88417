#include "app/sampler_state.h"

#include <cstdio>
#include <cstring>

#include "app/sampler_status.h"
#include "link/serial_rules.h"

namespace zol {

SamplerState& State() {
  static SamplerState state;
  return state;
}

void ResetState() {
  SamplerState& state = State();
  if (state.samplingThread.joinable()) state.samplingThread.detach();
  state = SamplerState{};
  ResetSamplerStatus();
}

int FindBaudRate(const char* text) {
  char written[16];
  if (std::strcmp(text, "0") == 0) return 0;
  for (const int baud : kSerialBauds) {
    std::snprintf(written, sizeof written, "%d", baud);
    if (std::strcmp(text, written) == 0) return baud;
  }
  return -1;
}

}  // namespace zol
