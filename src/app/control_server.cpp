#include "app/control_server.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/control_reader.h"
#include "app/cycle_lock.h"
#include "app/interactive.h"
#include "app/keyboard.h"
#include "app/sampler_state.h"
#include "app/sampler_status.h"
#include "app/stop_request.h"
#include "base/clock.h"
#include "base/console_out.h"
#include "base/json_text.h"
#include "link/serial_service.h"

namespace zol {
namespace {

constexpr std::size_t kReadBlock = 1024;
// Blocks read from one client in one pass, so a flood cannot starve others.
constexpr int kBlocksPerPass = 8;
// How long a client being closed may take to read its last line.
constexpr int64_t kClosingGraceMs = 5000;
// An idle connection holds one of the few slots: it must use it or lose it.
constexpr int64_t kCommandIdleMs = int64_t{60} * 1000;
constexpr char kTerminalEnd = 0x0B;  // CTRL+K
constexpr const char* kStopHeading = "\nGot stop from control - Terminating Sampling Thread";
constexpr const char* kFollowDropped =
    "\nControl: follow ended: this client fell more than 64 KB behind\n";

std::string ErrorReply(std::string_view text) {
  return JsonObject().String("error", text).Text();
}

std::string SampleReply(uint32_t cycle, const CycleOutcome& outcome) {
  JsonObject reply;
  reply.Integer("cycle", cycle).Integer("stored", outcome.recordsStored);
  if (outcome.firstError.empty()) return reply.Null("first_error").Text();
  return reply.String("first_error", outcome.firstError).Text();
}

}  // namespace

struct ControlServer::Parts {
  enum class Mode { kCommands, kSampling, kTerminalWaiting, kTerminal, kFollow, kClosing };
  struct Client {
    int connection = -1;
    std::string who;
    ControlLineReader reader;
    std::string out;
    Mode mode = Mode::kCommands;
    int64_t closeByMs = 0;
    // A client taking commands must send a whole line by then.
    int64_t commandByMs = 0;
    bool inputEnded = false;
    bool gone = false;
  };
  struct Follower {
    std::string queued;
    bool dropped = false;
  };
  struct SampleDone {
    std::vector<uint64_t> clients;
    std::string reply;
  };

  explicit Parts(std::unique_ptr<ControlListener> l) : listener(std::move(l)) {}

  // The control thread.
  void Run();
  void Serve(std::vector<ChannelWatch>& watches, const std::vector<uint64_t>& ids);
  std::vector<ChannelWatch> Watches(std::vector<uint64_t>* ids);
  int WaitMs() const;
  void Accept();
  void ReadFrom(uint64_t id, Client& c);
  void HandleLines(uint64_t id, Client& c);
  void RunCommand(uint64_t id, Client& c, const std::string& line);
  void Reply(Client& c, const std::string& json);
  void Send(Client& c, std::string_view bytes);
  void CloseAfterReply(Client& c);
  void TakeCommands(Client& c);
  void ResumeCommands(uint64_t id, Client& c);
  void Flush(uint64_t id, Client& c);
  void CheckDeadlines();
  void Sweep();
  void Farewell();

  // The sample: one waiting group, run on its own thread.
  void RequestSample(uint64_t id, Client& c);
  void SampleWorker();
  void DeliverSamples();

  // The terminal: the cycle lock held on its own thread for one client.
  void OpenTerminal(uint64_t id, Client& c);
  void TerminalWorker();
  void EchoFromZol(const char* bytes, std::size_t count);
  void TerminalInput(uint64_t id, Client& c, std::string_view bytes);
  void EndTerminal(const char* why);
  void PumpTerminal();

  std::unique_ptr<ControlListener> listener;
  std::map<uint64_t, Client> clients;
  uint64_t nextId = 1;
  std::thread thread;
  std::atomic<bool> stopping{false};

  std::mutex sampleMutex;
  std::condition_variable sampleWake;
  std::vector<uint64_t> sampleWaiting;
  std::vector<SampleDone> samplesDone;
  bool sampleStop = false;
  std::thread sampleThread;

  std::mutex terminalMutex;
  std::condition_variable terminalWake;
  bool terminalOpen = false;
  bool terminalClose = false;
  bool terminalEnded = false;
  bool terminalOverflow = false;
  std::string terminalOut;
  std::thread terminalThread;
  // The control thread's own view of the terminal.
  uint64_t terminalClient = 0;  // 0: none
  bool terminalShown = false;
  int64_t terminalLastMs = 0;

