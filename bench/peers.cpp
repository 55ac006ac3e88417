#include "peers.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "command_framer.h"
#include "measure.h"

namespace bench {
namespace {

constexpr int64_t kNsPerMs = 1'000'000;
constexpr int kReadChunk = 4096;

const char kSampleRecord[] = "1A2B, ZOL0042, 2024/01/15 12:35:00, 1705322100, 12.35\r\n";
const char kCtdDataLine[] = "12.345, 15.1234, 33.5678\r\n";

// False when the line has gone.
bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd room{fd, POLLOUT, 0};
    ::poll(&room, 1, 100);
  }
  return true;
}

struct TimedReply {
  int64_t atNs;
  int fd;
  std::string bytes;
};

class Instruments {
 public:
  Instruments(int zolMaster, int ctdMaster, int lineBaud, const ZolBehaviour& zol,
              const CtdBehaviour& ctd, PeerRecord& record)
      : zolFd_(zolMaster),
        ctdFd_(ctdMaster),
        byteNs_(10'000'000'000 / std::max(lineBaud, 1)),
        zol_(zol),
        ctd_(ctd),
        record_(record) {}

  int Run();

 private:
  // False when the line has hung up.
  bool Drain(int fd);
  void NoteCommandStart(int64_t arrivalNs);
  void OnZol(ZolCommand command, size_t length);
  void OnCtd(CtdCommand command, size_t length);
  // Answers once the command's last byte would have come down the line;
  // gives that moment.
  int64_t Answer(int fd, size_t commandLength, std::string bytes);
  void Reply(int fd, std::string_view bytes);
  void ReplyAt(int64_t atNs, int fd, std::string bytes);
  // Until the next timed reply; null when there is none.
  const timespec* TimeToNextReply(timespec& left) const;
  void SendDueReplies();

  const int zolFd_;
  const int ctdFd_;
  const int64_t byteNs_;
  const ZolBehaviour zol_;
  const CtdBehaviour ctd_;
  PeerRecord& record_;
  ZolCommandFramer zolFramer_;
  CtdCommandFramer ctdFramer_;
  std::vector<TimedReply> later_;
  int64_t lastReplyNs_ = 0;
  int64_t commandStartNs_ = 0;
};

int Instruments::Run() {
  pollfd lines[2] = {{zolFd_, POLLIN, 0}, {ctdFd_, POLLIN, 0}};
  const nfds_t count = ctdFd_ >= 0 ? 2 : 1;
  for (;;) {
    timespec left{};
    if (::ppoll(lines, count, TimeToNextReply(left), nullptr) < 0 && errno != EINTR) return 1;
    for (nfds_t i = 0; i < count; ++i) {
      if (lines[i].revents != 0 && !Drain(lines[i].fd)) return 0;
    }
    SendDueReplies();
  }
}

bool Instruments::Drain(int fd) {
  char chunk[kReadChunk];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) return n < 0 && (errno == EAGAIN || errno == EINTR);
    const int64_t arrivalNs = MonotonicNs();
    for (ssize_t i = 0; i < n; ++i) {
      const auto byte = static_cast<unsigned char>(chunk[i]);
      if (fd == zolFd_) {
        const FramedByte framed = zolFramer_.Feed(byte);
        if (framed.startsCommand) NoteCommandStart(arrivalNs);
        if (framed.completed != ZolCommand::kNone) {
          OnZol(framed.completed, zolFramer_.Text().size());
        }
      } else {
        const FramedCtdByte framed = ctdFramer_.Feed(byte);
        if (framed.startsCommand) NoteCommandStart(arrivalNs);
        if (framed.completed != CtdCommand::kNone) {
          OnCtd(framed.completed, ctdFramer_.Length());
        }
      }
    }
  }
}

void Instruments::NoteCommandStart(int64_t arrivalNs) {
  record_.commands.fetch_add(1);
  commandStartNs_ = arrivalNs;
  if (lastReplyNs_ == 0) return;
  const int slot = record_.samples.load();
  if (slot < kMaxLatencySamples) {
    record_.reactionNs[slot] = arrivalNs - lastReplyNs_;
    record_.samples.store(slot + 1);
  }
  lastReplyNs_ = 0;
}

