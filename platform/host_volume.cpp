#include "platform/host_volume.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "platform/error.h"
#include "platform/hostfs.h"
#include "platform/machine.h"
#include "platform/shortname.h"
#include "platform/temporaries.h"
#include "platform/text.h"

namespace platform {

using namespace hostfs;

namespace {

// The creation time a file keeps when another replaces it (the host gives a
// new file a new birth time and lets nobody set it).
constexpr const char* kCreatedXattr = "user.brakvel.created";

// Beyond this many entries a folder is not rebuilt beside itself.
constexpr size_t kMaxRebuiltEntries = 4096;

bool isDir(const fs::path& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t birthNanos(const fs::path& p) {
  struct statx sx {};
  if (statx(AT_FDCWD, p.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME, &sx) == 0) {
    const auto& t = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime;
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
  }
  return 0;
}

std::optional<std::time_t> storedCreated(const fs::path& p) {
  char buf[32];
  ssize_t n = ::lgetxattr(p.c_str(), kCreatedXattr, buf, sizeof buf);
  if (n <= 0) return std::nullopt;
  long long t = 0;
  auto r = std::from_chars(buf, buf + n, t);
  if (r.ec != std::errc()) return std::nullopt;
  return static_cast<std::time_t>(t);
}

std::time_t createdOf(const fs::path& p) {
  if (auto t = storedCreated(p)) return *t;
  return static_cast<std::time_t>(birthNanos(p) / 1000000000);
}

void storeCreated(const fs::path& p, std::time_t t) {
  std::string v = std::to_string(static_cast<long long>(t));
  hostfs::setUserXattr(p, kCreatedXattr, v);
}

void copyXattrs(const fs::path& from, const fs::path& to) {
  ssize_t n = ::llistxattr(from.c_str(), nullptr, 0);
  if (n <= 0) return;
  std::string names(static_cast<size_t>(n), '\0');
  n = ::llistxattr(from.c_str(), names.data(), names.size());
  if (n <= 0) return;
  names.resize(static_cast<size_t>(n));
  for (size_t at = 0; at < names.size();) {
    std::string name = names.c_str() + at;
    at += name.size() + 1;
    ssize_t size = ::lgetxattr(from.c_str(), name.c_str(), nullptr, 0);
    if (size < 0) continue;
    std::string value(static_cast<size_t>(size), '\0');
    size = ::lgetxattr(from.c_str(), name.c_str(), value.data(), value.size());
    if (size < 0) continue;
    ::lsetxattr(to.c_str(), name.c_str(), value.data(), static_cast<size_t>(size), 0);
  }
}

// A folder like from (mode, extended attributes) at to.
void makeFolderLike(const fs::path& from, const fs::path& to) {
  struct stat st;
  mode_t mode = ::lstat(from.c_str(), &st) == 0 ? st.st_mode & 07777 : 0777;
  if (::mkdir(to.c_str(), mode | S_IRWXU) != 0) failErrno(errno, to.string());
  copyXattrs(from, to);
  if ((mode | S_IRWXU) != mode) ::chmod(to.c_str(), mode);
}

// Short names of a folder's entries (and its subfolders') stored now, so
// that the rebuilt folder names them as the old one did.
void settleShortNames(const fs::path& dir) {
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string host = it->path().filename().string();
    if (temporaries::isTemporary(host)) continue;
    if (!isValid83(utf8ToAnsi(host)) && !shortname::stored(it->path())) shortname::of(dir, host);
    if (it->is_directory(ec) && !it->is_symlink(ec)) settleShortNames(it->path());
  }
}

size_t countEntries(const fs::path& dir, size_t limit) {
  size_t n = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, fs::directory_options::none, ec), end; !ec && it != end;
       it.increment(ec)) {
    if (++n > limit) break;
  }
  return n;
}

void removeHostTree(const fs::path& p) {
  makeTreeWritable(p);
  std::error_code ec;
  fs::remove_all(p, ec);
}

