#include "console/win32/console_keys.h"

#include <conio.h>

#include <mutex>

namespace zol {
namespace {

// Keys read ahead from a pipe; the reader waits while this many are unread.
constexpr size_t kPipeKeysBuffered = 4096;
constexpr DWORD kPipeChunk = 256;
// A reader still blocked in ReadFile after its cancellation is left behind
// (it owns its state) rather than holding up the destructor.
constexpr DWORD kReaderStopMs = 1000;

bool WaitForRoom(PipeKeys::State& state) {
  std::unique_lock lock(state.mutex);
  state.changed.wait(lock, [&] { return state.stopping || state.keys.size() < kPipeKeysBuffered; });
  return !state.stopping;
}

void Deliver(PipeKeys::State& state, const unsigned char* bytes, DWORD count) {
  std::lock_guard lock(state.mutex);
  state.keys.insert(state.keys.end(), bytes, bytes + count);
  state.changed.notify_all();
}

void MarkEnded(PipeKeys::State& state) {
  std::lock_guard lock(state.mutex);
  state.ended = true;
  state.changed.notify_all();
}

DWORD WINAPI ReadPipeKeys(void* param) {
  auto* owned = static_cast<std::shared_ptr<PipeKeys::State>*>(param);
  const std::shared_ptr<PipeKeys::State> state = std::move(*owned);
  delete owned;
  unsigned char chunk[kPipeChunk];
  while (WaitForRoom(*state)) {
    DWORD got = 0;
    // End of input, a broken pipe or a cancelled read all end the keys.
    if (!::ReadFile(state->input, chunk, sizeof chunk, &got, nullptr) || got == 0) break;
    Deliver(*state, chunk, got);
  }
  MarkEnded(*state);
  return 0;
}

}  // namespace

int ExtendedKeyFilter::Take(int code) {
  if (swallowNext_) {
    swallowNext_ = false;
    return kSwallowed;
  }
  if (code == 0 || code == 224) {
    swallowNext_ = true;
    return kSwallowed;
  }
  return code;
}

bool IsConsoleInput(HANDLE input) {
  DWORD mode = 0;
  return input != nullptr && input != INVALID_HANDLE_VALUE && ::GetConsoleMode(input, &mode);
}

ConsoleKeys::ConsoleKeys(HANDLE input) : input_(input), interrupt_(NewEvent()) {}

int ConsoleKeys::GetKey() {
  for (;;) {
    // The input handle is signalled by any console event (focus, mouse,
    // resize); _kbhit takes those away and tells whether a key waits.
    const HANDLE watched[2] = {interrupt_.Get(), input_};
    const DWORD which = ::WaitForMultipleObjects(2, watched, FALSE, INFINITE);
    if (which == WAIT_OBJECT_0) return kKeyInterrupted;
    if (which != WAIT_OBJECT_0 + 1) return kNoKey;
    while (_kbhit()) {
      const int key = filter_.Take(_getch());
      if (key != ExtendedKeyFilter::kSwallowed) return key;
    }
  }
}

bool ConsoleKeys::KeyWaiting() {
  return _kbhit() != 0;
}

void ConsoleKeys::InterruptKeyWait() {
  ::SetEvent(interrupt_.Get());
}

PipeKeys::PipeKeys(HANDLE input) : state_(std::make_shared<State>()) {
  state_->input = input;
  auto* shared = new std::shared_ptr<State>(state_);
  reader_.Reset(::CreateThread(nullptr, 0, ReadPipeKeys, shared, 0, nullptr));
  if (!reader_.Valid()) {
    delete shared;
    state_->ended = true;
  }
}

PipeKeys::~PipeKeys() {
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
    state_->changed.notify_all();
  }
  if (!reader_.Valid()) return;
  ::CancelSynchronousIo(reader_.Get());
  ::WaitForSingleObject(reader_.Get(), kReaderStopMs);
}

int PipeKeys::GetKey() {
  std::unique_lock lock(state_->mutex);
  state_->changed.wait(
      lock, [&] { return state_->interrupted || !state_->keys.empty() || state_->ended; });
  if (state_->interrupted) {
    state_->interrupted = false;
    return kKeyInterrupted;
  }
  if (state_->keys.empty()) return kNoKey;
  const int key = state_->keys.front();
  state_->keys.pop_front();
  state_->changed.notify_all();  // room for the reader
  return key;
}

bool PipeKeys::KeyWaiting() {
  std::lock_guard lock(state_->mutex);
  return !state_->keys.empty();
}

void PipeKeys::InterruptKeyWait() {
  std::lock_guard lock(state_->mutex);
  state_->interrupted = true;
  state_->changed.notify_all();
}

KeySource& StdinKeySource() {
  // Never destroyed: the control handler may interrupt it while the process ends.
  static KeySource* const keys = []() -> KeySource* {
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    if (IsConsoleInput(input)) return new ConsoleKeys(input);
    return new PipeKeys(input);
  }();
  return *keys;
}

void InstallStdinKeys() {
  static std::once_flag once;
  std::call_once(once, [] { InstallKeySource(&StdinKeySource()); });
}

// A console needs no restoring: the C runtime switches it only around each
// key.
void RestoreTerminal() {}

}  // namespace zol
