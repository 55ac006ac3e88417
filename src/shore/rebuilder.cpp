#include "shore/rebuilder.h"

#include <cerrno>
#include <fstream>
#include <system_error>
#include <utility>

#include "base/errno_text.h"
#include "files/append_file.h"
#include "shore/sync_directory.h"

namespace zol::shore {

namespace fs = std::filesystem;

struct Rebuilder::File {
  std::string name;  // "station/file", for reports
  fs::path path;
  fs::path statePath;  // ".<file>.zolshore" beside it: the generation
  fs::path heldPath;   // ".<file>.held": the held lines, so a restart keeps them
  int64_t generation = 0;
  uint64_t front = 0;  // the file's size: every byte before it is written
  std::map<uint64_t, std::string> held;
  std::unique_ptr<AppendFile> out;
  bool unsynced = false;
  bool failing = false;  // a write failed and was reported; quiet until one works
};

namespace {

bool ReadGeneration(const fs::path& path, int64_t* generation) {
  std::ifstream in(path);
  std::string word;
  return static_cast<bool>(in >> word >> *generation) && word == "generation";
}

// Write, sync, rename, sync the folder: the old state or the new, never half.
bool WriteGeneration(const fs::path& path, int64_t generation) {
  fs::path temporary = path;
  temporary += ".new";
  std::error_code error;
  fs::remove(temporary, error);
  const std::string text = "generation " + std::to_string(generation) + "\n";
  {
    std::unique_ptr<AppendFile> out = AppendFile::Open(temporary.c_str());
    if (out == nullptr || !out->AppendWhole(text.data(), text.size()) || !out->Sync()) return false;
  }
  fs::rename(temporary, path, error);
  if (error) {
    errno = error.value();
    return false;
  }
  return SyncDirectory(path.parent_path().c_str());
}

// "<file>.<generation>", or with ".1", ".2" ... after it when that is taken.
fs::path AsideName(const fs::path& path, int64_t generation) {
  fs::path aside = path;
  aside += "." + std::to_string(generation);
  std::error_code error;
  for (int n = 1; fs::exists(aside, error) && n < 1000; ++n) {
    aside = path;
    aside += "." + std::to_string(generation) + "." + std::to_string(n);
  }
  return aside;
}

}  // namespace

Rebuilder::Rebuilder(fs::path dir, RebuildLimits limits, Report report)
    : dir_(std::move(dir)), limits_(limits), report_(std::move(report)) {}

Rebuilder::~Rebuilder() {
  Sync();
}

Outcome Rebuilder::Handle(std::string_view topic, std::string_view json) {
  LineMessage message;
  std::string error;
  if (!ParseLineMessage(json, &message, &error)) {
    report_("refused a message on " + std::string(topic) + ": " + error);
    return Outcome::kRefused;
  }
  return Apply(message);
}

Rebuilder::File* Rebuilder::Load(const LineMessage& message) {
  const std::string key = message.station + "/" + message.file;
  if (auto found = files_.find(key); found != files_.end()) return found->second.get();
  auto file = std::make_unique<File>();
  file->name = key;
  const fs::path folder = dir_ / message.station;
  file->path = folder / message.file;
  file->statePath = folder / ("." + message.file + ".zolshore");
  file->heldPath = folder / ("." + message.file + ".held");
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) {
    report_("cannot make " + folder.string() + ": " + error.message());
    return nullptr;
  }
  const bool known = ReadGeneration(file->statePath, &file->generation);
  if (!known) {
    // A file met for the first time (or one from before the state was
    // kept) belongs to the generation that arrives.
    file->generation = message.generation;
    if (!WriteGeneration(file->statePath, file->generation)) {
      report_("cannot write " + file->statePath.string() + ": " + ErrnoText(errno));
      return nullptr;
    }
  }
  const uintmax_t size = fs::file_size(file->path, error);
  file->front = error ? 0 : size;
  File* loaded = files_.emplace(key, std::move(file)).first->second.get();
  ReloadHeld(*loaded);
  return loaded;
}

// Entries "<offset> <length>\n<bytes>"; a cut last one (a crash) ends it.
void Rebuilder::ReloadHeld(File& file) {
  std::ifstream in(file.heldPath, std::ios::binary);
  uint64_t offset = 0;
  std::size_t length = 0;
  while (in >> offset >> length && in.get() == '\n' && length <= limits_.maxHeldBytes) {
    std::string bytes(length, '\0');
    if (!in.read(bytes.data(), static_cast<std::streamsize>(length))) break;
    if (offset < file.front || file.held.count(offset)) continue;
    if (heldLines_ + 1 > limits_.maxHeldLines || heldBytes_ + length > limits_.maxHeldBytes) break;
    heldBytes_ += length;
    ++heldLines_;
    file.held.emplace(offset, std::move(bytes));
  }
  Drain(file);
}