  std::mutex followMutex;
  std::map<uint64_t, Follower> followers;
};

void ControlServer::Parts::Run() {
  while (!stopping.load()) {
    std::vector<uint64_t> ids;
    std::vector<ChannelWatch> watches = Watches(&ids);
    listener->Wait(watches, WaitMs());
    if (stopping.load()) break;
    DeliverSamples();
    PumpTerminal();
    Serve(watches, ids);
    CheckDeadlines();
    Sweep();
  }
  Farewell();
}

std::vector<ChannelWatch> ControlServer::Parts::Watches(std::vector<uint64_t>* ids) {
  std::vector<ChannelWatch> watches;
  watches.push_back({ChannelWatch::kListener, true, false});
  std::lock_guard lock(followMutex);
  for (const auto& [id, c] : clients) {
    // A client waiting for its sample or terminal sends nothing more for
    // now; what it sent stays in the kernel.
    const bool reads =
        !c.inputEnded && c.mode != Mode::kSampling && c.mode != Mode::kTerminalWaiting;
    const auto follower = followers.find(id);
    const bool writes =
        !c.out.empty() || (follower != followers.end() && !follower->second.queued.empty());
    watches.push_back({c.connection, reads, writes});
    ids->push_back(id);
  }
  return watches;
}

int ControlServer::Parts::WaitMs() const {
  int64_t wait = -1;
  const int64_t now = MonotonicNowMs();
  const auto sooner = [&](int64_t deadline) {
    const int64_t left = deadline > now ? deadline - now : 0;
    if (wait < 0 || left < wait) wait = left;
  };
  if (terminalShown) sooner(terminalLastMs + kTerminalIdleMs);
  for (const auto& [id, c] : clients) {
    if (c.mode == Mode::kClosing) sooner(c.closeByMs);
    if (c.mode == Mode::kCommands) sooner(c.commandByMs);
  }
  return static_cast<int>(wait);
}

void ControlServer::Parts::Serve(std::vector<ChannelWatch>& watches,
                                 const std::vector<uint64_t>& ids) {
  if (watches[0].readable) Accept();
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const auto found = clients.find(ids[i]);
    if (found == clients.end()) continue;
    // Readable after its input ended: the client has closed both ways.
    if (watches[i + 1].readable && found->second.inputEnded) found->second.gone = true;
    if (watches[i + 1].readable) ReadFrom(ids[i], found->second);
    if (!found->second.gone) Flush(ids[i], found->second);
  }
}

void ControlServer::Parts::Accept() {
  for (;;) {
    std::string who;
    const int connection = listener->Accept(&who);
    if (connection < 0) return;
    if (clients.size() >= kMostControlClients) {
      const std::string refusal = ErrorReply("too many connections (at most 16)") + "\n";
      listener->Write(connection, refusal.data(), refusal.size());
      listener->Close(connection);
      continue;
    }
    Client& c = clients[nextId++];
    c.connection = connection;
    c.who = who;
    TakeCommands(c);
  }
}

void ControlServer::Parts::ReadFrom(uint64_t id, Client& c) {
  char block[kReadBlock];
  for (int pass = 0; pass < kBlocksPerPass && !c.gone && !c.inputEnded; ++pass) {
    const long got = listener->Read(c.connection, block, sizeof block);
    if (got < 0) {
      // The client has sent all it will (socat at the end of its input):
      // it still gets the replies it asked for.
      c.inputEnded = true;
      if (terminalClient == id) EndTerminal("the client went away");
      // A sample still gets its reply, a follower its lines.
      if (c.mode == Mode::kCommands) CloseAfterReply(c);
      return;
    }
    if (got == 0) return;
    const std::string_view bytes(block, static_cast<std::size_t>(got));
    switch (c.mode) {
      case Mode::kTerminal:
        TerminalInput(id, c, bytes);
        break;
      case Mode::kCommands:
        c.reader.Append(bytes.data(), bytes.size());
        HandleLines(id, c);
        break;
      case Mode::kSampling:
      case Mode::kTerminalWaiting:
        // Kept for when the wait is over; nothing more is read till then.
        c.reader.Append(bytes.data(), bytes.size());
        return;
      default:
        // Followers and clients being closed: read and forgotten.
        break;
    }
  }
}

void ControlServer::Parts::HandleLines(uint64_t id, Client& c) {
  std::string line;
  while (c.mode == Mode::kCommands && !c.gone) {
    const ControlLineReader::Result result = c.reader.Next(&line);
    if (result == ControlLineReader::Result::kNone) return;
    if (result == ControlLineReader::Result::kTooLong) {
      Reply(c, ErrorReply("line longer than 512 bytes"));
      CloseAfterReply(c);
      return;
    }
    c.commandByMs = MonotonicNowMs() + kCommandIdleMs;
    RunCommand(id, c, line);
  }
}

