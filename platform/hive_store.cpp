#include "platform/hive_store.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/files.h"

namespace platform::hive {

namespace {

constexpr std::array<std::string_view, 4> kRootNames = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                                         "HKEY_LOCAL_MACHINE", "HKEY_USERS"};

// A hive file mapped for reading; copied into the hive while it is parsed.
class FileView {
 public:
  explicit FileView(int fd, size_t size) : size_(size) {
    if (size_ == 0) return;
    void* p = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (p == MAP_FAILED) throw std::system_error(errno, std::generic_category());
    data_ = static_cast<const char*>(p);
  }
  ~FileView() {
    if (data_) munmap(const_cast<char*>(data_), size_);
  }
  FileView(const FileView&) = delete;
  FileView& operator=(const FileView&) = delete;
  std::string_view text() const { return {data_ ? data_ : "", size_}; }

 private:
  const char* data_ = nullptr;
  size_t size_;
};

}  // namespace

std::optional<Root> rootByName(std::string_view name) {
  for (size_t i = 0; i < kRootNames.size(); ++i)
    if (sameName(name, kRootNames[i])) return static_cast<Root>(i);
  return std::nullopt;
}

std::string_view rootName(Root r) { return kRootNames[static_cast<size_t>(r)]; }

std::vector<std::string_view> splitPath(std::string_view path) {
  std::vector<std::string_view> out;
  splitPath(path, out);
  return out;
}

void splitPath(std::string_view path, std::vector<std::string_view>& out) {
  out.clear();
  size_t i = 0;
  while (i < path.size()) {
    size_t e = path.find('\\', i);
    if (e == std::string_view::npos) e = path.size();
    if (e > i) out.push_back(path.substr(i, e - i));
    i = e + 1;
  }
}

Place HiveStore::place(Root root, const std::vector<std::string_view>& path, bool classesDat) {
  Place p{kSystemHive, {}};
  place(root, path, classesDat, p);
  return p;
}

void HiveStore::place(Root root, const std::vector<std::string_view>& path, bool classesDat, Place& p) {
  static constexpr std::string_view kSoftware = "Software", kClasses = "Classes",
                                    kDefault = ".Default";
  p.hive = kSystemHive;
  p.path.clear();
  switch (root) {
    case Root::LocalMachine:
      if (classesDat && path.size() >= 2 && sameName(path[0], kSoftware) &&
          sameName(path[1], kClasses)) {
        p.hive = kClassesHive;
        p.path.assign(path.begin() + 2, path.end());
      } else {
        p.path.assign(path.begin(), path.end());
      }
      break;
    case Root::CurrentUser:
      p.hive = kUserHive;
      p.path.push_back(kDefault);
      p.path.insert(p.path.end(), path.begin(), path.end());
      break;
    case Root::Users:
      p.hive = kUserHive;
      p.path.assign(path.begin(), path.end());
      break;
    case Root::ClassesRoot:
      if (classesDat) {
        p.hive = kClassesHive;
        p.path.assign(path.begin(), path.end());
      } else {
        p.path.push_back(kSoftware);
        p.path.push_back(kClasses);
        p.path.insert(p.path.end(), path.begin(), path.end());
      }
      break;
  }
}

HiveStore::HiveStore(const Machine& m) : m_(m) {
  // machine.ini decides where Windows lives; a WinDir changed in the host
  // environment (a test of the program's own checks) does not move the hives.
  if (auto w = m.ini("Environment", "WinDir"); w && !w->empty())
    winDir_ = *w;
  else if (auto e = m.env("WinDir"); e && !e->empty())
    winDir_ = *e;
  else
    winDir_ = "C:\\WINDOWS";
}

HiveStore::~HiveStore() {
  for (auto& s : slots_)
    if (s.lockFd >= 0) close(s.lockFd);
}

std::string HiveStore::winPath(HiveId id) const { return winJoin(winDir_, kHiveFileName[id]); }

HiveStore::Stamp HiveStore::stampOf(HiveId id) {
  Slot& s = slots_[id];
  Stamp st;
  struct stat sb;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (s.host.empty() || attempt == 1) {
      try {
        s.host = m_.toHost(winPath(id)).string();
      } catch (const Error&) {
        s.host.clear();
        return st;
      }
    }
    if (stat(s.host.c_str(), &sb) == 0 && S_ISREG(sb.st_mode)) {
      st.exists = true;
      st.dev = sb.st_dev;
      st.ino = sb.st_ino;
      st.size = static_cast<uint64_t>(sb.st_size);
      st.mtimeNs = static_cast<int64_t>(sb.st_mtim.tv_sec) * 1000000000 + sb.st_mtim.tv_nsec;
      st.ctimeNs = static_cast<int64_t>(sb.st_ctim.tv_sec) * 1000000000 + sb.st_ctim.tv_nsec;
      return st;
    }
  }
  return st;
}

bool HiveStore::hasClassesDat() { return stampOf(kClassesHive).exists; }