// Links what a set leaves alone from `from` into the new folder `to`.
bool linkTree(const fs::path& from, const fs::path& to, const std::set<fs::path>& replaced,
              const std::set<fs::path>& ours) {
  std::error_code ec;
  for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    if (ours.count(p) || replaced.count(p)) continue;
    HostStat h = statOf(p);
    if (h.dir && !h.link) {
      makeFolderLike(p, to / p.filename());
      if (!linkTree(p, to / p.filename(), replaced, ours)) return false;
    } else if (::linkat(AT_FDCWD, p.c_str(), AT_FDCWD, (to / p.filename()).c_str(), 0) != 0) {
      return false;
    }
  }
  return !ec;
}

void syncTree(const fs::path& dir) {
  syncFolder(dir);
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_directory(ec) && !it->is_symlink(ec)) syncFolder(it->path());
}

// dir is folder or lies below it.
bool within(const fs::path& dir, const fs::path& folder) {
  if (dir == folder) return true;
  std::string d = dir.string(), f = folder.string();
  if (!f.empty() && f.back() != '/') f += '/';
  return d.starts_with(f);
}

}  // namespace

// --- a path taken apart on the host ---------------------------------------------

struct HostVolume::Where {
  std::string shown;                // as the user knows it
  std::vector<std::string> parts;   // as given (ANSI)
  std::vector<std::string> names;   // host names: as stored where they exist, else as given
  size_t existing = 0;              // leading components that exist
  bool lastExistingIsFolder = true; // of those, the last (the root when none)
  fs::path host;
  bool complete() const { return existing == parts.size(); }
  fs::path dir() const { return host.parent_path(); }
  const std::string& name() const { return names.back(); }

  // The path must name something that exists.
  void needExisting() const {
    if (complete()) return;
    bool parentThere = existing + 1 == parts.size() && lastExistingIsFolder;
    throw Error(parentThere ? kFileNotFound : kPathNotFound, shown);
  }
  // The path's folder must exist; the path may name nothing yet, not the root.
  void needFolder() const {
    if (parts.empty()) throw Error(kPathFileAccess, shown);
    if (existing + 1 < parts.size() || (existing + 1 == parts.size() && !lastExistingIsFolder))
      throw Error(kPathNotFound, shown);
  }
  // A new last component must be a name Windows can create. It is stored
  // as given: folder drives have always kept trailing dots and blanks.
  void settleNewName() const {
    if (!complete()) checkNewName(names.back(), shown);
  }
};

HostVolume::Where HostVolume::where(std::string_view path) {
  Where w;
  w.shown = volume::shown(options_.root, path);
  w.parts = volume::split(path, w.shown);
  ready(w.shown);
  fs::path cur = folder_;
  bool found = true;
  for (const std::string& part : w.parts) {
    std::optional<std::string> entry;
    if (found) entry = shortname::entryNamed(cur, part);
    if (entry) {
      ++w.existing;
      w.names.push_back(*entry);
      cur /= *entry;
      found = isDir(cur);
      w.lastExistingIsFolder = found;
    } else {
      found = false;
      w.names.push_back(ansiToUtf8(part));
      cur /= w.names.back();
    }
  }
  w.host = cur;
  return w;
}

// --- the volume -------------------------------------------------------------------

HostVolume::HostVolume(fs::path folder, HostVolumeOptions options)
    : folder_(std::move(folder)), options_(std::move(options)) {
  writeProtected_ = options_.writeProtected;
  capacity_ = options_.capacity;
}

HostVolume::HostVolume(const Machine& m, char letter) : HostVolume(m.driveFolder(letter).value_or(fs::path())) {
  options_.root = std::string(1, upperAnsi(letter)) + ":";
  options_.floppy = m.isFloppy(letter);
  configure(m);
}

HostVolume::~HostVolume() = default;

void HostVolume::configure(const Machine& m) {
  writeProtected_ = options_.floppy && hostfs::writeProtected(m, options_.root[0]);
  capacity_ = hostfs::capacity(m);
}

void HostVolume::setWriteProtected(bool on) { writeProtected_ = on; }

fs::path HostVolume::hostPath(std::string_view path) { return where(path).host; }

std::string HostVolume::label() const { return folder_.string(); }

void HostVolume::ready(const std::string& shown) const {
  if (!isDir(folder_)) throw Error(kDiskNotReady, shown);
}

void HostVolume::checkWritable(const std::string& shown) const {
  if (writeProtected_) throw Error(kPermissionDenied, shown);
}