void Rebuilder::SpoolHeld(File& file, uint64_t offset, const std::string& bytes) {
  const std::string entry =
      std::to_string(offset) + " " + std::to_string(bytes.size()) + "\n" + bytes;
  std::unique_ptr<AppendFile> out = AppendFile::Open(file.heldPath.c_str());
  if (out == nullptr || !out->AppendWhole(entry.data(), entry.size()) || !out->Sync())
    report_("cannot write " + file.heldPath.string() + ": " + ErrnoText(errno) +
            "; the line at offset " + std::to_string(offset) + " is held in memory only");
}

void Rebuilder::DropHeld(File& file) {
  for (const auto& [offset, bytes] : file.held) {
    heldBytes_ -= bytes.size();
    --heldLines_;
  }
  file.held.clear();
  std::error_code error;
  fs::remove(file.heldPath, error);
}

bool Rebuilder::NewGeneration(File& file, int64_t generation) {
  if (file.out) {
    (void)file.out->Sync();
    file.out.reset();
    --openFiles_;
  }
  std::error_code error;
  if (fs::exists(file.path, error)) {
    const fs::path aside = AsideName(file.path, file.generation);
    fs::rename(file.path, aside, error);
    if (error) {
      report_("cannot move " + file.path.string() + " aside: " + error.message());
      return false;
    }
  }
  DropHeld(file);
  if (!WriteGeneration(file.statePath, generation)) {
    report_("cannot write " + file.statePath.string() + ": " + ErrnoText(errno));
    return false;
  }
  file.generation = generation;
  file.front = 0;
  file.failing = false;
  return true;
}

Outcome Rebuilder::Apply(const LineMessage& message) {
  File* file = Load(message);
  if (file == nullptr) return Outcome::kFailed;
  if (message.generation < file->generation) return Outcome::kStale;
  if (message.generation > file->generation && !NewGeneration(*file, message.generation))
    return Outcome::kFailed;
  if (message.offset < file->front || file->held.count(message.offset)) return Outcome::kDuplicate;
  if (message.offset - file->front > limits_.maxAhead) {
    report_(file->name + ": refused the line at offset " + std::to_string(message.offset) +
            ", more than " + std::to_string(limits_.maxAhead) + " bytes past the front at " +
            std::to_string(file->front));
    return Outcome::kRefused;
  }
  if (!Hold(*file, message)) return Outcome::kRefused;
  Drain(*file);
  return message.offset < file->front ? Outcome::kWritten : Outcome::kHeld;
}

bool Rebuilder::Hold(File& file, const LineMessage& message) {
  if (heldLines_ + 1 > limits_.maxHeldLines ||
      heldBytes_ + message.bytes.size() > limits_.maxHeldBytes) {
    report_(file.name + ": no room to hold the line at offset " + std::to_string(message.offset) +
            " until the lines before it arrive (front at " + std::to_string(file.front) +
            "); dropped");
    return false;
  }
  file.held.emplace(message.offset, message.bytes);
  ++heldLines_;
  heldBytes_ += message.bytes.size();
  // The line at the front is written at once and needs no spool.
  if (message.offset != file.front) SpoolHeld(file, message.offset, message.bytes);
  return true;
}

// Writes the held lines that now start at the front, in order.
void Rebuilder::Drain(File& file) {
  while (!file.held.empty() && file.held.begin()->first <= file.front) {
    auto first = file.held.begin();
    // One that overlaps the front came from a different line split: the
    // bytes already written stand.
    if (first->first == file.front && !WriteFront(file, first->second)) return;
    heldBytes_ -= first->second.size();
    --heldLines_;
    file.held.erase(first);
    if (file.held.empty()) DropHeld(file);
  }
}

bool Rebuilder::WriteFront(File& file, const std::string& bytes) {
  if (file.out == nullptr) {
    CloseOthers(file);
    file.out = AppendFile::Open(file.path.c_str());
    if (file.out) ++openFiles_;
  }
  if (file.out == nullptr || !file.out->AppendWhole(bytes.data(), bytes.size())) {
    if (!file.failing)
      report_("cannot write " + file.path.string() + ": " + ErrnoText(errno) +
              "; its lines are held and tried again with the next one");
    file.failing = true;
    return false;
  }
  file.failing = false;
  file.front += bytes.size();
  file.unsynced = true;
  return true;
}

void Rebuilder::CloseOthers(const File& keep) {
  if (openFiles_ < limits_.maxOpenFiles) return;
  for (auto& [key, file] : files_) {
    if (file.get() == &keep || file->out == nullptr) continue;
    if (file->unsynced) (void)file->out->Sync();
    file->unsynced = false;
    file->out.reset();
    --openFiles_;
  }
}

void Rebuilder::Sync() {
  for (auto& [key, file] : files_) {
    if (!file->unsynced || file->out == nullptr) continue;
    if (!file->out->Sync()) report_("cannot sync " + file->path.string() + ": " + ErrnoText(errno));
    file->unsynced = false;
  }
}

}  // namespace zol::shore
