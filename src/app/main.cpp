// Entry point of zolsampler.
#include "app/command_line.h"
#include "app/sampler_state.h"
#include "link/port_setup.h"
#include "link/serial_service.h"
#include "link/termios_serial.h"

namespace {

// Until the start-up sequence lands: the communications step alone.
void StartCommunications() {
  zol::SamplerState& state = zol::State();
  zol::InitSerialLibrary();
  zol::OpenPort(state.zolPort, state.zolBaud);
  if (state.ctdPort != -1) zol::OpenPort(state.ctdPort, state.ctdBaud);
  if (state.ctdPort != -1) zol::SerialClose(state.ctdPort);
  zol::SerialClose(state.zolPort);
}

}  // namespace

int main(int argc, char** argv) {
  zol::InstallSerialService(&zol::SystemSerialService());
  return zol::RunCommandLine(argc, argv, StartCommunications);
}