void HiveStore::lock(HiveId id, int op) {
  Slot& s = slots_[id];
  if (s.lockFd < 0) {
    fs::path dir = m_.root() / ".locks";
    std::error_code ec;
    fs::create_directories(dir, ec);
    fs::path file = dir / (std::string(kHiveFileName[id]) + ".lock");
    s.lockFd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (s.lockFd < 0)
      throw HiveError(winPath(id) + ": cannot open its lock file " + file.string() + ": " +
                      std::strerror(errno));
  }
  while (flock(s.lockFd, op) != 0) {
    if (errno != EINTR)
      throw HiveError(winPath(id) + ": cannot lock: " + std::strerror(errno));
  }
}

void HiveStore::unlock(HiveId id) {
  if (slots_[id].lockFd >= 0) flock(slots_[id].lockFd, LOCK_UN);
}

void HiveStore::load(HiveId id, const Stamp& st) {
  Slot& s = slots_[id];
  s.valid = false;
  s.hive.reset();
  if (!st.exists) {
    s.hive.emplace(kHiveTop[id]);
    s.stamp = st;
    s.valid = true;
    return;
  }
  int fd = open(s.host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {  // replaced between the look and the open
      load(id, stampOf(id));
      return;
    }
    throw HiveError(winPath(id) + ": cannot read: " + std::strerror(errno));
  }
  Stamp now = st;
  struct stat sb;
  if (fstat(fd, &sb) == 0) {
    now.dev = sb.st_dev;
    now.ino = sb.st_ino;
    now.size = static_cast<uint64_t>(sb.st_size);
    now.mtimeNs = static_cast<int64_t>(sb.st_mtim.tv_sec) * 1000000000 + sb.st_mtim.tv_nsec;
    now.ctimeNs = static_cast<int64_t>(sb.st_ctim.tv_sec) * 1000000000 + sb.st_ctim.tv_nsec;
  }
  HiveLoad r;
  try {
    FileView view(fd, now.size);
    r = loadHive(view.text(), kHiveTop[id]);
  } catch (const std::system_error& e) {
    close(fd);
    throw HiveError(winPath(id) + ": cannot read: " + e.what());
  }
  close(fd);
  if (r.error)
    throw HiveError(winPath(id) + ":" + std::to_string(r.error->line) + ": " + r.error->what);
  s.hive = std::move(r.hive);
  s.stamp = now;
  s.valid = true;
}

Hive& HiveStore::read(HiveId id) {
  Slot& s = slots_[id];
  Stamp st = stampOf(id);
  if (s.valid && s.stamp == st) return *s.hive;
  lock(id, LOCK_SH);
  try {
    load(id, stampOf(id));
  } catch (...) {
    unlock(id);
    throw;
  }
  unlock(id);
  return *s.hive;
}

HiveStore::Writer::Writer(HiveStore& s) : s_(s) {
  // Always all hives, always in the same order: no two writers can wait
  // for each other.
  int locked = 0;
  try {
    for (; locked < kHiveCount; ++locked) s_.lock(static_cast<HiveId>(locked), LOCK_EX);
  } catch (...) {
    while (locked > 0) s_.unlock(static_cast<HiveId>(--locked));
    throw;
  }
}

HiveStore::Writer::~Writer() {
  for (int i = 0; i < kHiveCount; ++i) {
    if (changed_[i] && !committed_) s_.slots_[i].valid = false;
    s_.unlock(static_cast<HiveId>(i));
  }
}

Hive& HiveStore::Writer::edit(HiveId id) {
  Slot& slot = s_.slots_[id];
  Stamp st = s_.stampOf(id);
  if (!slot.valid || !(slot.stamp == st)) s_.load(id, st);
  changed_[id] = true;
  return *slot.hive;
}

void HiveStore::Writer::commit() {
  for (int i = 0; i < kHiveCount; ++i) {
    if (!changed_[i]) continue;
    HiveId id = static_cast<HiveId>(i);
    Slot& slot = s_.slots_[id];
    if (!slot.valid) continue;
    std::string path = s_.winPath(id);
    // The hive files are hidden system files; a rewrite keeps what they have.
    uint8_t attrs = kHidden | kSystem | kArchive;
    if (s_.stampOf(id).exists) {
      attrs = getAttributes(s_.m_, path);
      // Windows writes its registry whatever the file's read-only flag says.
      if (attrs & kReadOnly) setAttributes(s_.m_, path, static_cast<uint8_t>(attrs & ~kReadOnly));
    }
    try {
      // The text goes out piece by piece as it is made: a hive of megabytes
      // then needs no memory of its size.
      writeFileAtomicStreamed(s_.m_, path, attrs, [&](const PutBytes& put) {
        TextBuffer text;
        text.spillTo(256 << 10, put);
        hiveText(text, slot.hive->top());
        text.flushSpill();
      });
    } catch (...) {
      slot.valid = false;
      throw;
    }
    slot.stamp = s_.stampOf(id);
    changed_[i] = false;
  }
  committed_ = true;
}

}  // namespace platform::hive
