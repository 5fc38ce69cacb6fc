#include "platform/registry/hive_store.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/registry/creg_file.h"
#include "platform/registry/script_text.h"

namespace platform::hive {

namespace {

constexpr std::array<std::string_view, 4> kRootNames = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                                         "HKEY_LOCAL_MACHINE", "HKEY_USERS"};

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
  // Created under these names when missing: Windows' own top keys are in capitals.
  static constexpr std::string_view kSoftware = "SOFTWARE", kClasses = "Classes",
                                    kDefault = ".DEFAULT";
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

namespace {

uint64_t fnv(std::string_view bytes) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

}  // namespace

HiveStore::Stamp HiveStore::imageStampOf(HiveId id, const fs::path& image) {
  Slot& s = slots_[id];
  Stamp st;
  struct stat sb;
  if (stat(image.c_str(), &sb) != 0 || !S_ISREG(sb.st_mode)) return st;  // no disk: no hive
  st.dev = sb.st_dev;
  st.ino = sb.st_ino;
  st.size = static_cast<uint64_t>(sb.st_size);
  st.mtimeNs = static_cast<int64_t>(sb.st_mtim.tv_sec) * 1000000000 + sb.st_mtim.tv_nsec;
  st.ctimeNs = static_cast<int64_t>(sb.st_ctim.tv_sec) * 1000000000 + sb.st_ctim.tv_nsec;
  auto sameImage = [&](const Stamp& o) {
    return o.dev == st.dev && o.ino == st.ino && o.size == st.size && o.mtimeNs == st.mtimeNs &&
           o.ctimeNs == st.ctimeNs;
  };
  // The image untouched since the last look: so is the hive.
  if (s.looked && sameImage(*s.looked)) return *s.looked;
  try {
    st.exists = fileExists(m_, winPath(id));
  } catch (const Error&) {
    st.exists = false;
  }
  s.looked = st;
  return st;
}

HiveStore::Stamp HiveStore::stampOf(HiveId id) {
  Slot& s = slots_[id];
  Stamp st;
  if (auto image = m_.driveImage(winDir_.empty() ? 'C' : winDir_[0])) return imageStampOf(id, *image);
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

Hive parseHiveFile(std::string bytes, HiveId id, const std::string& label) {
  if (!isCreg(bytes) && looksLikeScript(bytes)) {
    HiveLoad r = loadHive(bytes, kHiveTop[id]);
    if (r.error) throw HiveError(label + ":" + std::to_string(r.error->line) + ": " + r.error->what);
    return std::move(*r.hive);
  }
  CregLoad r = readCreg(std::move(bytes), kHiveTop[id]);
  if (r.error) throw HiveError(label + ": " + r.error->message());
  return std::move(*r.hive);
}

void HiveStore::load(HiveId id, const Stamp& st) {
  Slot& s = slots_[id];
  if (!s.valid) s.bytesHash.reset();  // a hive dropped as changed is not what its file holds
  s.valid = false;
  if (!st.exists) {
    s.hive.reset();
    s.text = false;
    s.bytesHash.reset();
    s.hive.emplace(kHiveTop[id]);
    s.stamp = st;
    s.valid = true;
    return;
  }
  std::string bytes;
  try {
    bytes = readFile(m_, winPath(id));
  } catch (const Error& e) {
    if (e.number() == kFileNotFound) {  // removed between the look and the read
      s.looked.reset();
      load(id, stampOf(id));
      return;
    }
    throw HiveError(winPath(id) + ": cannot read: " + e.what());
  }
  if (s.looked) {
    // On an image another file of the drive may be all that changed.
    uint64_t h = fnv(bytes);
    if (s.hive && s.bytesHash == h) {
      s.stamp = st;
      s.valid = true;
      return;
    }
    s.bytesHash = h;
  }
  s.hive.reset();
  s.text = !isCreg(bytes) && looksLikeScript(bytes);
  s.hive.emplace(parseHiveFile(std::move(bytes), id, winPath(id)));
  // What was read may be newer than st, never older: a change after the
  // look makes the next look differ.
  s.stamp = st;
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
  slot.bytesHash.reset();  // changed here: no longer what the file holds
  return *slot.hive;
}

bool HiveStore::Writer::convert(HiveId id) {
  if (!s_.stampOf(id).exists) return false;
  edit(id);
  if (!s_.slots_[id].text) {
    changed_[id] = false;
    return false;
  }
  return true;
}

void HiveStore::Writer::commit() {
  for (int i = 0; i < kHiveCount; ++i) {
    if (!changed_[i]) continue;
    HiveId id = static_cast<HiveId>(i);
    Slot& slot = s_.slots_[id];
    if (!slot.valid) continue;
    std::string path = s_.winPath(id);
    // The hive files are hidden system files; a rewrite keeps what they
    // have, the read-only flag too: Windows writes its registry whatever
    // that flag says, and the old file is never touched before the new one
    // is in place.
    uint8_t attrs = kHidden | kSystem | kArchive;
    if (s_.stampOf(id).exists) attrs = getAttributes(s_.m_, path);
    try {
      writeFileAtomicStreamed(
          s_.m_, path, attrs, [&](const PutBytes& put) { writeCreg(slot.hive->top(), put); },
          ReadOnlyTarget::Replace);
    } catch (const std::length_error& e) {
      slot.valid = false;
      throw Error(kPathFileAccess, path + ": " + e.what());
    } catch (...) {
      slot.valid = false;
      throw;
    }
    slot.stamp = s_.stampOf(id);
    slot.text = false;
    changed_[i] = false;
  }
  committed_ = true;
}

}  // namespace platform::hive