void HostVolume::checkSpace(uint64_t adding, uint64_t freeing, const std::string& shown) const {
  if (!options_.floppy) return;
  uint64_t used = usedBytes(folder_);
  used = used > freeing ? used - freeing : 0;
  if (used + adding > capacity_) throw Error(kDiskFull, shown);
}

FileEntry HostVolume::entryOf(const fs::path& dir, const std::string& hostName, bool full) const {
  fs::path p = dir / hostName;
  HostStat h = statOf(p);
  FileEntry e;
  e.name = utf8ToAnsi(hostName);
  if (full) {
    e.shortName = shortname::of(dir, hostName);
    e.created = DateTime::fromTime(createdOf(p));
  } else if (isValid83(e.name)) {
    e.shortName = upperAnsi(e.name);
  }
  e.attributes = attrsOf(p, h);
  e.size = h.dir ? 0 : static_cast<uint64_t>(h.st.st_size);
  e.modified = DateTime::fromTime(h.st.st_mtim.tv_sec);
  e.accessed = DateTime::fromTime(h.st.st_atim.tv_sec);
  e.id = static_cast<uint64_t>(h.st.st_ino);
  return e;
}

std::vector<FileEntry> HostVolume::entries(std::string_view path, bool full) {
  Where w = where(path);
  std::vector<FileEntry> out;
  fs::path dir = folder_;
  for (size_t i = 0; i < w.existing; ++i) {
    out.push_back(entryOf(dir, w.names[i], full));
    dir /= w.names[i];
  }
  return out;
}

std::vector<FileEntry> HostVolume::walk(std::string_view path) { return entries(path, true); }

// Checks before a write ask for no short names, which would otherwise be
// made for every new file of the folder at its next write.
std::vector<FileEntry> HostVolume::peek(std::string_view path) { return entries(path, false); }

std::vector<FileEntry> HostVolume::list(std::string_view folder) {
  Where w = where(folder);
  if (!w.complete() || !isDir(w.host)) throw Error(kPathNotFound, w.shown);
  // The order the folder keeps them in: oldest first, as FAT adds entries.
  std::vector<std::pair<int64_t, std::string>> names;
  std::error_code ec;
  for (fs::directory_iterator it(w.host, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (temporaries::isTemporary(name)) continue;
    names.emplace_back(birthNanos(it->path()), std::move(name));
  }
  std::sort(names.begin(), names.end());
  std::vector<FileEntry> out;
  out.reserve(names.size());
  for (auto& [born, name] : names) out.push_back(entryOf(w.host, name));
  return out;
}

// --- reading ----------------------------------------------------------------------

class HostVolume::Reader : public FileReader {
 public:
  Reader(int fd, uint64_t size, std::string shown) : fd_(fd), size_(size), shown_(std::move(shown)) {}
  ~Reader() override { ::close(fd_); }
  uint64_t size() const override { return size_; }
  size_t readAt(uint64_t offset, void* buf, size_t n) override {
    size_t done = 0;
    while (done < n) {
      ssize_t got = ::pread(fd_, static_cast<char*>(buf) + done, n - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) failErrno(errno, shown_);
      if (got == 0) break;
      done += static_cast<size_t>(got);
    }
    return done;
  }
  int fd() const { return fd_; }
  const std::string& shown() const { return shown_; }

 private:
  int fd_;
  uint64_t size_;
  std::string shown_;
};

std::unique_ptr<FileReader> HostVolume::open(std::string_view path) {
  Where w = where(path);
  w.needExisting();
  if (w.parts.empty()) throw Error(kPathFileAccess, w.shown);
  int fd = ::open(w.host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) failErrno(errno, w.shown);
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw Error(kPathFileAccess, w.shown);
  }
  return std::make_unique<Reader>(fd, S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0, w.shown);
}

int HostVolume::descriptorOf(FileReader& reader) {
  auto* r = dynamic_cast<Reader*>(&reader);
  return r ? r->fd() : -1;
}

// --- writing ----------------------------------------------------------------------

