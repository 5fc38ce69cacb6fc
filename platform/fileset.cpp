#include "platform/fileset.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <optional>
#include <set>

#include "platform/error.h"
#include "platform/file_streams.h"
#include "platform/hostfs.h"
#include "platform/image_files.h"
#include "platform/shortname.h"
#include "platform/temporaries.h"
#include "platform/text.h"

namespace platform {

using namespace hostfs;

namespace {

// Beyond this many entries a folder is not rebuilt beside itself.
constexpr size_t kMaxRebuiltEntries = 4096;

std::vector<std::string> nameParts(std::string_view name) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = name.size();
    parts.emplace_back(name.substr(start, end - start));
    start = end + 1;
  }
  return parts;
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

std::string readHostFile(const fs::path& p) {
  std::string out;
  int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) failErrno(errno, p.string());
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return out;
}

void removeHostTree(const fs::path& p) {
  makeTreeWritable(p);
  std::error_code ec;
  fs::remove_all(p, ec);
}

}  // namespace

struct FileSet::Impl {
  const Machine* m = nullptr;
  std::string folder;    // as the caller names it
  fs::path host;         // the folder on the host
  bool replaceReadOnly = false;

  struct Entry {
    std::string path;               // as the caller names it
    std::vector<std::string> parts; // host names below the folder
    fs::path target;                // host path
    uint64_t size = 0;
    bool existed = false;
    uint64_t oldSize = 0;
    bool remove = false;
    fs::path temp;                  // the new bytes, once created
    int fd = -1;                    // open on temp while write() adds to it
    std::unique_ptr<temporaries::OnSignal> onSignal;
  };
  std::vector<Entry> files;
  bool committed = false;

  char drive() const { return m ? winpath::walk(*m, folder).drive : 0; }

  void check(std::vector<File> list) {
    std::set<std::string> seen;  // upper-case names: Windows does not tell letter case apart
    for (File& f : list) {
      Entry e;
      e.size = f.size;
      std::vector<std::string> parts = nameParts(f.name);
      e.path = m ? winJoin(folder, f.name) : folder + (folder.empty() || folder.back() == '/' ? "" : "/") + f.name;
      for (const std::string& part : parts)
        if (!fileNameProblem(part).empty()) throw Error(kBadFileNameSyntax, e.path);
      if (m) {
        winpath::Walk w = winpath::walk(*m, e.path);
        e.target = w.host;
        e.parts.assign(w.hostNames.end() - static_cast<long>(parts.size()), w.hostNames.end());
      } else {
        e.target = host;
        for (const std::string& part : parts) {
          e.parts.push_back(ansiToUtf8(part));
          e.target /= e.parts.back();
        }
      }
      std::string key;
      for (const std::string& part : parts) key += upperAnsi(part) + "\\";
      if (!seen.insert(key).second) throw Error(kFileExists, e.path);
      // Every folder on the way must be a folder.
      fs::path at = host;
      for (size_t i = 0; i + 1 < e.parts.size(); ++i) {
        at /= e.parts[i];
        HostStat h = statOf(at);
        if (h.exists && !h.dir) throw Error(kPathFileAccess, e.path);
      }
      HostStat h = statOf(e.target);
      if (h.dir) throw Error(kPathFileAccess, e.path);
      if (h.exists) {
        if (!replaceReadOnly) refuseReadOnly(h, e.path);
        e.existed = true;
        e.oldSize = static_cast<uint64_t>(h.st.st_size);
      }
      files.push_back(std::move(e));
    }
    if (m) checkWritable(*m, drive(), folder);
    checkRoom(false);
  }

  // The new files must fit where the old ones were and in what is free.
  void checkRoom(bool actual) {
    uint64_t adding = 0, freeing = 0;
    for (const Entry& e : files) {
      if (e.existed) freeing += e.oldSize;
      if (e.remove) continue;
      if (actual && !e.temp.empty()) {
        adding += static_cast<uint64_t>(statOf(e.temp).st.st_size);
      } else {
        adding += e.size;
      }
    }
    if (m && m->isFloppy(drive())) {
      winpath::Walk w = winpath::walk(*m, folder);
      checkSpace(*m, w, adding, freeing, folder);
      return;
    }
    if (actual) return;  // the temporaries are on the disk already
    struct statvfs sv;
    // A file system that keeps no block count (ramfs) has no figure to
    // refuse by: its writes say when it is full.
    if (adding > freeing && ::statvfs(host.c_str(), &sv) == 0 && sv.f_blocks != 0 &&
        static_cast<uint64_t>(sv.f_bavail) * sv.f_frsize < adding - freeing)
      throw Error(kDiskFull, folder);
  }

