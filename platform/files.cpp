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
#include "platform/shortname.h"
#include "platform/text.h"
#include "platform/winpath.h"

namespace platform {

namespace {

constexpr const char* kAttrXattr = "user.brakvel.attrib";
constexpr uint64_t kDefaultCapacity = 1457664;
constexpr int kFileExists = 58;
constexpr int kRenameAcrossDrives = 74;

std::string str(std::string_view s) { return std::string(s); }

// The error the classic runtime gives for a failed host call.
[[noreturn]] void failErrno(int err, std::string_view winPath) {
  switch (err) {
    case ENOENT: throw Error(kFileNotFound, str(winPath));
    case ENOTDIR: throw Error(kPathNotFound, str(winPath));
    case EACCES:
    case EPERM:
    case EROFS: throw Error(kPermissionDenied, str(winPath));
    case ENOSPC:
    case EDQUOT: throw Error(kDiskFull, str(winPath));
    case ENAMETOOLONG:
    case EINVAL: throw Error(kBadFileName, str(winPath));
    case EEXIST: throw Error(kFileExists, str(winPath));
    case EXDEV: throw Error(kRenameAcrossDrives, str(winPath));
    case EIO: throw Error(57, str(winPath));
    default: throw Error(kPathFileAccess, str(winPath));
  }
}

struct HostStat {
  bool exists = false;
  bool dir = false;
  bool link = false;
  struct stat st {};
};

HostStat statOf(const fs::path& p) {
  HostStat h;
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0) return h;
  h.exists = true;
  h.link = S_ISLNK(st.st_mode);
  if (h.link) ::stat(p.c_str(), &st);  // a dangling link stays a link
  h.st = st;
  h.dir = S_ISDIR(st.st_mode);
  return h;
}

bool isWildcard(std::string_view name) { return name.find_first_of("*?") != std::string_view::npos; }

// Names Windows refuses to create.
void checkNewName(const std::string& hostName, std::string_view winPath) {
  std::string ansi = utf8ToAnsi(hostName);
  for (char ch : ansi) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || std::strchr("<>:\"|?*", ch)) throw Error(kBadFileNameSyntax, str(winPath));
  }
  if (hostName.size() > 255 || ansi.size() > 255) throw Error(kBadFileName, str(winPath));
}

// The path must name something that exists.
winpath::Walk existing(const Machine& m, std::string_view path) {
  winpath::Walk w = winpath::walk(m, path);
  if (!w.complete() || !statOf(w.host).exists) {
    bool parentThere = w.existing + 1 >= w.hostNames.size();
    throw Error(parentThere ? kFileNotFound : kPathNotFound, str(path));
  }
  return w;
}

// The path's folder must exist; the last component may be new.
winpath::Walk inExistingFolder(const Machine& m, std::string_view path) {
  winpath::Walk w = winpath::walk(m, path);
  if (w.hostNames.empty()) throw Error(kPathFileAccess, str(path));
  if (w.existing + 1 < w.hostNames.size()) throw Error(kPathNotFound, str(path));
  if (w.existing < w.hostNames.size()) checkNewName(w.hostNames.back(), path);
  return w;
}

// --- floppy drives ------------------------------------------------------------

void checkWritable(const Machine& m, char drive, std::string_view path) {
  if (m.isFloppy(drive) && m.ini("Floppy", "WriteProtected").value_or("0") == "1") {
    throw Error(kPermissionDenied, str(path));
  }
}

uint64_t capacity(const Machine& m) {
  auto v = m.ini("Floppy", "Capacity");
  uint64_t bytes = 0;
  if (!v || std::from_chars(v->data(), v->data() + v->size(), bytes).ec != std::errc()) {
    return kDefaultCapacity;
  }
  return bytes;
}

uint64_t usedBytes(const fs::path& folder) {
  uint64_t used = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    struct stat st;
    if (::lstat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      used += static_cast<uint64_t>(st.st_size);
    }
  }
  return used;
}

// Refuses a write that would not fit on the floppy before anything is written.
void checkSpace(const Machine& m, const winpath::Walk& w, uint64_t adding, uint64_t freeing,
                std::string_view path) {
  if (!m.isFloppy(w.drive)) return;
  uint64_t used = usedBytes(w.driveFolder);
  used = used > freeing ? used - freeing : 0;
  if (used + adding > capacity(m)) throw Error(kDiskFull, str(path));
}

// --- attributes ---------------------------------------------------------------

bool readOnlyMode(const HostStat& h) { return !h.dir && !(h.st.st_mode & S_IWUSR); }

void refuseReadOnly(const HostStat& h, std::string_view path) {
  if (h.exists && readOnlyMode(h)) throw Error(kPathFileAccess, str(path));
}