class HostVolume::Writer : public FileWriter {
 public:
  Writer(HostVolume& v, fs::path target, std::string shown, NewFile file, mode_t mode)
      : v_(v), target_(std::move(target)), shown_(std::move(shown)), file_(file),
        replaceReadOnly_(file.replaceReadOnly) {
    openTemp(t_, target_.parent_path(), mode, shown_);
    if (mode != 0666) ::fchmod(t_.fd, mode);  // the umask must not narrow a kept mode
  }
  ~Writer() override { abort(); }

  void write(std::string_view bytes) override {
    if (t_.fd < 0 || finished_) throw Error(kInvalidCall, shown_);
    writeAll(t_.fd, bytes, shown_);
    written_ += bytes.size();
    // Write-back starts as the pieces come, so that the flush at the end
    // finds little left to wait for.
    if (written_ - started_ >= (1u << 20)) {
      ::sync_file_range(t_.fd, static_cast<off_t>(started_), static_cast<off_t>(written_ - started_),
                        SYNC_FILE_RANGE_WRITE);
      started_ = written_;
    }
  }
  uint64_t written() const override { return written_; }
  void commit() override { v_.commitSetAndRemove({this}, {}); }
  void abort() override {
    if (committed_) return;
    if (t_.fd >= 0) ::close(t_.fd);
    t_.fd = -1;
    if (!t_.path.empty()) ::unlink(t_.path.c_str());
    t_.path.clear();
    t_.onSignal.reset();
    t_.keep = true;
  }
  void describe(const NewFile& file) override { file_ = file; }

  // What the temporary holds now (a descriptor handed out may have added).
  uint64_t size() const {
    struct stat st;
    if (t_.fd >= 0 && ::fstat(t_.fd, &st) == 0) return static_cast<uint64_t>(st.st_size);
    if (::stat(t_.path.c_str(), &st) == 0) return static_cast<uint64_t>(st.st_size);
    return written_;
  }
  bool usable() const { return !committed_ && !t_.path.empty(); }
  // Flushed, closed, and given what the file gets at commit.
  void finish() {
    if (!finished_) {
      finishTemp(t_, shown_);
      finished_ = true;
    }
    // Extended attributes before the read-only flag, which would refuse them.
    HostStat old = statOf(target_);
    if (old.exists && !old.dir) storeCreated(t_.path, createdOf(target_));
    keepShortName(t_.path, target_);
    if (file_.modified) {
      struct timespec times[2];
      times[0].tv_sec = times[1].tv_sec = file_.modified->toTime();
      times[0].tv_nsec = times[1].tv_nsec = 0;
      ::utimensat(AT_FDCWD, t_.path.c_str(), times, 0);
    }
    applyAttrs(t_.path, statOf(t_.path), file_.attributes);
  }
  void placed() {
    committed_ = true;
    t_.keep = true;
    t_.onSignal.reset();
  }

  HostVolume& v_;
  fs::path target_;
  std::string shown_;
  NewFile file_;
  TempFile t_;
  uint64_t written_ = 0, started_ = 0;
  bool finished_ = false, committed_ = false;
  bool replaceReadOnly_ = false;
};

std::unique_ptr<FileWriter> HostVolume::create(std::string_view path, const NewFile& file) {
  Where w = where(path);
  w.needFolder();
  w.settleNewName();
  HostStat h = statOf(w.host);
  if (h.dir) throw Error(kPathFileAccess, w.shown);
  checkWritable(w.shown);
  if (!file.replaceReadOnly) refuseReadOnly(h, w.shown);
  mode_t mode = h.exists && !h.link ? (h.st.st_mode & 0777) | S_IWUSR : 0666;
  return std::make_unique<Writer>(*this, w.host, w.shown, file, mode);
}

int HostVolume::duplicateOf(FileWriter& writer) {
  auto* w = dynamic_cast<Writer*>(&writer);
  if (!w || w->t_.fd < 0) return -1;
  return ::fcntl(w->t_.fd, F_DUPFD_CLOEXEC, 0);
}