  Entry& at(size_t i) {
    if (i >= files.size()) throw Error(kInvalidCall, folder);
    return files[i];
  }

  // A temporary in the folder itself, so that it can be renamed in place.
  int openTemp(Entry& e, mode_t mode) {
    if (!e.temp.empty()) {
      ::unlink(e.temp.c_str());
      e.temp.clear();
    }
    fs::path temp = host / temporaries::newName();
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) failErrno(errno, e.path);
    e.temp = temp;
    e.onSignal = std::make_unique<temporaries::OnSignal>(temp);
    e.remove = false;
    return fd;
  }

  // What write() put into the temporary made durable.
  void finishWrites(Entry& e) {
    if (e.fd < 0) return;
    int fd = e.fd;
    e.fd = -1;
    if (::fsync(fd) != 0) {
      int err = errno;
      ::close(fd);
      failErrno(err, e.path);
    }
    if (::close(fd) != 0) failErrno(errno, e.path);
  }

  void dropTemps() {
    for (Entry& e : files) {
      if (e.fd >= 0) ::close(e.fd);
      e.fd = -1;
      if (!e.temp.empty()) ::unlink(e.temp.c_str());
      e.temp.clear();
      e.onSignal.reset();
    }
  }

  // Every new file renamed over its old one, then the removals: each step
  // atomic, the set not.
  void commitOneByOne() {
    for (Entry& e : files) {
      if (e.remove) continue;
      fs::path dir = host;
      for (size_t i = 0; i + 1 < e.parts.size(); ++i) {
        dir /= e.parts[i];
        if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) failErrno(errno, e.path);
      }
      if (::rename(e.temp.c_str(), e.target.c_str()) != 0) failErrno(errno, e.path);
      e.temp.clear();
      e.onSignal.reset();
    }
    for (Entry& e : files)
      if (e.remove && ::unlink(e.target.c_str()) != 0 && errno != ENOENT) failErrno(errno, e.path);
    std::set<fs::path> dirs;
    for (const Entry& e : files) dirs.insert(e.target.parent_path());
    for (const fs::path& d : dirs) syncFolder(d);
  }

  // Links what the set leaves alone from `from` into the new folder `to`.
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

  // The new contents built beside the folder and exchanged with it. False
  // when the host cannot; nothing has changed then.
  bool commitByExchange() {
    fs::path parent = host.parent_path();
    if (parent.empty() || parent == host || countEntries(host, kMaxRebuiltEntries) > kMaxRebuiltEntries)
      return false;
    // The folder's own short name goes with it to the new folder.
    std::string folderName = host.filename().string();
    if (!isValid83(utf8ToAnsi(folderName)) && !shortname::stored(host)) shortname::of(parent, folderName);
    settleShortNames(host);
    // No short name is given out in the folder while it is rebuilt.
    shortname::FolderLock lock(host);
    temporaries::sweep(parent);
    fs::path next = parent / temporaries::newName();
    try {
      makeFolderLike(host, next);
    } catch (const Error&) {
      return false;
    }
    temporaries::OnSignal nextOnSignal(next);
    std::set<fs::path> replaced, ours;
    for (const Entry& e : files) {
      replaced.insert(e.target);
      if (!e.temp.empty()) ours.insert(e.temp);
    }
    if (!linkTree(host, next, replaced, ours)) {
      removeHostTree(next);
      return false;
    }
    // The new files into the new folder; back out if one cannot go.
    std::vector<std::pair<fs::path, fs::path>> moved;
    auto backOut = [&] {
      for (auto& [temp, placed] : moved) ::rename(placed.c_str(), temp.c_str());
      removeHostTree(next);
      return false;
    };
    for (const Entry& e : files) {
      if (e.remove) continue;
      fs::path dir = next;
      for (size_t i = 0; i + 1 < e.parts.size(); ++i) {
        dir /= e.parts[i];
        if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) return backOut();
      }
      fs::path placed = dir / e.parts.back();
      if (::rename(e.temp.c_str(), placed.c_str()) != 0) return backOut();
      moved.emplace_back(e.temp, placed);
    }
    syncTree(next);
    if (::renameat2(AT_FDCWD, next.c_str(), AT_FDCWD, host.c_str(), RENAME_EXCHANGE) != 0) return backOut();
    syncFolder(parent);
    for (Entry& e : files) {
      e.temp.clear();
      e.onSignal.reset();
    }
    // `next` now holds the old contents.
    removeHostTree(next);
    return true;
  }

  void commit() {
    for (Entry& e : files) finishWrites(e);
    for (Entry& e : files)
      if (!e.remove && e.temp.empty()) throw Error(kInvalidCall, e.path);
    if (m) {
      checkWritable(*m, drive(), folder);  // it may have been switched on meanwhile
      checkRoom(true);
      for (Entry& e : files)
        if (!e.remove) keepShortName(e.temp, e.target);
    }
    size_t changes = 0;
    for (const Entry& e : files)
      if (!e.remove || e.existed) ++changes;
    if (changes > 1 && commitByExchange()) {
      committed = true;
      return;
    }
    commitOneByOne();
    committed = true;
  }
};