uint8_t storedAttrs(const fs::path& p, const HostStat& h) {
  char buf[16];
  ssize_t n = lgetxattr(p.c_str(), kAttrXattr, buf, sizeof buf);
  if (n < 0) return h.dir ? 0 : kArchive;  // what a file that never had any gets
  uint8_t a = 0;
  for (ssize_t i = 0; i < n; ++i) {
    switch (buf[i]) {
      case 'R': a |= kReadOnly; break;
      case 'H': a |= kHidden; break;
      case 'S': a |= kSystem; break;
      case 'A': a |= kArchive; break;
      default: break;
    }
  }
  return a;
}

uint8_t attrsOf(const fs::path& p, const HostStat& h) {
  uint8_t a = storedAttrs(p, h);
  if (h.dir) return static_cast<uint8_t>((a & (kReadOnly | kHidden | kSystem | kArchive)) | kDirectory);
  a &= static_cast<uint8_t>(~kReadOnly);
  if (readOnlyMode(h)) a |= kReadOnly;
  return a;
}

// Hidden, system and archive go into the extended attribute (read-only too
// for a folder, whose write permission must stay); a file's read-only is its
// owner write permission.
void applyAttrs(const fs::path& p, const HostStat& h, uint8_t attrs) {
  std::string v;
  if (h.dir && (attrs & kReadOnly)) v += 'R';
  if (attrs & kHidden) v += 'H';
  if (attrs & kSystem) v += 'S';
  if (attrs & kArchive) v += 'A';
  if (!h.link) lsetxattr(p.c_str(), kAttrXattr, v.data(), v.size(), 0);  // kept where supported
  if (!h.dir && !h.link) {
    mode_t mode = h.st.st_mode & 07777;
    mode = (attrs & kReadOnly) ? mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) : mode | S_IWUSR;
    if (mode != (h.st.st_mode & 07777) && ::chmod(p.c_str(), mode) != 0) failErrno(errno, p.string());
  }
}

// A written file gets the archive bit, keeping its others.
void markArchive(const fs::path& p) {
  HostStat h = statOf(p);
  if (!h.exists || h.link) return;
  uint8_t a = storedAttrs(p, h);
  char buf[16];
  if (lgetxattr(p.c_str(), kAttrXattr, buf, sizeof buf) >= 0 && (a & kArchive)) return;
  applyAttrs(p, h, static_cast<uint8_t>(a | kArchive | (readOnlyMode(h) ? kReadOnly : 0)));
}

// --- writing ------------------------------------------------------------------

// Throws on failure; the descriptor stays its owner's to close.
void writeAll(int fd, std::string_view bytes, std::string_view path) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      failErrno(errno, path);
    }
    done += static_cast<size_t>(n);
  }
}

void syncFolder(const fs::path& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

// Puts a finished temporary file in place of target, which keeps its short
// name when it existed.
void replaceWith(const fs::path& tmp, const fs::path& target, std::string_view path) {
  fs::path dir = target.parent_path();
  std::string name = target.filename().string();
  if (statOf(target).exists) {
    std::string s = shortname::of(dir, name);
    if (!s.empty() && !isValid83(utf8ToAnsi(name))) shortname::store(tmp, s, name);
  }
  if (::rename(tmp.c_str(), target.c_str()) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    failErrno(err, path);
  }
  syncFolder(dir);
}

struct TempFile {
  fs::path path;
  int fd = -1;
  bool keep = false;
  ~TempFile() {
    if (fd >= 0) ::close(fd);
    if (!keep) ::unlink(path.c_str());
  }
};

void openTemp(TempFile& t, const fs::path& dir, mode_t mode, std::string_view path) {
  t.path = dir / shortname::temporaryName();
  t.fd = ::open(t.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (t.fd < 0) {
    t.keep = true;
    failErrno(errno, path);
  }
}

void finishTemp(TempFile& t, std::string_view path) {
  if (::fsync(t.fd) != 0 || ::close(t.fd) != 0) {
    t.fd = -1;
    failErrno(errno, path);
  }
  t.fd = -1;
}

// DOS wildcard match without regard to case: '*' any run, '?' one character.
bool matches(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*" || pattern == "*") return true;
  // "*." asks for names without an extension.
  if (pattern.size() >= 2 && pattern.ends_with(".") && name.find('.') == std::string_view::npos) {
    pattern.remove_suffix(1);
  }
  size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || upperAnsi(pattern[p]) == upperAnsi(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && (pattern[p] == '*' || (pattern[p] == '.' && p + 1 == pattern.size()))) ++p;
  return p == pattern.size();
}

bool maskAdmits(uint8_t attrs, uint8_t mask) {
  return (attrs & static_cast<uint8_t>(~mask) & (kHidden | kSystem | kDirectory)) == 0;
}

// Names (host form) of the entries of folder matching pattern under mask.
std::vector<std::string> listMatching(const fs::path& folder, std::string_view pattern, uint8_t mask) {
  std::vector<std::string> out;
  std::error_code ec;
  bool wantShort = pattern.find('~') != std::string_view::npos;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string host = it->path().filename().string();
    if (shortname::isTemporary(host)) continue;
    std::string ansi = utf8ToAnsi(host);
    bool hit = matches(pattern, ansi) ||
               (wantShort && matches(pattern, shortname::of(folder, host)));
    if (!hit) continue;
    HostStat h = statOf(it->path());
    if (maskAdmits(attrsOf(it->path(), h), mask)) out.push_back(host);
  }
  return out;
}

void sortNames(std::vector<std::string>& names) {
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    int c = compareNoCase(a, b);
    return c != 0 ? c < 0 : a < b;
  });
}