void Instruments::OnZol(ZolCommand command, size_t length) {
  if (!zol_.answers) return;
  switch (command) {
    case ZolCommand::kWake:
      Answer(zolFd_, length, "ACK\r\n");
      break;
    case ZolCommand::kMode:
      Answer(zolFd_, length, "ACK," + zolFramer_.Text() + "\r\n");
      break;
    case ZolCommand::kCtd:
      Answer(zolFd_, length, zolFramer_.Text() + "\r\n");
      break;
    case ZolCommand::kTakeSample: {
      const int64_t acknowledgedNs = Answer(zolFd_, length, "ACK,TS,CMD\r\n");
      if (zol_.measureMs >= 0) {
        ReplyAt(acknowledgedNs + zol_.measureMs * kNsPerMs, zolFd_, "ACK,TS,DAT\r\n");
      }
      break;
    }
    case ZolCommand::kGetSample:
      Answer(zolFd_, length, kSampleRecord);
      break;
    case ZolCommand::kSleep:
      Answer(zolFd_, length, "ACK,SLP\r\n");
      break;
    default:
      break;
  }
}

void Instruments::OnCtd(CtdCommand command, size_t length) {
  if (command == CtdCommand::kPoke && ctd_.answersPoke) Answer(ctdFd_, length, "S>");
  if (command == CtdCommand::kMeasure && ctd_.dataMs >= 0) {
    ReplyAt(commandStartNs_ + static_cast<int64_t>(length) * byteNs_ + ctd_.dataMs * kNsPerMs,
            ctdFd_, kCtdDataLine);
  }
}

int64_t Instruments::Answer(int fd, size_t commandLength, std::string bytes) {
  const int64_t atNs = commandStartNs_ + static_cast<int64_t>(commandLength) * byteNs_;
  ReplyAt(atNs, fd, std::move(bytes));
  SendDueReplies();
  return atNs;
}

void Instruments::Reply(int fd, std::string_view bytes) {
  WriteAll(fd, bytes);
  lastReplyNs_ = MonotonicNs();
}

void Instruments::ReplyAt(int64_t atNs, int fd, std::string bytes) {
  later_.push_back({atNs, fd, std::move(bytes)});
}