// A set on an image drive: the volume's writers, committed as one set per
// folder (the volume puts every directory change of a set in place at once).
struct FileSet::OnImage {
  imagefs::Place folder;
  const Machine* m = nullptr;
  bool replaceReadOnly = false;
  struct Entry {
    std::string path;  // as the caller names it
    std::string rel;   // below the volume's root
    std::string parent;
    uint64_t size = 0;
    std::optional<FileEntry> old;
    bool remove = false;
    bool unlocked = false;  // its read-only flag taken off for the writer
    std::unique_ptr<FileWriter> writer;
  };
  std::vector<Entry> files;
  bool committed = false;

  Entry& at(size_t i) {
    if (i >= files.size()) throw Error(kInvalidCall, folder.shown);
    return files[i];
  }

  OnImage(const Machine& machine, imagefs::Place place, std::vector<File> list, bool ro)
      : folder(std::move(place)), m(&machine), replaceReadOnly(ro) {
    auto f = imagefs::find(folder);
    if (!f || !f->isFolder()) throw Error(kPathNotFound, folder.shown);
    std::set<std::string> seen;
    uint64_t adding = 0, freeing = 0;
    for (File& file : list) {
      Entry e;
      e.path = winJoin(folder.shown, file.name);
      e.size = file.size;
      std::vector<std::string> parts = nameParts(file.name);
      std::string key;
      for (const std::string& part : parts) {
        if (!fileNameProblem(part).empty()) throw Error(kBadFileNameSyntax, e.path);
        key += upperAnsi(part) + "\\";
        if (!e.rel.empty()) e.rel += '\\';
        e.rel += part;
      }
      if (!seen.insert(key).second) throw Error(kFileExists, e.path);
      e.parent = folder.rel;
      if (size_t cut = e.rel.rfind('\\'); cut != std::string::npos) {
        e.parent = folder.rel.empty() ? e.rel.substr(0, cut) : folder.rel + "\\" + e.rel.substr(0, cut);
      }
      e.rel = folder.rel.empty() ? e.rel : folder.rel + "\\" + e.rel;
      auto entries = folder.volume->walk(e.rel);
      for (size_t i = 0; i + 1 < entries.size(); ++i)
        if (!entries[i].isFolder()) throw Error(kPathFileAccess, e.path);
      if (entries.size() == static_cast<size_t>(std::count(e.rel.begin(), e.rel.end(), '\\')) + 1) {
        e.old = entries.back();
        if (e.old->isFolder()) throw Error(kPathFileAccess, e.path);
        if ((e.old->attributes & kReadOnly) && !replaceReadOnly) throw Error(kPathFileAccess, e.path);
        freeing += e.old->size;
      }
      adding += e.size;
      files.push_back(std::move(e));
    }
    if (folder.volume->writeProtected()) throw Error(kPermissionDenied, folder.shown);
    if (adding > freeing && folder.volume->space().freeBytes < adding - freeing) throw Error(kDiskFull, folder.shown);
  }

  ~OnImage() {
    if (committed) return;
    for (Entry& e : files) {
      if (!e.unlocked) continue;
      try {
        folder.volume->setAttributes(e.rel, e.old->attributes);
      } catch (const Error&) {
      }
    }
  }

