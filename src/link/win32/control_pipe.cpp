// The control channel over a named pipe (\\.\pipe\NAME; a bare NAME means
// that pipe). Every instance is overlapped: each pending connect, read and
// write has an event of its own, and a wait is one WaitForMultipleObjects
// on those and on the wake-up event. One instance always waits for the next
// client, so the name lives exactly as long as the sampler: there is no
// leftover to replace, and a second sampler on the name is refused by
// FILE_FLAG_FIRST_PIPE_INSTANCE.
#include <windows.h>
// After windows.h.
#include <sddl.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>

#include "base/win32/unique_handle.h"
#include "link/control_channel.h"

namespace zol {
namespace {

constexpr wchar_t kPipePrefix[] = L"\\\\.\\pipe\\";
constexpr char kPipePrefixText[] = "\\\\.\\pipe\\";
// The longest pipe name the system takes, prefix included.
constexpr std::size_t kMostPipeName = 256;
constexpr DWORD kPipeBuffer = 64 * 1024;
constexpr std::size_t kReadAhead = 4096;
// How long a client waits for a free instance while the sampler makes one.
constexpr DWORD kBusyWaitMs = 2000;

std::string SystemText(DWORD error) {
  char text[256];
  const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, sizeof text, nullptr);
  std::string result(text, length);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                             result.back() == ' ' || result.back() == '.'))
    result.pop_back();
  return result.empty() ? "error " + std::to_string(error) : result;
}

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           wide.data(), static_cast<int>(wide.size()));
  wide.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return wide;
}

std::string Narrow(const wchar_t* text) {
  char narrow[512];
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
  return length > 0 ? std::string(narrow) : std::string();
}

struct LocalFreer {
  void operator()(void* memory) const { ::LocalFree(memory); }
};

// The user a token runs as, as a SID string ("S-1-5-21-...").
std::wstring TokenUserSid(HANDLE token) {
  alignas(TOKEN_USER) unsigned char buffer[256];
  DWORD size = 0;
  wchar_t* text = nullptr;
  if (!::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) ||
      !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text))
    return L"";
  const std::unique_ptr<wchar_t, LocalFreer> owned(text);
  return text;
}

// Full access for the local Administrators and this process's own user (the
// service's account), nobody else; the list is protected from inheritance.
std::unique_ptr<void, LocalFreer> PipeSecurity(std::string* error) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
    *error = "cannot read this process's user: " + SystemText(::GetLastError());
    return nullptr;
  }
  const UniqueHandle owned(token);
  const std::wstring self = TokenUserSid(token);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const std::wstring text = L"D:P(A;;GA;;;BA)(A;;GA;;;" + self + L")";
  if (self.empty() || !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                          text.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    *error = "cannot make the pipe's security descriptor: " + SystemText(::GetLastError());
    return nullptr;
  }
  return std::unique_ptr<void, LocalFreer>(descriptor);
}

// "user DOMAIN\name" of the process at the other end, when the system says.
std::string ClientUser(HANDLE pipe) {
  ULONG pid = 0;
  if (!::GetNamedPipeClientProcessId(pipe, &pid)) return "an unknown user";
  const UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  HANDLE token = nullptr;
  if (!process.Valid() || !::OpenProcessToken(process.Get(), TOKEN_QUERY, &token))
    return "an unknown user";
  const UniqueHandle owned(token);
  alignas(TOKEN_USER) unsigned char buffer[256];
  DWORD size = 0;
  wchar_t name[256];
  wchar_t domain[256];
  DWORD nameSize = 256;
  DWORD domainSize = 256;
  SID_NAME_USE use{};
  if (!::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) ||
      !::LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, name,
                           &nameSize, domain, &domainSize, &use))
    return "an unknown user";
  const std::string domainText = Narrow(domain);
  return "user " + (domainText.empty() ? "" : domainText + "\\") + Narrow(name);
}

struct Instance {
  UniqueHandle pipe;
  UniqueHandle connected = NewEvent(true);
  OVERLAPPED overlapped{};
  bool ready = false;
};