const timespec* Instruments::TimeToNextReply(timespec& left) const {
  if (later_.empty()) return nullptr;
  int64_t first = later_.front().atNs;
  for (const TimedReply& reply : later_)
    first = std::min(first, reply.atNs);
  const int64_t leftNs = std::max<int64_t>(first - MonotonicNs(), 0);
  left.tv_sec = static_cast<time_t>(leftNs / 1'000'000'000);
  left.tv_nsec = static_cast<long>(leftNs % 1'000'000'000);
  return &left;
}

void Instruments::SendDueReplies() {
  const int64_t now = MonotonicNs();
  for (auto it = later_.begin(); it != later_.end();) {
    if (it->atNs > now) {
      ++it;
      continue;
    }
    Reply(it->fd, it->bytes);
    it = later_.erase(it);
  }
}

// --- The stream for the pass-through terminal ---

constexpr std::string_view kStreamMarker = "BEGIN";
constexpr std::string_view kBannerEnd = "( Type CTRL+K to exit )***\n";
// A console that shows nothing new for this long has stopped.
constexpr int kConsoleSilenceMs = 15000;
constexpr int64_t kPaceTickNs = kNsPerMs;

class Stream {
 public:
  Stream(int zolMaster, int consoleRead, const StreamPlan& plan, StreamRecord& record)
      : zolFd_(zolMaster), consoleFd_(consoleRead), plan_(plan), record_(record) {}

  void Send();
  // Returns once every byte arrived in order, one did not, or the console
  // stopped showing anything.
  void Check();
  void StopSending() {
    stop_.store(true);
    ReleaseSender();
  }
  bool Intact() const {
    return record_.mismatchAt.load() < 0 && record_.verified.load() == plan_.bytes;
  }

 private:
  void ReleaseSender() {
    started_.store(true);
    started_.notify_all();
  }
  // Bytes from `sent` up to `due`; false when the line has gone.
  bool SendUpTo(int64_t due);
  bool CheckBytes(const char* data, size_t count);

  const int zolFd_;
  const int consoleFd_;
  const StreamPlan plan_;
  StreamRecord& record_;
  std::atomic<bool> started_{false};
  std::atomic<bool> stop_{false};
  int64_t sent_ = 0;
};

bool Stream::SendUpTo(int64_t due) {
  char chunk[kReadChunk];
  while (sent_ < due && !stop_.load()) {
    const size_t count = static_cast<size_t>(std::min<int64_t>(due - sent_, sizeof chunk));
    for (size_t i = 0; i < count; ++i)
      chunk[i] = static_cast<char>(StreamByte(sent_ + i));
    if (sent_ == 0) record_.firstSentNs.store(MonotonicNs());
    const ssize_t n = ::write(zolFd_, chunk, count);
    if (n > 0) {
      sent_ += n;
      record_.sent.store(sent_);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd room{zolFd_, POLLOUT, 0};
    ::poll(&room, 1, 100);
  }
  return true;
}

void Stream::Send() {
  started_.wait(false);
  if (plan_.bytesPerSecond <= 0) {
    SendUpTo(plan_.bytes);
    return;
  }
  // The bytes due by each millisecond tick: the pace of a UART with a small
  // FIFO rather than one byte every 87 microseconds.
  timespec tick{};
  clock_gettime(CLOCK_MONOTONIC, &tick);
  const int64_t startNs = MonotonicNs();
  while (sent_ < plan_.bytes && !stop_.load()) {
    const int64_t elapsedNs = MonotonicNs() - startNs;
    const int64_t due = std::min(plan_.bytes, elapsedNs * plan_.bytesPerSecond / 1'000'000'000 + 1);
    if (!SendUpTo(due)) return;
    tick.tv_nsec += kPaceTickNs;
    if (tick.tv_nsec >= 1'000'000'000) {
      tick.tv_nsec -= 1'000'000'000;
      ++tick.tv_sec;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &tick, nullptr);
  }
}

bool Stream::CheckBytes(const char* data, size_t count) {
  int64_t verified = record_.verified.load();
  for (size_t i = 0; i < count; ++i) {
    const auto byte = static_cast<unsigned char>(data[i]);
    // The banner's own line ends come before the stream's first byte.
    if (verified == 0 && byte == '\n') continue;
    if (byte != StreamByte(verified)) {
      record_.mismatchAt.store(verified);
      return false;
    }
    ++verified;
    if (verified == plan_.bytes) {
      record_.lastVerifiedNs.store(MonotonicNs());
      record_.verified.store(verified);
      return false;
    }
  }
  record_.verified.store(verified);
  return true;
}

void Stream::Check() {
  std::string head;
  bool bannerSeen = false;
  char chunk[kReadChunk];
  for (;;) {
    pollfd console{consoleFd_, POLLIN, 0};
    if (::poll(&console, 1, kConsoleSilenceMs) <= 0) return;
    const ssize_t n = ::read(consoleFd_, chunk, sizeof chunk);
    if (n <= 0) return;
    if (bannerSeen) {
      if (!CheckBytes(chunk, static_cast<size_t>(n))) return;
      continue;
    }
    head.append(chunk, static_cast<size_t>(n));
    const size_t end = head.find(kBannerEnd);
    if (end == std::string::npos) continue;
    bannerSeen = true;
    ReleaseSender();
    const size_t rest = end + kBannerEnd.size();
    if (!CheckBytes(head.data() + rest, head.size() - rest)) return;
  }
}

void DrainToEnd(int fd) {
  char chunk[kReadChunk];
  while (::read(fd, chunk, sizeof chunk) > 0) {
  }
}

}  // namespace

int RunInstruments(int zolMaster, int ctdMaster, int lineBaud, const ZolBehaviour& zol,
                   const CtdBehaviour& ctd, PeerRecord& record) {
  return Instruments(zolMaster, ctdMaster, lineBaud, zol, ctd, record).Run();
}

unsigned char StreamByte(int64_t n) {
  if (n < static_cast<int64_t>(kStreamMarker.size())) {
    return static_cast<unsigned char>(kStreamMarker[static_cast<size_t>(n)]);
  }
  uint64_t x = static_cast<uint64_t>(n) * 0x9E3779B97F4A7C15ull;
  x ^= x >> 31;
  x *= 0xBF58476D1CE4E5B9ull;
  return static_cast<unsigned char>(x >> 56);
}

int RunStream(int zolMaster, int consoleRead, int keyWrite, const StreamPlan& plan,
              StreamRecord& record) {
  Stream stream(zolMaster, consoleRead, plan, record);
  std::thread sender([&stream] { stream.Send(); });
  stream.Check();
  stream.StopSending();
  const char ctrlK = 11;
  [[maybe_unused]] const ssize_t typed = ::write(keyWrite, &ctrlK, 1);
  record.keyWaiting.store(1);
  // The terminal's closing lines, until the sampler lets the console go.
  DrainToEnd(consoleRead);
  sender.join();
  return stream.Intact() ? 0 : 1;
}

}  // namespace bench