  FileWriter& writer(size_t i) {
    Entry& e = at(i);
    if (!e.writer) {
      e.remove = false;
      if (e.old && (e.old->attributes & kReadOnly) && !e.unlocked) {
        // The working copies the program replaces whatever their flag says;
        // the flag comes back if the set is dropped.
        folder.volume->setAttributes(e.rel, e.old->attributes & static_cast<uint8_t>(~kReadOnly));
        e.unlocked = true;
      }
      e.writer = folder.volume->create(e.rel, NewFile{});
    }
    return *e.writer;
  }

  void commit() {
    for (Entry& e : files)
      if (!e.remove && !e.writer) throw Error(kInvalidCall, e.path);
    // Folders the set's files go into, made first.
    for (Entry& e : files) {
      if (e.remove || e.parent == folder.rel) continue;
      imagefs::Place p = folder;
      p.rel = e.parent;
      imagefs::makeFolder(p);
    }
    std::map<std::string, std::vector<FileWriter*>> byFolder;
    for (Entry& e : files)
      if (!e.remove) byFolder[upperAnsi(e.parent)].push_back(e.writer.get());
    for (auto& [name, writers] : byFolder) folder.volume->commitSet(writers);
    committed = true;
    for (Entry& e : files)
      if (e.remove && e.old) {
        if (e.old->attributes & kReadOnly) folder.volume->setAttributes(e.rel, e.old->attributes & ~kReadOnly);
        folder.volume->remove(e.rel);
      }
  }
};

FileSet::FileSet(const Machine& m, std::string_view folder, std::vector<File> files, bool replaceReadOnly)
    : impl_(std::make_unique<Impl>()) {
  if (auto p = imagefs::place(m, folder)) {
    image_ = std::make_unique<OnImage>(m, std::move(*p), std::move(files), replaceReadOnly);
    return;
  }
  impl_->m = &m;
  impl_->folder = std::string(folder);
  while (impl_->folder.size() > 3 && (impl_->folder.back() == '\\' || impl_->folder.back() == '/'))
    impl_->folder.pop_back();
  impl_->replaceReadOnly = replaceReadOnly;
  winpath::Walk w = winpath::walk(m, impl_->folder);
  if (!w.complete() || !statOf(w.host).dir) throw Error(kPathNotFound, impl_->folder);
  impl_->host = w.host;
  temporaries::sweep(impl_->host);
  impl_->check(std::move(files));
}

FileSet::FileSet(const fs::path& hostFolder, std::vector<File> files) : impl_(std::make_unique<Impl>()) {
  impl_->folder = utf8ToAnsi(hostFolder.string());
  fs::path host = fs::absolute(hostFolder).lexically_normal();
  if (host.filename().empty()) host = host.parent_path();  // "dir/" is dir
  impl_->host = host;
  if (!statOf(hostFolder).dir) throw Error(kPathNotFound, impl_->folder);
  temporaries::sweep(impl_->host);
  impl_->check(std::move(files));
}

FileSet::~FileSet() {
  if (!impl_->committed) impl_->dropTemps();
}

size_t FileSet::size() const { return image_ ? image_->files.size() : impl_->files.size(); }

const std::string& FileSet::path(size_t i) const { return image_ ? image_->at(i).path : impl_->at(i).path; }

bool FileSet::exists(size_t i) const { return image_ ? image_->at(i).old.has_value() : impl_->at(i).existed; }

int FileSet::create(size_t i) {
  if (image_) throw Error(kInvalidCall, image_->at(i).path);
  Impl::Entry& e = impl_->at(i);
  return impl_->openTemp(e, 0666);
}

void FileSet::write(size_t i, std::string_view bytes) {
  if (image_) return image_->writer(i).write(bytes);
  Impl::Entry& e = impl_->at(i);
  if (e.fd < 0) e.fd = impl_->openTemp(e, 0666);
  writeAll(e.fd, bytes, e.path);
}