bool HostVolume::copyBetween(FileReader& from, FileWriter& to) {
  auto* r = dynamic_cast<Reader*>(&from);
  auto* w = dynamic_cast<Writer*>(&to);
  if (!r || !w || w->t_.fd < 0 || w->finished_) return false;
  struct stat st;
  if (::fstat(r->fd(), &st) != 0) failErrno(errno, r->shown());
  off_t at = 0;
  char buf[65536];
  for (;;) {
    ssize_t n = ::pread(r->fd(), buf, sizeof buf, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failErrno(errno, r->shown());
    if (n == 0) break;
    writeAll(w->t_.fd, std::string_view(buf, static_cast<size_t>(n)), w->shown_);
    at += n;
  }
  w->written_ += static_cast<uint64_t>(at);
  // A host program copied stays one the host can run.
  ::fchmod(w->t_.fd, (st.st_mode & 0777) | S_IWUSR);
  return true;
}

void HostVolume::commitSet(const std::vector<FileWriter*>& files) { commitSetAndRemove(files, {}); }

void HostVolume::commitSetAndRemove(const std::vector<FileWriter*>& files, const std::vector<std::string>& removed) {
  std::string shown = options_.root + "\\";
  std::vector<Writer*> writers;
  for (FileWriter* f : files) {
    auto* w = dynamic_cast<Writer*>(f);
    if (!w || &w->v_ != this || !w->usable()) throw Error(kInvalidCall, shown);
    writers.push_back(w);
  }
  if (!writers.empty()) shown = writers.front()->shown_;
  struct Gone {
    fs::path host;
    std::string shown;
    uint64_t size = 0;
  };
  std::vector<Gone> gone;
  for (const std::string& path : removed) {
    Where w = where(path);
    if (!w.complete() || w.parts.empty()) continue;
    HostStat h = statOf(w.host);
    if (h.dir) throw Error(kPathFileAccess, w.shown);
    gone.push_back({w.host, w.shown, static_cast<uint64_t>(h.st.st_size)});
  }
  if (writers.empty() && gone.empty()) return;
  ready(shown);
  // Every check first: nothing changes unless all of them can go in.
  fs::path base;
  std::set<fs::path> targets;
  uint64_t adding = 0, freeing = 0;
  for (Writer* w : writers) {
    fs::path dir = w->target_.parent_path();
    if (base.empty() || dir.string().size() < base.string().size()) base = dir;
    if (!targets.insert(w->target_).second) throw Error(kInvalidCall, w->shown_);
  }
  for (const Gone& g : gone) {
    if (base.empty() || g.host.parent_path().string().size() < base.string().size()) base = g.host.parent_path();
    if (!targets.insert(g.host).second) throw Error(kInvalidCall, g.shown);
  }
  for (Writer* w : writers)
    if (!within(w->target_.parent_path(), base)) throw Error(kInvalidCall, w->shown_);
  for (const Gone& g : gone)
    if (!within(g.host.parent_path(), base)) throw Error(kInvalidCall, g.shown);
  checkWritable(shown);
  for (Writer* w : writers) {
    HostStat h = statOf(w->target_);
    if (h.dir || (h.exists && readOnlyMode(h) && !w->replaceReadOnly_)) throw Error(kPathFileAccess, w->shown_);
    if (h.exists) freeing += static_cast<uint64_t>(h.st.st_size);
    adding += w->size();
  }
  for (const Gone& g : gone) freeing += g.size;
  checkSpace(adding, freeing, shown);
  for (Writer* w : writers) w->finish();

  if (writers.size() + gone.size() > 1 && !base.empty()) {
    // The new contents built beside the folder and exchanged with it.
    fs::path parent = base.parent_path();
    bool exchanged = false;
    if (!parent.empty() && parent != base && countEntries(base, kMaxRebuiltEntries) <= kMaxRebuiltEntries) {
      // The folder's own short name goes with it to the new folder.
      std::string folderName = base.filename().string();
      if (!isValid83(utf8ToAnsi(folderName)) && !shortname::stored(base)) shortname::of(parent, folderName);
      settleShortNames(base);
      // No short name is given out in the folder while it is rebuilt.
      shortname::FolderLock lock(base);
      temporaries::sweep(parent);
      fs::path next = parent / temporaries::newName();
      bool made = true;
      try {
        makeFolderLike(base, next);
      } catch (const Error&) {
        made = false;
      }
      if (made) {
        temporaries::OnSignal nextOnSignal(next);
        std::set<fs::path> ours;
        for (Writer* w : writers) ours.insert(w->t_.path);
        std::vector<std::pair<fs::path, fs::path>> moved;
        bool ok = linkTree(base, next, targets, ours);
        for (size_t i = 0; ok && i < writers.size(); ++i) {
          Writer* w = writers[i];
          fs::path rel = w->target_.lexically_relative(base);
          fs::path dir = next;
          for (auto it = rel.begin(); ok && std::next(it) != rel.end(); ++it) {
            dir /= *it;
            if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) ok = false;
          }
          fs::path placedAt = next / rel;
          if (ok && ::rename(w->t_.path.c_str(), placedAt.c_str()) != 0) ok = false;
          if (ok) moved.emplace_back(w->t_.path, placedAt);
        }
        if (ok) {
          syncTree(next);
          ok = ::renameat2(AT_FDCWD, next.c_str(), AT_FDCWD, base.c_str(), RENAME_EXCHANGE) == 0;
        }
        if (ok) {
          syncFolder(parent);
          exchanged = true;
        } else {
          for (auto& [temp, placedAt] : moved) ::rename(placedAt.c_str(), temp.c_str());
        }
        // `next` now holds the old contents, or the failed new ones.
        removeHostTree(next);
      }
    }
    if (exchanged) {
      for (Writer* w : writers) w->placed();
      return;
    }
  }
  // Every new file renamed over its old one, then the removals: each step
  // atomic, the set not.
  std::set<fs::path> dirs;
  for (Writer* w : writers) {
    if (::rename(w->t_.path.c_str(), w->target_.c_str()) != 0) failErrno(errno, w->shown_);
    w->placed();
    dirs.insert(w->target_.parent_path());
  }
  for (const Gone& g : gone) {
    if (::unlink(g.host.c_str()) != 0 && errno != ENOENT) failErrno(errno, g.shown);
    dirs.insert(g.host.parent_path());
  }
  for (const fs::path& d : dirs) syncFolder(d);
}