void ControlServer::Parts::RunCommand(uint64_t id, Client& c, const std::string& line) {
  switch (ParseControlCommand(line)) {
    case ControlCommand::kNone:
      return;
    case ControlCommand::kStatus:
      Reply(c, StatusJson());
      return;
    case ControlCommand::kSample:
      RequestSample(id, c);
      return;
    case ControlCommand::kTerminal:
      OpenTerminal(id, c);
      return;
    case ControlCommand::kFollow: {
      c.mode = Mode::kFollow;
      std::lock_guard lock(followMutex);
      followers[id] = Follower();
      return;
    }
    case ControlCommand::kStop:
      Reply(c, JsonObject().Bool("stopping", true).Text());
      ConsolePrintf("Control: stop requested by %s\n", c.who.c_str());
      RequestStop(kStopHeading);
      return;
    case ControlCommand::kUnknown:
      Reply(c, UnknownCommandReply(line));
      return;
  }
}

void ControlServer::Parts::Reply(Client& c, const std::string& json) {
  Send(c, json + "\n");
}

void ControlServer::Parts::Send(Client& c, std::string_view bytes) {
  // A client that does not read its replies is dropped, not buffered for.
  if (c.out.size() + bytes.size() > kMostControlBacklog) {
    c.gone = true;
    return;
  }
  c.out.append(bytes);
}

void ControlServer::Parts::CloseAfterReply(Client& c) {
  c.mode = Mode::kClosing;
  c.closeByMs = MonotonicNowMs() + kClosingGraceMs;
}

void ControlServer::Parts::TakeCommands(Client& c) {
  c.mode = Mode::kCommands;
  c.commandByMs = MonotonicNowMs() + kCommandIdleMs;
}

// After a wait: what the client sent meanwhile, then the close it asked for.
void ControlServer::Parts::ResumeCommands(uint64_t id, Client& c) {
  TakeCommands(c);
  HandleLines(id, c);
  if (c.inputEnded && c.mode == Mode::kCommands) CloseAfterReply(c);
}

void ControlServer::Parts::Flush(uint64_t id, Client& c) {
  if (!c.out.empty()) {
    const long sent = listener->Write(c.connection, c.out.data(), c.out.size());
    if (sent < 0) {
      c.gone = true;
      return;
    }
    c.out.erase(0, static_cast<std::size_t>(sent));
  }
  bool followPending = false;
  {
    std::lock_guard lock(followMutex);
    const auto found = followers.find(id);
    if (found != followers.end()) {
      Follower& f = found->second;
      const long sent =
          f.queued.empty() ? 0 : listener->Write(c.connection, f.queued.data(), f.queued.size());
      if (sent < 0) {
        c.gone = true;
        return;
      }
      f.queued.erase(0, static_cast<std::size_t>(sent));
      followPending = !f.queued.empty();
      if (f.dropped && c.mode == Mode::kFollow) CloseAfterReply(c);
    }
  }
  if (c.mode == Mode::kClosing && c.out.empty() && !followPending) c.gone = true;
}

void ControlServer::Parts::CheckDeadlines() {
  const int64_t now = MonotonicNowMs();
  if (terminalShown && now - terminalLastMs >= kTerminalIdleMs)
    EndTerminal("10 minutes without a byte");
  for (auto& [id, c] : clients) {
    if (c.mode == Mode::kClosing && now >= c.closeByMs) c.gone = true;
    if (c.mode == Mode::kCommands && now >= c.commandByMs) {
      Reply(c, ErrorReply("no command within 60 seconds"));
      CloseAfterReply(c);
    }
  }
}

void ControlServer::Parts::Sweep() {
  for (auto it = clients.begin(); it != clients.end();) {
    if (!it->second.gone) {
      ++it;
      continue;
    }
    if (terminalClient == it->first) EndTerminal("the client went away");
    {
      std::lock_guard lock(followMutex);
      followers.erase(it->first);
    }
    listener->Close(it->second.connection);
    it = clients.erase(it);
  }
}

void ControlServer::Parts::Farewell() {
  EndTerminal("stop");
  // A follower gets the stop's own lines too, as far as one write takes them.
  std::map<uint64_t, std::string> lastLines;
  {
    std::lock_guard lock(followMutex);
    for (auto& [id, f] : followers)
      lastLines[id] = std::move(f.queued);
    followers.clear();
  }
  for (auto& [id, c] : clients) {
    if (!c.out.empty()) listener->Write(c.connection, c.out.data(), c.out.size());
    const auto last = lastLines.find(id);
    if (last != lastLines.end() && !last->second.empty())
      listener->Write(c.connection, last->second.data(), last->second.size());
    listener->Close(c.connection);
  }
  clients.clear();
}