struct Connection {
  UniqueHandle pipe;
  UniqueHandle readDone = NewEvent(true);
  UniqueHandle writeDone = NewEvent(true);
  OVERLAPPED readOverlapped{};
  OVERLAPPED writeOverlapped{};
  std::array<char, kReadAhead> in{};
  std::size_t inCount = 0;
  std::size_t inTaken = 0;
  std::string out;
  bool reading = false;
  bool writing = false;
  bool broken = false;

  bool HasInput() const { return inTaken < inCount; }

  void CollectRead() {
    if (!reading || !HasOverlappedIoCompleted(&readOverlapped)) return;
    reading = false;
    DWORD got = 0;
    if (::GetOverlappedResult(pipe.Get(), &readOverlapped, &got, FALSE)) {
      inCount = got;
      inTaken = 0;
    } else {
      broken = true;
    }
  }

  void StartRead() {
    if (reading || broken || HasInput()) return;
    readOverlapped = OVERLAPPED{};
    readOverlapped.hEvent = readDone.Get();
    if (::ReadFile(pipe.Get(), in.data(), static_cast<DWORD>(in.size()), nullptr,
                   &readOverlapped) ||
        ::GetLastError() == ERROR_IO_PENDING) {
      reading = true;
      CollectRead();
    } else {
      broken = true;
    }
  }

  void CollectWrite() {
    if (!writing || !HasOverlappedIoCompleted(&writeOverlapped)) return;
    writing = false;
    DWORD sent = 0;
    if (!::GetOverlappedResult(pipe.Get(), &writeOverlapped, &sent, FALSE)) broken = true;
  }

  // Ends what is still pending; the overlapped structures must outlive it.
  void Cancel() {
    if (!reading && !writing) return;
    ::CancelIoEx(pipe.Get(), nullptr);
    DWORD ignored = 0;
    if (reading) ::GetOverlappedResult(pipe.Get(), &readOverlapped, &ignored, TRUE);
    if (writing) ::GetOverlappedResult(pipe.Get(), &writeOverlapped, &ignored, TRUE);
    reading = writing = false;
  }
};

class PipeListener final : public ControlListener {
 public:
  PipeListener(std::wstring name, std::unique_ptr<void, LocalFreer> security,
               std::unique_ptr<Instance> first)
      : name_(std::move(name)), security_(std::move(security)), waiting_(std::move(first)) {}

  ~PipeListener() override {
    for (auto& [id, c] : connections_)
      c->Cancel();
    Unlink();
  }

  void Wait(std::vector<ChannelWatch>& watches, int timeoutMs) override {
    std::vector<HANDLE> handles{wake_.Get()};
    bool ready = false;
    for (const ChannelWatch& watch : watches) {
      if (watch.connection == ChannelWatch::kListener) {
        if (waiting_ == nullptr) waiting_ = NextInstance();
        if (waiting_ != nullptr && !waiting_->ready) handles.push_back(waiting_->connected.Get());
        ready = ready || (waiting_ != nullptr && waiting_->ready);
        continue;
      }
      Connection* c = Find(watch.connection);
      if (c == nullptr) continue;
      if (watch.read) {
        c->StartRead();
        if (c->reading) handles.push_back(c->readDone.Get());
        ready = ready || c->HasInput() || c->broken;
      }
      if (watch.write) {
        c->CollectWrite();
        if (c->writing) handles.push_back(c->writeDone.Get());
        ready = ready || !c->writing;
      }
    }
    // The server keeps at most 16 clients: far fewer than the system's limit.
    const DWORD count =
        static_cast<DWORD>(std::min<std::size_t>(handles.size(), MAXIMUM_WAIT_OBJECTS));
    const DWORD wait = ready ? 0 : timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    ::WaitForMultipleObjects(count, handles.data(), FALSE, wait);
    for (ChannelWatch& watch : watches) {
      watch.readable = watch.writable = false;
      if (watch.connection == ChannelWatch::kListener) {
        watch.readable = waiting_ != nullptr &&
                         (waiting_->ready || HasOverlappedIoCompleted(&waiting_->overlapped));
        continue;
      }
      Connection* c = Find(watch.connection);
      if (c == nullptr) {
        watch.readable = watch.read;
        continue;
      }
      c->CollectRead();
      c->CollectWrite();
      watch.readable = watch.read && (c->HasInput() || c->broken);
      watch.writable = watch.write && (!c->writing || c->broken);
    }
  }

