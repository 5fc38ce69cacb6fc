#include "platform/files.h"

#include "platform/lines.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstring>

#include "platform/error.h"
#include "platform/file_streams.h"
#include "platform/hostfs.h"
#include "platform/image_files.h"
#include "platform/shortname.h"
#include "platform/temporaries.h"
#include "platform/text.h"
#include "platform/winpath.h"

namespace platform {

using namespace hostfs;

// --- names ----------------------------------------------------------------------

std::string deviceNameOf(std::string_view name) {
  // What comes before the first dot counts, blanks before the dot too.
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  std::string up = upperAnsi(std::string(stem));
  if (up == "CON" || up == "PRN" || up == "AUX" || up == "NUL") return up;
  bool port = up.size() == 4 && (up.starts_with("COM") || up.starts_with("LPT")) && up[3] >= '1' && up[3] <= '9';
  return port ? up : std::string();
}

std::string fileNameProblem(std::string_view name) {
  if (name.empty()) return "it is empty";
  if (name.size() > 255) return "it is longer than 255 characters";
  for (char ch : name) {
    if (static_cast<unsigned char>(ch) < 0x20) return "it holds a control character";
    if (std::strchr("\\/:*?\"<>|", ch)) return std::string("it holds the character ") + ch;
  }
  if (name == "." || name == "..") return "it names a folder, not a file";
  if (name.back() == '.' || name.back() == ' ') return "it ends with a dot or a blank, which Windows drops";
  if (std::string device = deviceNameOf(name); !device.empty()) return "it is the name of the device " + device;
  return {};
}

// --- DateTime -------------------------------------------------------------------

DateTime DateTime::fromTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

DateTime DateTime::now() { return fromTime(std::time(nullptr)); }

std::time_t DateTime::toTime() const {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

// --- existence --------------------------------------------------------------------

namespace {
HostStat statPath(const Machine& m, std::string_view path) {
  try {
    winpath::Walk w = winpath::walk(m, path);
    if (!w.complete()) return {};
    return statOf(w.host);
  } catch (const Error&) {
    return {};
  }
}
}  // namespace

namespace {
// What an image drive holds at path: *image tells whether the drive is an
// image; nullopt also for no disk or a path that is not there.
std::optional<FileEntry> imageEntry(const Machine& m, std::string_view path, bool* image) {
  *image = false;
  try {
    auto p = imagefs::place(m, path);
    if (!p) return std::nullopt;
    *image = true;
    return imagefs::find(*p);
  } catch (const Error&) {
    *image = m.driveImage(path.empty() ? 0 : path[0]).has_value();
    return std::nullopt;
  }
}
}  // namespace

bool fileExists(const Machine& m, std::string_view path) {
  bool image;
  if (auto e = imageEntry(m, path, &image); image) return e && !e->isFolder();
  HostStat h = statPath(m, path);
  return h.exists && !h.dir;
}

bool folderExists(const Machine& m, std::string_view path) {
  bool image;
  if (auto e = imageEntry(m, path, &image); image) return e && e->isFolder();
  HostStat h = statPath(m, path);
  return h.exists && h.dir;
}

bool pathExists(const Machine& m, std::string_view path) {
  bool image;
  if (auto e = imageEntry(m, path, &image); image) return e.has_value();
  return statPath(m, path).exists;
}

// --- reading -----------------------------------------------------------------------

void readFileInPieces(const Machine& m, std::string_view path, size_t piece,
                      const std::function<void(std::string_view)>& take) {
  if (auto p = imagefs::place(m, path)) return imagefs::readFileInPieces(*p, piece, take);
  struct stat st;
  int fd = openForReading(m, path, st);
  std::string buf(piece > 0 ? piece : 1, '\0');
  size_t filled = 0;
  try {
    for (;;) {
      ssize_t n = ::read(fd, buf.data() + filled, buf.size() - filled);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) failErrno(errno, path);
      filled += static_cast<size_t>(n);
      if (filled == buf.size() || (n == 0 && filled > 0)) {
        take(std::string_view(buf.data(), filled));
        filled = 0;
      }
      if (n == 0) break;
    }
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
}

std::string readFile(const Machine& m, std::string_view path) {
  if (auto p = imagefs::place(m, path)) return imagefs::readFile(*p);
  struct stat st;
  int fd = openForReading(m, path, st);
  // Read straight into a string of the file's size: a hive of megabytes is
  // read on every change of it.
  std::string out;
  size_t have = 0;
  out.resize(S_ISREG(st.st_mode) ? static_cast<size_t>(st.st_size) + 1 : 65536);
  for (;;) {
    if (have == out.size()) out.resize(out.size() * 2);
    ssize_t n = ::read(fd, out.data() + have, out.size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      ::close(fd);
      failErrno(err, path);
    }
    if (n == 0) break;
    have += static_cast<size_t>(n);
  }
  ::close(fd);
  out.resize(have);
  return out;
}

std::vector<std::string> readLines(const Machine& m, std::string_view path) {
  return splitLines(readFile(m, path));
}

// --- writing -----------------------------------------------------------------------

namespace {

// Writes bytes into the file opened with flags: truncated, or appended to.
void writeInPlace(const Machine& m, std::string_view path, std::string_view bytes, int flags) {
  if (auto p = imagefs::place(m, path)) {
    if (p->parts == 0) throw Error(kPathFileAccess, str(path));
    return p->volume->writeInPlace(p->rel, bytes, (flags & O_APPEND) != 0);
  }
  winpath::Walk w = inExistingFolder(m, path);
  HostStat h = statOf(w.host);
  if (h.dir) throw Error(kPathFileAccess, str(path));
  checkWritable(m, w.drive, path);
  refuseReadOnly(h, path);
  const bool truncating = (flags & O_TRUNC) != 0;
  checkSpace(m, w, bytes.size(), truncating && h.exists ? static_cast<uint64_t>(h.st.st_size) : 0, path);
  int fd = ::open(w.host.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0666);
  if (fd < 0) failErrno(errno, path);
  try {
    writeAll(fd, bytes, path);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) failErrno(errno, path);
  markArchive(w.host);
}

// A temporary file beside the target gets what produce hands over, is
// flushed and renamed over the target. `size`, when known, is checked
// against the free space first.
void replaceAtomically(const Machine& m, const winpath::Walk& w, std::string_view path, uint8_t attributes,
                       std::optional<uint64_t> size, const std::function<void(const PutBytes& put)>& produce,
                       ReadOnlyTarget readOnly = ReadOnlyTarget::Refuse) {
  HostStat h = statOf(w.host);
  if (h.dir) throw Error(kPathFileAccess, str(path));
  checkWritable(m, w.drive, path);
  if (readOnly == ReadOnlyTarget::Refuse) refuseReadOnly(h, path);
  if (size) checkSpace(m, w, *size, h.exists ? static_cast<uint64_t>(h.st.st_size) : 0, path);
  TempFile t;
  mode_t mode = h.exists && !h.link ? (h.st.st_mode & 0777) | S_IWUSR : 0666;
  openTemp(t, w.host.parent_path(), mode, path);
  if (h.exists && !h.link) ::fchmod(t.fd, mode);  // the umask must not narrow a kept mode
  // Write-back starts as the pieces come, so that the flush at the end
  // finds little left to wait for.
  off_t written = 0, started = 0;
  produce([&](std::string_view s) {
    writeAll(t.fd, s, path);
    written += static_cast<off_t>(s.size());
    if (written - started >= (1 << 20)) {
      ::sync_file_range(t.fd, started, written - started, SYNC_FILE_RANGE_WRITE);
      started = written;
    }
  });
  finishTemp(t, path);
  applyAttrs(t.path, statOf(t.path), attributes);
  t.keep = true;
  replaceWith(t.path, w.host, path);
}

}  // namespace

void writeFile(const Machine& m, std::string_view path, std::string_view bytes) {
  writeInPlace(m, path, bytes, O_TRUNC);
}

void appendFile(const Machine& m, std::string_view path, std::string_view bytes) {
  writeInPlace(m, path, bytes, O_APPEND);
}

void writeFileAtomic(const Machine& m, std::string_view path, std::string_view bytes,
                     uint8_t attributes) {
  if (auto p = imagefs::place(m, path)) {
    return imagefs::replace(*p, attributes, false, [&](const PutBytes& put) { put(bytes); });
  }
  replaceAtomically(m, inExistingFolder(m, path), path, attributes, bytes.size(),
                    [&](const PutBytes& put) { put(bytes); });
}

void writeFileAtomicStreamed(const Machine& m, std::string_view path, uint8_t attributes,
                             const std::function<void(const PutBytes& put)>& produce, ReadOnlyTarget readOnly) {
  if (auto p = imagefs::place(m, path)) {
    return imagefs::replace(*p, attributes, readOnly == ReadOnlyTarget::Replace, produce);
  }
  winpath::Walk w = inExistingFolder(m, path);
  if (m.isFloppy(w.drive)) {  // the free space is checked against the whole
    std::string all;
    produce([&](std::string_view s) { all.append(s); });
    replaceAtomically(m, w, path, attributes, all.size(), [&](const PutBytes& put) { put(all); }, readOnly);
    return;
  }
  replaceAtomically(m, w, path, attributes, std::nullopt, produce, readOnly);
}

namespace {
// A copy that has an image drive at one end or both: read and written in
// pieces, so a file of any size needs one piece of memory.
void copyThroughStreams(const Machine& m, std::string_view from, std::string_view to) {
  auto in = openFile(m, from);
  NewFile info{getAttributes(m, from), lastModified(m, from)};
  auto out = createFile(m, to, info);
  std::string buf(1 << 16, '\0');
  for (uint64_t at = 0; at < in->size();) {
    size_t n = in->readAt(at, buf.data(), buf.size());
    if (n == 0) break;
    out->write(std::string_view(buf.data(), n));
    at += n;
  }
  out->commit();
}

bool onImage(const Machine& m, std::string_view path) {
  return path.size() >= 2 && path[1] == ':' && m.driveImage(path[0]).has_value();
}
}  // namespace

void copyFile(const Machine& m, std::string_view from, std::string_view to) {
  if (onImage(m, from) || onImage(m, to)) return copyThroughStreams(m, from, to);
  winpath::Walk src = existing(m, from);
  HostStat sh = statOf(src.host);
  if (sh.dir) throw Error(kPathFileAccess, str(from));
  winpath::Walk dst = inExistingFolder(m, to);
  HostStat dh = statOf(dst.host);
  if (dh.dir) throw Error(kPathFileAccess, str(to));
  checkWritable(m, dst.drive, to);
  refuseReadOnly(dh, to);
  uint64_t size = static_cast<uint64_t>(sh.st.st_size);
  checkSpace(m, dst, size, dh.exists ? static_cast<uint64_t>(dh.st.st_size) : 0, to);

  int in = ::open(src.host.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) failErrno(errno, from);
  TempFile t;
  try {
    openTemp(t, dst.host.parent_path(), 0666, to);
    copyContents(in, t.fd, sh.st, from, to);
    finishTemp(t, to);
  } catch (...) {
    ::close(in);
    throw;
  }
  ::close(in);
  applyAttrs(t.path, statOf(t.path), attrsOf(src.host, sh));
  t.keep = true;
  replaceWith(t.path, dst.host, to);
}

void deleteFile(const Machine& m, std::string_view path) {
  if (auto p = imagefs::place(m, path)) return imagefs::deleteFile(*p);
  std::string name = winBaseName(path);
  if (isWildcard(name)) {
    std::string folder = str(path.substr(0, path.size() - name.size()));
    winpath::Walk w = winpath::walk(m, folder.empty() ? str(path) : folder);
    if (!w.complete()) throw Error(kPathNotFound, str(path));
    auto names = listMatching(w.host, name, kReadOnly | kArchive);
    if (names.empty()) throw Error(kFileNotFound, str(path));
    checkWritable(m, w.drive, path);
    sortNames(names);
    for (const std::string& n : names) {
      fs::path p = w.host / n;
      HostStat h = statOf(p);
      if (h.dir) continue;
      refuseReadOnly(h, path);
      if (::unlink(p.c_str()) != 0) failErrno(errno, path);
    }
    return;
  }
  winpath::Walk w = existing(m, path);
  HostStat h = statOf(w.host);
  if (h.dir) throw Error(kPathFileAccess, str(path));
  checkWritable(m, w.drive, path);
  refuseReadOnly(h, path);
  if (::unlink(w.host.c_str()) != 0) failErrno(errno, path);
}

void renameFile(const Machine& m, std::string_view from, std::string_view to) {
  if (onImage(m, from) || onImage(m, to)) {
    auto a = imagefs::place(m, from), b = imagefs::place(m, to);
    if (!a || !b) throw Error(kRenameAcrossDrives, str(to));
    return imagefs::renameFile(*a, *b);
  }
  winpath::Walk src = existing(m, from);
  if (src.hostNames.empty()) throw Error(kPathFileAccess, str(from));
  winpath::Walk dst = inExistingFolder(m, to);
  if (src.drive != dst.drive) throw Error(kRenameAcrossDrives, str(to));
  checkWritable(m, src.drive, from);
  fs::path target = dst.host;
  if (dst.complete() && statOf(dst.host).exists) {
    if (dst.host != src.host) throw Error(kFileExists, str(to));
    // The same file under another spelling: take the one given.
    std::string given = ansiToUtf8(winBaseName(to));
    checkNewName(given, to);
    target = dst.host.parent_path() / given;
    if (target == src.host) return;
  }
  if (::rename(src.host.c_str(), target.c_str()) != 0) failErrno(errno, to);
}

void makeFolder(const Machine& m, std::string_view path) {
  if (auto p = imagefs::place(m, path)) return imagefs::makeFolder(*p);
  winpath::Walk w = winpath::walk(m, path);
  fs::path cur = w.driveFolder;
  for (size_t i = 0; i < w.hostNames.size(); ++i) {
    cur /= w.hostNames[i];
    if (i < w.existing) {
      if (!statOf(cur).dir) throw Error(kPathFileAccess, str(path));
      continue;
    }
    checkNewName(w.hostNames[i], path);
    checkWritable(m, w.drive, path);
    if (::mkdir(cur.c_str(), 0777) != 0 && errno != EEXIST) failErrno(errno, path);
  }
}

void removeTree(const Machine& m, std::string_view path) {
  if (auto p = imagefs::place(m, path)) return imagefs::removeTree(*p);
  winpath::Walk w = winpath::walk(m, path);
  if (!w.complete() || !statOf(w.host).exists) throw Error(kPathNotFound, str(path));
  checkWritable(m, w.drive, path);
  makeTreeWritable(w.host);
  std::error_code ec;
  if (w.hostNames.empty()) {
    // The drive itself stays; only what it holds goes.
    for (fs::directory_iterator it(w.host, ec), end; !ec && it != end; it.increment(ec)) {
      fs::remove_all(it->path(), ec);
      if (ec) break;
    }
  } else {
    fs::remove_all(w.host, ec);
  }
  if (ec) failErrno(ec.value(), path);
}

// --- times, sizes, attributes ---------------------------------------------------

DateTime lastModified(const Machine& m, std::string_view path) {
  if (auto p = imagefs::place(m, path)) return imagefs::existing(*p).modified;
  winpath::Walk w = existing(m, path);
  return DateTime::fromTime(statOf(w.host).st.st_mtim.tv_sec);
}

void setLastModified(const Machine& m, std::string_view path, const DateTime& t) {
  if (auto p = imagefs::place(m, path)) {
    imagefs::existing(*p);
    FileTimes times;
    times.modified = t;
    return p->volume->setTimes(p->rel, times);
  }
  winpath::Walk w = existing(m, path);
  checkWritable(m, w.drive, path);
  struct timespec times[2];
  times[0].tv_nsec = UTIME_OMIT;
  times[0].tv_sec = 0;
  times[1].tv_sec = t.toTime();
  times[1].tv_nsec = 0;
  if (::utimensat(AT_FDCWD, w.host.c_str(), times, 0) != 0) failErrno(errno, path);
}

uint64_t fileSize(const Machine& m, std::string_view path) {
  if (auto p = imagefs::place(m, path)) {
    FileEntry e = imagefs::existing(*p);
    if (e.isFolder()) throw Error(kFileNotFound, str(path));
    return e.size;
  }
  winpath::Walk w = existing(m, path);
  HostStat h = statOf(w.host);
  if (h.dir) throw Error(kFileNotFound, str(path));
  return static_cast<uint64_t>(h.st.st_size);
}

uint8_t getAttributes(const Machine& m, std::string_view path) {
  if (auto p = imagefs::place(m, path)) return imagefs::existing(*p).attributes;
  winpath::Walk w = existing(m, path);
  return attrsOf(w.host, statOf(w.host));
}

void setAttributes(const Machine& m, std::string_view path, uint8_t attrs) {
  if (auto p = imagefs::place(m, path)) {
    imagefs::existing(*p);
    return p->volume->setAttributes(p->rel, attrs);
  }
  winpath::Walk w = existing(m, path);
  checkWritable(m, w.drive, path);
  applyAttrs(w.host, statOf(w.host), attrs);
}

// --- Dir --------------------------------------------------------------------------

std::string DirEnum::first(const Machine& m, std::string_view pattern, uint8_t mask) {
  names_.clear();
  pos_ = 0;
  std::string name = winBaseName(pattern);
  std::string folder = str(pattern.substr(0, pattern.size() - name.size()));
  if (folder.empty()) throw Error(kBadFileNameSyntax, str(pattern));
  if (onImage(m, pattern)) {
    try {
      if (auto p = imagefs::place(m, pattern)) names_ = imagefs::dir(*p, mask);
    } catch (const Error& e) {
      if (e.number() == kDiskNotReady || e.number() == kDeviceError) throw;
    }
    return next();
  }
  winpath::Walk w = winpath::walk(m, folder);
  if (!w.complete() || !statOf(w.host).dir) return {};
  std::vector<std::string> hosts;
  if (name.empty() || isWildcard(name)) {
    hosts = listMatching(w.host, name.empty() ? "*" : name, mask);
  } else {
    winpath::Walk one = winpath::walk(m, pattern);
    if (one.complete() && !one.hostNames.empty()) {
      HostStat h = statOf(one.host);
      if (h.exists && maskAdmits(attrsOf(one.host, h), mask)) hosts.push_back(one.hostNames.back());
    }
  }
  sortNames(hosts);
  for (auto& h : hosts) names_.push_back(utf8ToAnsi(h));
  return next();
}

std::string DirEnum::next() {
  if (pos_ >= names_.size()) return {};
  return names_[pos_++];
}

void removeStaleTemporaries(const Machine& m, std::string_view folder) {
  if (onImage(m, folder)) return;  // a FAT volume keeps no temporaries under names
  winpath::Walk w = winpath::walk(m, folder);
  if (w.complete()) temporaries::sweep(w.host);
}

bool isWriteProtected(const Machine& m, char drive) {
  if (m.driveImage(drive)) {
    try {
      return m.imageVolume(drive)->writeProtected();
    } catch (const Error&) {
      return writeProtected(m, drive);
    }
  }
  return writeProtected(m, drive);
}
bool driveExists(const Machine& m, char drive) { return m.hasDrive(drive); }


uint64_t freeSpace(const Machine& m, char drive) {
  std::string root = std::string(1, drive) + ":\\";
  if (m.driveImage(drive)) return m.imageVolume(drive)->space().freeBytes;
  winpath::Walk w = winpath::walk(m, root);
  if (m.isFloppy(w.drive)) {
    uint64_t used = usedBytes(w.driveFolder), cap = capacity(m);
    return used >= cap ? 0 : cap - used;
  }
  struct statvfs sv;
  if (::statvfs(w.driveFolder.c_str(), &sv) != 0) failErrno(errno, root);
  // A host file system that keeps no block count (ramfs) is not full: it
  // gets the most the classic call reports, 65,535 clusters of 32 KB.
  if (sv.f_blocks == 0) return 2147450880u;
  return static_cast<uint64_t>(sv.f_bavail) * sv.f_frsize;
}

}  // namespace platform