void FileSet::setInfo(size_t i, const DateTime& t, uint8_t attributes) {
  if (image_) return image_->writer(i).describe(NewFile{attributes, t});
  Impl::Entry& e = impl_->at(i);
  impl_->finishWrites(e);
  if (e.temp.empty()) throw Error(kInvalidCall, e.path);
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = t.toTime();
  times[0].tv_nsec = times[1].tv_nsec = 0;
  if (::utimensat(AT_FDCWD, e.temp.c_str(), times, 0) != 0) failErrno(errno, e.path);
  if (impl_->m) {
    applyAttrs(e.temp, statOf(e.temp), attributes);
  } else if (attributes & kReadOnly) {
    HostStat h = statOf(e.temp);
    ::chmod(e.temp.c_str(), h.st.st_mode & 0555);
  }
}

void FileSet::copyFrom(size_t i, std::string_view from) {
  if (image_ || (impl_->m && from.size() >= 2 && from[1] == ':' && impl_->m->driveImage(from[0]))) {
    const Machine& m = image_ ? *image_->m : *impl_->m;
    auto in = openFile(m, from);
    std::string buf(1 << 16, '\0');
    for (uint64_t at = 0; at < in->size();) {
      size_t n = in->readAt(at, buf.data(), buf.size());
      if (n == 0) break;
      write(i, std::string_view(buf.data(), n));
      at += n;
    }
    if (!image_) {  // nothing written makes no temporary
      Impl::Entry& e = impl_->at(i);
      if (e.fd < 0 && e.temp.empty()) e.fd = impl_->openTemp(e, 0666);
      e.size = in->size();
    } else if (in->size() == 0) {
      image_->writer(i);
    }
    setInfo(i, lastModified(m, from), getAttributes(m, from));
    return;
  }
  if (!impl_->m) throw Error(kInvalidCall, std::string(from));
  Impl::Entry& e = impl_->at(i);
  winpath::Walk src = existing(*impl_->m, from);
  HostStat sh = statOf(src.host);
  if (sh.dir) throw Error(kPathFileAccess, std::string(from));
  int in = ::open(src.host.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) failErrno(errno, from);
  int out = -1;
  try {
    out = impl_->openTemp(e, 0666);
    copyContents(in, out, sh.st, from, e.path);
    int fd = out;
    out = -1;
    if (::close(fd) != 0) failErrno(errno, e.path);
  } catch (...) {
    if (out >= 0) ::close(out);
    ::close(in);
    throw;
  }
  ::close(in);
  applyAttrs(e.temp, statOf(e.temp), attrsOf(src.host, sh));
  e.size = static_cast<uint64_t>(sh.st.st_size);
}

void FileSet::remove(size_t i) {
  if (image_) {
    auto& e = image_->at(i);
    e.writer.reset();
    e.remove = true;
    return;
  }
  Impl::Entry& e = impl_->at(i);
  if (e.fd >= 0) ::close(e.fd);
  e.fd = -1;
  if (!e.temp.empty()) ::unlink(e.temp.c_str());
  e.temp.clear();
  e.onSignal.reset();
  e.remove = true;
}

void FileSet::commit() {
  if (image_) {
    image_->commit();
    return;
  }
  try {
    impl_->commit();
  } catch (...) {
    impl_->dropTemps();  // nothing of a failed set stays behind
    throw;
  }
}

// --- helpers on the set ---------------------------------------------------------

void copyFilesAsSet(const Machine& m, std::string_view folder,
                    const std::vector<std::pair<std::string, std::string>>& fromAndName) {
  std::vector<FileSet::File> files;
  for (const auto& [from, name] : fromAndName) files.push_back({name, fileSize(m, from)});
  FileSet set(m, folder, std::move(files), /*replaceReadOnly=*/true);
  for (size_t i = 0; i < fromAndName.size(); ++i) set.copyFrom(i, fromAndName[i].first);
  set.commit();
}