  int Accept(std::string* peer) override {
    if (waiting_ == nullptr) return -1;
    if (!waiting_->ready) {
      if (!HasOverlappedIoCompleted(&waiting_->overlapped)) return -1;
      DWORD ignored = 0;
      if (!::GetOverlappedResult(waiting_->pipe.Get(), &waiting_->overlapped, &ignored, FALSE)) {
        // The client went before it was taken: the instance waits afresh.
        waiting_ = NextInstance();
        return -1;
      }
    }
    auto c = std::make_unique<Connection>();
    c->pipe = std::move(waiting_->pipe);
    waiting_ = NextInstance();
    if (!c->readDone.Valid() || !c->writeDone.Valid()) return -1;
    *peer = ClientUser(c->pipe.Get());
    const int id = nextId_++;
    connections_[id] = std::move(c);
    return id;
  }

  long Read(int connection, char* buffer, std::size_t size) override {
    Connection* c = Find(connection);
    if (c == nullptr) return -1;
    c->CollectRead();
    c->StartRead();
    if (c->HasInput()) {
      const std::size_t count = std::min(size, c->inCount - c->inTaken);
      std::memcpy(buffer, c->in.data() + c->inTaken, count);
      c->inTaken += count;
      return static_cast<long>(count);
    }
    return c->broken ? -1 : 0;
  }

  long Write(int connection, const char* bytes, std::size_t size) override {
    Connection* c = Find(connection);
    if (c == nullptr) return -1;
    c->CollectWrite();
    if (c->broken) return -1;
    if (c->writing || size == 0) return 0;
    const std::size_t count = std::min<std::size_t>(size, kPipeBuffer);
    c->out.assign(bytes, count);
    c->writeOverlapped = OVERLAPPED{};
    c->writeOverlapped.hEvent = c->writeDone.Get();
    if (::WriteFile(c->pipe.Get(), c->out.data(), static_cast<DWORD>(count), nullptr,
                    &c->writeOverlapped) ||
        ::GetLastError() == ERROR_IO_PENDING) {
      c->writing = true;
      return static_cast<long>(count);
    }
    c->broken = true;
    return -1;
  }

  // What was written stays readable by the client after the close; a write
  // the client never took is given up.
  void Close(int connection) override {
    const auto found = connections_.find(connection);
    if (found == connections_.end()) return;
    found->second->Cancel();
    connections_.erase(found);
  }

  void Wake() override { ::SetEvent(wake_.Get()); }

  // No new client from now on; the name goes with the last handle.
  void Unlink() override {
    if (waiting_ == nullptr) return;
    if (!waiting_->ready) {
      ::CancelIoEx(waiting_->pipe.Get(), &waiting_->overlapped);
      DWORD ignored = 0;
      ::GetOverlappedResult(waiting_->pipe.Get(), &waiting_->overlapped, &ignored, TRUE);
    }
    waiting_.reset();
    stopped_ = true;
  }

 private:
  std::unique_ptr<Instance> NextInstance() {
    if (stopped_) return nullptr;
    std::string ignored;
    return OpenInstance(name_, security_.get(), false, &ignored);
  }

  Connection* Find(int connection) {
    const auto found = connections_.find(connection);
    return found == connections_.end() ? nullptr : found->second.get();
  }

  std::wstring name_;
  std::unique_ptr<void, LocalFreer> security_;
  std::unique_ptr<Instance> waiting_;
  UniqueHandle wake_ = NewEvent();
  std::map<int, std::unique_ptr<Connection>> connections_;
  int nextId_ = 1;
  bool stopped_ = false;

