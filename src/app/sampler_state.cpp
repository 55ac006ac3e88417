#include "app/sampler_state.h"

#include <cstring>

namespace zol {

SamplerState& State() {
  static SamplerState state;
  return state;
}

void ResetState() {
  SamplerState& state = State();
  for (std::FILE* file : {state.logFile, state.datFile, state.dat2File}) {
    if (file != nullptr) (void)std::fclose(file);  // a reset drops what was not written
  }
  if (state.samplingThread.joinable()) state.samplingThread.detach();
  state = SamplerState{};
}

int FindBaudRate(const char* text) {
  for (int i = 0; i < kBaudRateCount; ++i) {
    if (std::strcmp(text, BaudRates[i]) == 0) return i;
  }
  return -1;
}

}  // namespace zol