FolderSnapshot::FolderSnapshot(const Machine& m, std::string_view folder, std::vector<std::string> names)
    : m_(m), folder_(folder), names_(std::move(names)) {
  if (auto p = imagefs::place(m, folder_)) {
    // Kept on the host: what the image's files held, byte for byte.
    auto f = imagefs::find(*p);
    if (!f || !f->isFolder()) throw Error(kPathNotFound, folder_);
    onImage_ = true;
    keep_ = fs::temp_directory_path() / temporaries::newName();
    if (::mkdir(keep_.c_str(), 0700) != 0) failErrno(errno, folder_);
    try {
      for (size_t i = 0; i < names_.size(); ++i) {
        std::string path = winJoin(folder_, names_[i]);
        auto e = imagefs::find(*imagefs::place(m, path));
        bool kept = e && !e->isFolder();
        if (kept) {
          int fd = ::open((keep_ / std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
          if (fd < 0) failErrno(errno, path);
          try {
            readFileInPieces(m, path, 1 << 16, [&](std::string_view s) { writeAll(fd, s, path); });
          } catch (...) {
            ::close(fd);
            throw;
          }
          ::close(fd);
        }
        kept_.push_back(kept);
        keptEntries_.push_back(kept ? *e : FileEntry{});
      }
    } catch (...) {
      removeHostTree(keep_);
      throw;
    }
    return;
  }
  winpath::Walk w = winpath::walk(m, folder_);
  if (!w.complete() || !statOf(w.host).dir) throw Error(kPathNotFound, folder_);
  fs::path parent = w.host.parent_path();
  temporaries::sweep(parent);
  keep_ = parent / temporaries::newName();
  if (::mkdir(keep_.c_str(), 0700) != 0) failErrno(errno, folder_);
  for (size_t i = 0; i < names_.size(); ++i) {
    fs::path file = winpath::walk(m, winJoin(folder_, names_[i])).host;
    HostStat h = statOf(file);
    bool kept = h.exists && !h.dir;
    if (kept && ::link(file.c_str(), (keep_ / std::to_string(i)).c_str()) != 0) {
      int err = errno;
      removeHostTree(keep_);
      failErrno(err, winJoin(folder_, names_[i]));
    }
    kept_.push_back(kept);
  }
}

FolderSnapshot::~FolderSnapshot() { removeHostTree(keep_); }

bool FolderSnapshot::unchanged(const std::string& name) const {
  for (size_t i = 0; i < names_.size(); ++i) {
    if (!equalsNoCase(names_[i], name)) continue;
    if (onImage_) {
      std::string path = winJoin(folder_, name);
      std::optional<FileEntry> now;
      try {
        now = imagefs::find(*imagefs::place(m_, path));
      } catch (const Error&) {
        return false;
      }
      if (!kept_[i]) return !now;
      const FileEntry& then = keptEntries_[i];
      if (!now || now->isFolder() || now->size != then.size || now->attributes != then.attributes) return false;
      if (now->id != 0 || then.id != 0) return now->id == then.id;  // replaced by the same bytes is replaced
      try {
        return readFile(m_, path) == readHostFile(keep_ / std::to_string(i));
      } catch (const Error&) {
        return false;
      }
    }
    HostStat now = statOf(winpath::walk(m_, winJoin(folder_, name)).host);
    if (!kept_[i]) return !now.exists;
    HostStat then = statOf(keep_ / std::to_string(i));
    return now.exists && now.st.st_dev == then.st.st_dev && now.st.st_ino == then.st.st_ino;
  }
  return false;
}

void FolderSnapshot::restore() {
  std::vector<FileSet::File> files;
  for (const std::string& n : names_) files.push_back({n, 0});
  FileSet set(m_, folder_, std::move(files), /*replaceReadOnly=*/true);
  if (onImage_) {
    for (size_t i = 0; i < names_.size(); ++i) {
      if (!kept_[i]) {
        set.remove(i);
        continue;
      }
      set.write(i, readHostFile(keep_ / std::to_string(i)));
      set.setInfo(i, keptEntries_[i].modified, keptEntries_[i].attributes);
    }
    set.commit();
    // What went back is the kept file again, as a link would be on a host.
    for (size_t i = 0; i < names_.size(); ++i) {
      if (!kept_[i]) continue;
      auto now = imagefs::find(*imagefs::place(m_, winJoin(folder_, names_[i])));
      if (now) keptEntries_[i] = *now;
    }
    return;
  }
  for (size_t i = 0; i < names_.size(); ++i) {
    FileSet::Impl::Entry& e = set.impl_->at(i);
    if (!kept_[i]) {
      set.remove(i);
      continue;
    }
    // The kept file itself goes back, linked in as the temporary.
    fs::path temp = set.impl_->host / temporaries::newName();
    if (::link((keep_ / std::to_string(i)).c_str(), temp.c_str()) != 0) failErrno(errno, e.path);
    e.temp = temp;
    e.onSignal = std::make_unique<temporaries::OnSignal>(temp);
  }
  set.commit();
}

}  // namespace platform