 public:
  // An instance of the pipe `name` waiting for a client; the first of the
  // name fails when another program serves it.
  static std::unique_ptr<Instance> OpenInstance(const std::wstring& name, void* security,
                                                bool first, std::string* error) {
    auto instance = std::make_unique<Instance>();
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security, FALSE};
    instance->pipe = UniqueHandle(::CreateNamedPipeW(
        name.c_str(),
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, kPipeBuffer, kReadAhead, 0, &attributes));
    if (!instance->pipe.Valid() || !instance->connected.Valid()) {
      const DWORD reason = ::GetLastError();
      *error = reason == ERROR_ACCESS_DENIED || reason == ERROR_PIPE_BUSY
                   ? " is in use by another sampler"
                   : ": " + SystemText(reason);
      return nullptr;
    }
    instance->overlapped.hEvent = instance->connected.Get();
    if (::ConnectNamedPipe(instance->pipe.Get(), &instance->overlapped)) {
      instance->ready = true;
    } else {
      const DWORD reason = ::GetLastError();
      // Connected before the call, or gone already: either way a client to
      // take (a gone one reads as ended).
      instance->ready = reason == ERROR_PIPE_CONNECTED || reason == ERROR_NO_DATA;
      if (!instance->ready && reason != ERROR_IO_PENDING) {
        *error = ": " + SystemText(reason);
        return nullptr;
      }
    }
    return instance;
  }
};

class PipeLink final : public ControlLink {
 public:
  explicit PipeLink(UniqueHandle pipe) : pipe_(std::move(pipe)) {}
  ~PipeLink() override {
    if (!reading_) return;
    ::CancelIoEx(pipe_.Get(), &readOverlapped_);
    DWORD ignored = 0;
    ::GetOverlappedResult(pipe_.Get(), &readOverlapped_, &ignored, TRUE);
  }
  PipeLink(const PipeLink&) = delete;
  PipeLink& operator=(const PipeLink&) = delete;

  bool WriteAll(const char* bytes, std::size_t size) override {
    while (size > 0) {
      OVERLAPPED overlapped{};
      overlapped.hEvent = writeDone_.Get();
      DWORD sent = 0;
      if (!::WriteFile(pipe_.Get(), bytes,
                       static_cast<DWORD>(std::min<std::size_t>(size, kPipeBuffer)), nullptr,
                       &overlapped) &&
          ::GetLastError() != ERROR_IO_PENDING)
        return false;
      if (!::GetOverlappedResult(pipe_.Get(), &overlapped, &sent, TRUE) || sent == 0) return false;
      bytes += sent;
      size -= sent;
    }
    return true;
  }

  long Read(char* buffer, std::size_t size, bool alsoInput) override {
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const bool console = alsoInput && ::GetConsoleMode(input, &mode);
    for (;;) {
      if (taken_ < count_) {
        const std::size_t count = std::min(size, count_ - taken_);
        std::memcpy(buffer, in_.data() + taken_, count);
        taken_ += count;
        return static_cast<long>(count);
      }
      if (!reading_ && !StartRead()) return 0;
      if (HasOverlappedIoCompleted(&readOverlapped_)) {
        if (!Collect()) return 0;
        continue;
      }
      if (alsoInput && !console) return -1;  // a pipe or file: read it at once
      const HANDLE handles[] = {readDone_.Get(), input};
      const DWORD woke = ::WaitForMultipleObjects(alsoInput ? 2 : 1, handles, FALSE, INFINITE);
      if (woke == WAIT_OBJECT_0) {
        if (!Collect()) return 0;
      } else if (woke == WAIT_OBJECT_0 + 1) {
        if (KeyWaiting(input)) return -1;
      } else {
        return 0;
      }
    }
  }

 private:
  bool StartRead() {
    readOverlapped_ = OVERLAPPED{};
    readOverlapped_.hEvent = readDone_.Get();
    if (!::ReadFile(pipe_.Get(), in_.data(), static_cast<DWORD>(in_.size()), nullptr,
                    &readOverlapped_) &&
        ::GetLastError() != ERROR_IO_PENDING)
      return false;
    reading_ = true;
    return true;
  }

