#include "cab/atomic_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "cab/error.h"

namespace cab {

namespace {

// Temporaries that a signal handler must remove; fixed storage because the
// handler may use nothing but unlink.
constexpr int kSlots = 64;
struct Slot {
  std::atomic<bool> used{false};
  char path[4096] = {};
};
Slot slots[kSlots];

extern "C" void removeTemporaries(int sig) {
  for (auto& s : slots)
    if (s.used.load()) ::unlink(s.path);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

void installHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction old {};
      ::sigaction(sig, nullptr, &old);
      if (old.sa_handler != SIG_DFL) continue;  // someone else owns it
      struct sigaction sa {};
      sa.sa_handler = removeTemporaries;
      ::sigemptyset(&sa.sa_mask);
      ::sigaction(sig, &sa, nullptr);
    }
  });
}

int claimSlot(const std::string& path) {
  if (path.size() >= sizeof(Slot::path)) return -1;
  for (int i = 0; i < kSlots; ++i) {
    bool expected = false;
    // Fill the path before the flag can be seen as set by the handler.
    if (slots[i].used.load()) continue;
    std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
    if (slots[i].used.compare_exchange_strong(expected, true)) return i;
  }
  return -1;
}

void releaseSlot(int i) {
  if (i >= 0) slots[i].used.store(false);
}

}  // namespace

AtomicFile::AtomicFile(const std::filesystem::path& target, std::string label,
                       const std::filesystem::path& tempFolder)
    : target_(target), label_(std::move(label)) {
  installHandlers();
  std::filesystem::path dir = tempFolder.empty() ? target.parent_path() : tempFolder;
  if (dir.empty()) dir = ".";
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec))
    throw CabError("cannot write " + label_ + ": the folder does not exist");
  // The prefix the machine uses for its own temporaries: its folder listings
  // skip them.
  std::string tmpl = (dir / ".~brakvel-cab-XXXXXX").string();
  int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0) throw CabError("cannot write " + label_ + ": " + std::strerror(errno));
  ::fchmod(fd, 0644);
  temp_ = tmpl;
  slot_ = claimSlot(tmpl);
  stream_ = std::make_unique<FileOutStream>(fd, label_);
}

AtomicFile::~AtomicFile() {
  if (!done_) abandon();
}

void AtomicFile::abandon() {
  if (done_) return;
  done_ = true;
  stream_.reset();
  ::unlink(temp_.c_str());
  releaseSlot(slot_);
}

void AtomicFile::startClose() {
  if (!stream_) return;
  try {
    stream_->startFlush();
  } catch (...) {
    abandon();
    throw;
  }
}

void AtomicFile::close() {
  if (!stream_) return;
  try {
    stream_->flush();
  } catch (...) {
    abandon();
    throw;
  }
  stream_.reset();
}

void AtomicFile::commit() {
  close();
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    int e = errno;
    abandon();
    throw CabError("cannot write " + label_ + ": " + std::strerror(e));
  }
  done_ = true;
  releaseSlot(slot_);
}

}  // namespace cab