void ControlServer::Parts::RequestSample(uint64_t id, Client& c) {
  ConsolePrintf("Control: sample requested by %s\n", c.who.c_str());
  c.mode = Mode::kSampling;
  {
    std::lock_guard lock(sampleMutex);
    sampleWaiting.push_back(id);
  }
  sampleWake.notify_one();
}

void ControlServer::Parts::SampleWorker() {
  std::unique_lock lock(sampleMutex);
  for (;;) {
    sampleWake.wait(lock, [this] { return sampleStop || !sampleWaiting.empty(); });
    if (sampleStop) return;
    // Requests that come while this one waits share its reply.
    SampleDone done{std::move(sampleWaiting), ""};
    sampleWaiting.clear();
    lock.unlock();
    {
      std::lock_guard cycle(TheCycleLock());
      if (!stopping.load()) {
        const CycleOutcome outcome = RunForcedCycle();
        done.reply = SampleReply(State().sampleCount, outcome);
      }
    }
    lock.lock();
    if (done.reply.empty()) continue;
    samplesDone.push_back(std::move(done));
    listener->Wake();
  }
}

void ControlServer::Parts::DeliverSamples() {
  std::vector<SampleDone> done;
  {
    std::lock_guard lock(sampleMutex);
    done.swap(samplesDone);
  }
  for (const SampleDone& sample : done) {
    for (const uint64_t id : sample.clients) {
      const auto found = clients.find(id);
      if (found == clients.end() || found->second.mode != Mode::kSampling) continue;
      Reply(found->second, sample.reply);
      ResumeCommands(id, found->second);
    }
  }
}

void ControlServer::Parts::OpenTerminal(uint64_t id, Client& c) {
  if (terminalClient != 0 || !ClaimTerminal(TerminalUser::kControl)) {
    Reply(c, ErrorReply("the ZOL terminal is in use"));
    return;
  }
  if (terminalThread.joinable()) terminalThread.join();
  {
    std::lock_guard lock(terminalMutex);
    terminalOpen = terminalClose = terminalEnded = terminalOverflow = false;
    terminalOut.clear();
  }
  terminalClient = id;
  terminalShown = false;
  c.mode = Mode::kTerminalWaiting;
  try {
    terminalThread = std::thread([this] { TerminalWorker(); });
  } catch (const std::system_error&) {
    terminalClient = 0;
    ReleaseTerminal();
    TakeCommands(c);
    Reply(c, ErrorReply("the ZOL terminal could not be started"));
  }
}

void ControlServer::Parts::TerminalWorker() {
  // A console CTRL+F that got in first goes first, without waiting for this.
  AwaitConsoleSamples();
  {
    std::lock_guard cycle(TheCycleLock());
    std::unique_lock lock(terminalMutex);
    if (!terminalClose) {
      terminalOpen = true;
      lock.unlock();
      listener->Wake();
      const TerminalOpenNote note;
      try {
        ZolEcho echo(Settings().zolPort,
                     [this](const char* bytes, std::size_t count) { EchoFromZol(bytes, count); });
        lock.lock();
        terminalWake.wait(lock, [this] { return terminalClose; });
        lock.unlock();
      } catch (const std::system_error&) {
        // No echo: the terminal ends as soon as it opened.
      }
    }
  }
  {
    std::lock_guard lock(terminalMutex);
    terminalEnded = true;
  }
  ReleaseTerminal();
  listener->Wake();
}

void ControlServer::Parts::EchoFromZol(const char* bytes, std::size_t count) {
  {
    std::lock_guard lock(terminalMutex);
    if (terminalOut.size() + count > kMostControlBacklog) {
      terminalOverflow = true;
    } else {
      terminalOut.append(bytes, count);
    }
  }
  listener->Wake();
}

void ControlServer::Parts::TerminalInput(uint64_t id, Client& c, std::string_view bytes) {
  terminalLastMs = MonotonicNowMs();
  const int port = Settings().zolPort;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != kTerminalEnd) {
      SerialPutc(port, static_cast<unsigned char>(bytes[i]));
      continue;
    }
    EndTerminal("CTRL+K");
    const std::string_view rest = bytes.substr(i + 1);
    c.reader.Append(rest.data(), rest.size());
    HandleLines(id, c);
    return;
  }
}