  bool Collect() {
    reading_ = false;
    DWORD got = 0;
    if (!::GetOverlappedResult(pipe_.Get(), &readOverlapped_, &got, FALSE)) return false;
    count_ = got;
    taken_ = 0;
    return true;
  }

  // A key typed: the events of the console that are none (the mouse, focus,
  // a key let go) are taken away, so that the wait does not wake for them.
  static bool KeyWaiting(HANDLE input) {
    INPUT_RECORD record{};
    DWORD count = 0;
    while (::PeekConsoleInputW(input, &record, 1, &count) && count == 1) {
      if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
          record.Event.KeyEvent.uChar.UnicodeChar != 0)
        return true;
      ::ReadConsoleInputW(input, &record, 1, &count);
    }
    return false;
  }

  UniqueHandle pipe_;
  UniqueHandle readDone_ = NewEvent(true);
  UniqueHandle writeDone_ = NewEvent(true);
  OVERLAPPED readOverlapped_{};
  std::array<char, kReadAhead> in_{};
  std::size_t count_ = 0;
  std::size_t taken_ = 0;
  bool reading_ = false;
};

// The pipe a setting names; empty when it names none.
std::string ControlPipeName(const std::string& setting) {
  if (setting.rfind(kPipePrefixText, 0) == 0) return setting;
  if (setting.find_first_of("\\/") != std::string::npos) return "";
  return kPipePrefixText + setting;
}

}  // namespace

std::unique_ptr<ControlListener> ListenOnControl(const std::string& path, std::string* error) {
  const std::string name = ControlPipeName(path);
  if (name.empty() || name.size() == std::strlen(kPipePrefixText)) {
    *error = path + " is no pipe name (\\\\.\\pipe\\NAME or NAME)";
    return nullptr;
  }
  if (name.size() > kMostPipeName) {
    *error =
        path + " is too long for a pipe name (at most " + std::to_string(kMostPipeName) + " bytes)";
    return nullptr;
  }
  std::unique_ptr<void, LocalFreer> security = PipeSecurity(error);
  if (security == nullptr) return nullptr;
  // FILE_FLAG_FIRST_PIPE_INSTANCE refuses a served name; wine ignores it, so
  // the name is asked first (without taking an instance).
  std::string reason;
  if (::WaitNamedPipeW(Wide(name).c_str(), 1) || ::GetLastError() != ERROR_FILE_NOT_FOUND) {
    *error = name + " is in use by another sampler";
    return nullptr;
  }
  std::unique_ptr<Instance> first =
      PipeListener::OpenInstance(Wide(name), security.get(), true, &reason);
  if (first == nullptr) {
    *error = name + reason;
    return nullptr;
  }
  return std::make_unique<PipeListener>(Wide(name), std::move(security), std::move(first));
}

std::unique_ptr<ControlLink> ConnectToControl(const std::string& path, LinkFailure* failure,
                                              std::string* reason) {
  *failure = LinkFailure::kOther;
  const std::string name = ControlPipeName(path);
  if (name.empty()) {
    *reason = "no pipe name (\\\\.\\pipe\\NAME or NAME)";
    return nullptr;
  }
  const std::wstring wide = Wide(name);
  for (;;) {
    UniqueHandle pipe(::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (pipe.Valid()) {
      *failure = LinkFailure::kNone;
      return std::make_unique<PipeLink>(std::move(pipe));
    }
    const DWORD error = ::GetLastError();
    // Every instance taken for a moment: the sampler makes the next one.
    if (error == ERROR_PIPE_BUSY && ::WaitNamedPipeW(wide.c_str(), kBusyWaitMs)) continue;
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      *failure = LinkFailure::kNoListener;
    if (error == ERROR_ACCESS_DENIED) *failure = LinkFailure::kPermission;
    *reason = SystemText(error);
    return nullptr;
  }
}

std::string ControlPermissionHint() {
  return "run it as an administrator or as the service's account";
}

std::string InstanceControlPath(const std::string& instance) {
  return kPipePrefixText + ("zolsampler-" + instance);
}

}  // namespace zol