void makeTreeWritable(const fs::path& p) {
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
  ::chmod(p.c_str(), (st.st_mode & 07777) | S_IRWXU);
  std::error_code ec;
  for (fs::directory_iterator it(p, ec), end; !ec && it != end; it.increment(ec)) {
    makeTreeWritable(it->path());
  }
}

}  // namespace

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

bool fileExists(const Machine& m, std::string_view path) {
  HostStat h = statPath(m, path);
  return h.exists && !h.dir;
}

bool folderExists(const Machine& m, std::string_view path) {
  HostStat h = statPath(m, path);
  return h.exists && h.dir;
}

bool pathExists(const Machine& m, std::string_view path) { return statPath(m, path).exists; }

// --- reading -----------------------------------------------------------------------

namespace {

// A file opened for reading; its status beside it.
int openForReading(const Machine& m, std::string_view path, struct stat& st) {
  winpath::Walk w = existing(m, path);
  int fd = ::open(w.host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) failErrno(errno, path);
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw Error(kPathFileAccess, str(path));
  }
  return fd;
}

}  // namespace

void readFileInPieces(const Machine& m, std::string_view path, size_t piece,
                      const std::function<void(std::string_view)>& take) {
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
  replaceAtomically(m, inExistingFolder(m, path), path, attributes, bytes.size(),
                    [&](const PutBytes& put) { put(bytes); });
}

void writeFileAtomicStreamed(const Machine& m, std::string_view path, uint8_t attributes,
                             const std::function<void(const PutBytes& put)>& produce, ReadOnlyTarget readOnly) {
  winpath::Walk w = inExistingFolder(m, path);
  if (m.isFloppy(w.drive)) {  // the free space is checked against the whole
    std::string all;
    produce([&](std::string_view s) { all.append(s); });
    replaceAtomically(m, w, path, attributes, all.size(), [&](const PutBytes& put) { put(all); }, readOnly);
    return;
  }
  replaceAtomically(m, w, path, attributes, std::nullopt, produce, readOnly);
}

void copyFile(const Machine& m, std::string_view from, std::string_view to) {
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
    char buf[65536];
    for (;;) {
      ssize_t n = ::read(in, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) failErrno(errno, from);
      if (n == 0) break;
      writeAll(t.fd, std::string_view(buf, static_cast<size_t>(n)), to);
    }
    ::fchmod(t.fd, (sh.st.st_mode & 0777) | S_IWUSR);
    struct timespec times[2] = {sh.st.st_atim, sh.st.st_mtim};
    ::futimens(t.fd, times);
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
  winpath::Walk w = existing(m, path);
  return DateTime::fromTime(statOf(w.host).st.st_mtim.tv_sec);
}

void setLastModified(const Machine& m, std::string_view path, const DateTime& t) {
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
  winpath::Walk w = existing(m, path);
  HostStat h = statOf(w.host);
  if (h.dir) throw Error(kFileNotFound, str(path));
  return static_cast<uint64_t>(h.st.st_size);
}

uint8_t getAttributes(const Machine& m, std::string_view path) {
  winpath::Walk w = existing(m, path);
  return attrsOf(w.host, statOf(w.host));
}

void setAttributes(const Machine& m, std::string_view path, uint8_t attrs) {
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

uint64_t freeSpace(const Machine& m, char drive) {
  std::string root = std::string(1, drive) + ":\\";
  winpath::Walk w = winpath::walk(m, root);
  if (m.isFloppy(w.drive)) {
    uint64_t used = usedBytes(w.driveFolder), cap = capacity(m);
    return used >= cap ? 0 : cap - used;
  }
  struct statvfs sv;
  if (::statvfs(w.driveFolder.c_str(), &sv) != 0) failErrno(errno, root);
  return static_cast<uint64_t>(sv.f_bavail) * sv.f_frsize;
}

}  // namespace platform