void HostVolume::writeInPlace(std::string_view path, std::string_view bytes, bool append) {
  Where w = where(path);
  w.needFolder();
  w.settleNewName();
  HostStat h = statOf(w.host);
  if (h.dir) throw Error(kPathFileAccess, w.shown);
  checkWritable(w.shown);
  refuseReadOnly(h, w.shown);
  checkSpace(bytes.size(), !append && h.exists ? static_cast<uint64_t>(h.st.st_size) : 0, w.shown);
  int fd = ::open(w.host.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0666);
  if (fd < 0) failErrno(errno, w.shown);
  try {
    writeAll(fd, bytes, w.shown);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) failErrno(errno, w.shown);
  markArchive(w.host);
}

// --- folders and names ---------------------------------------------------------

void HostVolume::makeFolder(std::string_view path) {
  Where w = where(path);
  if (w.complete()) throw Error(kPathFileAccess, w.shown);
  w.needFolder();
  w.settleNewName();
  checkWritable(w.shown);
  if (::mkdir(w.host.c_str(), 0777) != 0) {
    if (errno == EEXIST) throw Error(kPathFileAccess, w.shown);
    failErrno(errno, w.shown);
  }
}

void HostVolume::removeFolder(std::string_view path) {
  Where w = where(path);
  w.needExisting();
  if (w.parts.empty() || !isDir(w.host) || statOf(w.host).link) throw Error(kPathFileAccess, w.shown);
  checkWritable(w.shown);
  temporaries::sweep(w.host);
  if (::rmdir(w.host.c_str()) != 0) {
    if (errno == ENOTEMPTY || errno == EEXIST) throw Error(kPathFileAccess, w.shown);
    failErrno(errno, w.shown);
  }
}

void HostVolume::remove(std::string_view path) {
  Where w = where(path);
  w.needExisting();
  HostStat h = statOf(w.host);
  if (w.parts.empty() || h.dir) throw Error(kPathFileAccess, w.shown);
  checkWritable(w.shown);
  refuseReadOnly(h, w.shown);
  if (::unlink(w.host.c_str()) != 0) failErrno(errno, w.shown);
}