void ControlServer::Parts::EndTerminal(const char* why) {
  if (terminalClient == 0) return;
  {
    std::lock_guard lock(terminalMutex);
    if (terminalClose) return;
    terminalClose = true;
  }
  terminalWake.notify_all();
  const auto found = clients.find(terminalClient);
  if (terminalShown) {
    ConsolePrintf("Control: ZOL terminal closed (%s)\n", why);
  }
  terminalShown = false;
  // Its commands wait until the terminal has let go of the ZOL, so that it
  // may open the terminal again at once.
  if (found != clients.end() && found->second.mode == Mode::kTerminal)
    found->second.mode = Mode::kTerminalWaiting;
}

void ControlServer::Parts::PumpTerminal() {
  if (terminalClient == 0) return;
  bool open = false;
  bool ended = false;
  bool overflow = false;
  std::string bytes;
  {
    std::lock_guard lock(terminalMutex);
    open = terminalOpen && !terminalClose;
    ended = terminalEnded;
    overflow = terminalOverflow;
    bytes.swap(terminalOut);
  }
  const auto found = clients.find(terminalClient);
  if (ended) {
    terminalThread.join();
    const uint64_t id = terminalClient;
    EndTerminal("the ZOL terminal ended");
    terminalClient = 0;
    if (found != clients.end() && found->second.mode == Mode::kTerminalWaiting)
      ResumeCommands(id, found->second);
    return;
  }
  if (found == clients.end()) return;
  Client& c = found->second;
  if (open && c.mode == Mode::kTerminalWaiting) {
    Reply(c, JsonObject().String("terminal", "open").Text());
    ConsolePrintf("Control: ZOL terminal opened by %s (CTRL+K ends it)\n", c.who.c_str());
    c.mode = Mode::kTerminal;
    terminalShown = true;
    terminalLastMs = MonotonicNowMs();
    const std::string typedAhead = c.reader.TakeRest();
    TerminalInput(terminalClient, c, typedAhead);
  }
  if (!bytes.empty() && c.mode == Mode::kTerminal) {
    terminalLastMs = MonotonicNowMs();
    Send(c, bytes);
  }
  if (overflow) EndTerminal("the client fell behind");
}

ControlServer::ControlServer(std::unique_ptr<ControlListener> listener)
    : parts_(std::make_unique<Parts>(std::move(listener))) {}

ControlServer::~ControlServer() {
  Stop();
}

void ControlServer::Start() {
  Parts& p = *parts_;
  p.sampleThread = std::thread([&p] { p.SampleWorker(); });
  p.thread = std::thread([&p] { p.Run(); });
}

void ControlServer::Stop() {
  Parts& p = *parts_;
  if (!p.thread.joinable()) return;
  p.stopping.store(true);
  p.listener->Wake();
  p.thread.join();
  {
    std::lock_guard lock(p.sampleMutex);
    p.sampleStop = true;
  }
  p.sampleWake.notify_all();
  p.sampleThread.join();
  if (p.terminalThread.joinable()) p.terminalThread.join();
  p.listener->Unlink();
}

void ControlServer::Tee(const char* bytes, std::size_t count) {
  Parts& p = *parts_;
  {
    std::lock_guard lock(p.followMutex);
    if (p.followers.empty()) return;
    for (auto& [id, f] : p.followers) {
      if (f.dropped) continue;
      if (f.queued.size() + count > kMostControlBacklog) {
        f.dropped = true;
        f.queued = kFollowDropped;
      } else {
        f.queued.append(bytes, count);
      }
    }
  }
  p.listener->Wake();
}

namespace {

// Kept until the process ends: the console's tee may still be writing.
ControlServer* g_server = nullptr;

void TeeToServer(const char* bytes, std::size_t count) {
  g_server->Tee(bytes, count);
}

}  // namespace

void OpenControlSocket() {
  const char* setting = std::getenv("ZOLSAMPLER_CONTROL");
  if (setting == nullptr || setting[0] == '\0') return;
  std::string error;
  std::unique_ptr<ControlListener> listener = ListenOnControl(setting, &error);
  if (listener == nullptr) {
    std::fprintf(stderr, "zolsampler: ZOLSAMPLER_CONTROL: %s\n", error.c_str());
    // NOLINTNEXTLINE(concurrency-mt-unsafe): start-up, before any thread runs
    std::exit(1);
  }
  ConsolePrintf("Control socket: %s\n", setting);
  g_server = new ControlServer(std::move(listener));
}

void StartControl() {
  if (g_server == nullptr) return;
  SetConsoleTee(TeeToServer);
  g_server->Start();
}

void StopControl() {
  if (g_server == nullptr) return;
  SetConsoleTee(nullptr);
  g_server->Stop();
}

}  // namespace zol