void HostVolume::removeTree(std::string_view path) {
  Where w = where(path);
  if (!w.complete()) throw Error(kPathNotFound, w.shown);
  checkWritable(w.shown);
  makeTreeWritable(w.host);
  std::error_code ec;
  if (w.parts.empty()) {
    // The drive itself stays; only what it holds goes.
    for (fs::directory_iterator it(w.host, ec), end; !ec && it != end; it.increment(ec)) {
      fs::remove_all(it->path(), ec);
      if (ec) break;
    }
  } else {
    fs::remove_all(w.host, ec);
  }
  if (ec) failErrno(ec.value(), w.shown);
}

void HostVolume::rename(std::string_view from, std::string_view to, bool replace) {
  Where src = where(from);
  src.needExisting();
  if (src.parts.empty()) throw Error(kPathFileAccess, src.shown);
  Where dst = where(to);
  dst.needFolder();
  checkWritable(src.shown);
  fs::path target = dst.host;
  if (dst.complete()) {
    if (dst.host == src.host) {
      // The same entry under another spelling: it takes the one given.
      std::string given = ansiToUtf8(dst.parts.back());
      checkNewName(given, dst.shown);
      target = dst.dir() / given;
      if (target == src.host) return;
    } else {
      HostStat s = statOf(src.host), d = statOf(dst.host);
      if (!replace || s.dir || d.dir) throw Error(kFileAlreadyExists, dst.shown);
      refuseReadOnly(d, dst.shown);
      keepShortName(src.host, dst.host);
    }
  } else {
    dst.settleNewName();
    target = dst.host;
  }
  if (within(target, src.host)) throw Error(kPathFileAccess, dst.shown);
  if (::rename(src.host.c_str(), target.c_str()) != 0) failErrno(errno, dst.shown);
}

// --- attributes, times, space -----------------------------------------------

void HostVolume::setAttributes(std::string_view path, uint8_t attributes) {
  Where w = where(path);
  w.needExisting();
  if (w.parts.empty()) throw Error(kPathFileAccess, w.shown);
  checkWritable(w.shown);
  applyAttrs(w.host, statOf(w.host), attributes);
}

void HostVolume::setTimes(std::string_view path, const FileTimes& times) {
  Where w = where(path);
  w.needExisting();
  if (w.parts.empty()) throw Error(kPathFileAccess, w.shown);
  checkWritable(w.shown);
  struct timespec ts[2];
  ts[0].tv_sec = ts[1].tv_sec = 0;
  ts[0].tv_nsec = ts[1].tv_nsec = UTIME_OMIT;
  if (times.accessed) {
    ts[0].tv_sec = times.accessed->toTime();
    ts[0].tv_nsec = 0;
  }
  if (times.modified) {
    ts[1].tv_sec = times.modified->toTime();
    ts[1].tv_nsec = 0;
  }
  if ((times.accessed || times.modified) && ::utimensat(AT_FDCWD, w.host.c_str(), ts, 0) != 0)
    failErrno(errno, w.shown);
  if (times.created) storeCreated(w.host, times.created->toTime());
}

Space HostVolume::space() {
  std::string shown = options_.root + "\\";
  ready(shown);
  Space s;
  if (options_.floppy) {
    uint64_t used = usedBytes(folder_), cap = capacity_;
    s.totalBytes = cap;
    s.freeBytes = used >= cap ? 0 : cap - used;
    s.clusterBytes = 1;  // what the files hold, byte for byte
    return s;
  }
  struct statvfs sv;
  if (::statvfs(folder_.c_str(), &sv) != 0) failErrno(errno, shown);
  s.clusterBytes = static_cast<uint32_t>(sv.f_frsize);
  // A host file system that keeps no block count (ramfs) is not full: it
  // gets the most the classic call reports, 65,535 clusters of 32 KB; its
  // writes say when it is full.
  if (sv.f_blocks == 0) {
    s.freeBytes = s.totalBytes = 2147450880u;
    return s;
  }
  s.freeBytes = static_cast<uint64_t>(sv.f_bavail) * sv.f_frsize;
  s.totalBytes = static_cast<uint64_t>(sv.f_blocks) * sv.f_frsize;
  return s;
}

bool HostVolume::writeProtected() { return writeProtected_; }

}  // namespace platform
