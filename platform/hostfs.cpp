#include "platform/hostfs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstring>

#include "platform/dos_pattern.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/shortname.h"
#include "platform/text.h"

namespace platform::hostfs {


namespace {
constexpr const char* kAttrXattr = "user.brakvel.attrib";
constexpr uint64_t kDefaultCapacity = 1457664;
}  // namespace

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

bool isWildcard(std::string_view name) { return hasDosWildcards(name); }

// Names Windows refuses to create.
void checkNewName(const std::string& hostName, std::string_view winPath) {
  std::string ansi = utf8ToAnsi(hostName);
  for (char ch : ansi) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || std::strchr("<>:\"|?*", ch)) throw Error(kBadFileNameSyntax, str(winPath));
  }
  if (hostName.size() > 255 || ansi.size() > 255) throw Error(kBadFileName, str(winPath));
  // CON, NUL.TXT, COM1: Windows opens the device instead.
  if (!deviceNameOf(ansi).empty()) throw Error(kBadFileNameSyntax, str(winPath));
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

bool writeProtected(const Machine& m, char drive) {
  return m.isFloppy(drive) && m.ini("Floppy", "WriteProtected").value_or("0") == "1";
}

void checkWritable(const Machine& m, char drive, std::string_view path) {
  if (writeProtected(m, drive)) throw Error(kPermissionDenied, str(path));
}

uint64_t capacity(const Machine& m) {
  auto v = m.ini("Floppy", "Capacity");
  uint64_t bytes = 0;
  if (!v || std::from_chars(v->data(), v->data() + v->size(), bytes).ec != std::errc()) {
    return kDefaultCapacity;
  }
  return bytes;
}

// What the files on a drive take; temporaries of writes in progress are
// counted when they are put in place.
uint64_t usedBytes(const fs::path& folder) {
  uint64_t used = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (temporaries::isTemporary(it->path().filename().string())) {
      it.disable_recursion_pending();
      continue;
    }
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

namespace {
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
}  // namespace

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
  if (!h.link) setUserXattr(p, kAttrXattr, v);
  if (!h.dir && !h.link) {
    mode_t mode = h.st.st_mode & 07777;
    mode = (attrs & kReadOnly) ? mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) : mode | S_IWUSR;
    if (mode != (h.st.st_mode & 07777) && ::chmod(p.c_str(), mode) != 0) failErrno(errno, p.string());
  }
}

void setUserXattr(const fs::path& p, const char* name, std::string_view value) {
  if (::lsetxattr(p.c_str(), name, value.data(), value.size(), 0) == 0 || errno != EACCES) return;
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR)) return;
  if (::chmod(p.c_str(), (st.st_mode & 07777) | S_IWUSR) != 0) return;
  ::lsetxattr(p.c_str(), name, value.data(), value.size(), 0);
  ::chmod(p.c_str(), st.st_mode & 07777);
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

// --- reading ------------------------------------------------------------------

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

void copyContents(int in, int out, const struct stat& source, std::string_view from, std::string_view to) {
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failErrno(errno, from);
    if (n == 0) break;
    writeAll(out, std::string_view(buf, static_cast<size_t>(n)), to);
  }
  ::fchmod(out, (source.st_mode & 0777) | S_IWUSR);
  struct timespec times[2] = {source.st_atim, source.st_mtim};
  ::futimens(out, times);
  if (::fsync(out) != 0) failErrno(errno, to);
}

void syncFolder(const fs::path& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

void keepShortName(const fs::path& tmp, const fs::path& target) {
  if (!statOf(target).exists) return;
  std::string name = target.filename().string();
  std::string s = shortname::of(target.parent_path(), name);
  if (!s.empty() && !isValid83(utf8ToAnsi(name))) shortname::store(tmp, s, name);
}

void replaceWith(const fs::path& tmp, const fs::path& target, std::string_view path) {
  fs::path dir = target.parent_path();
  keepShortName(tmp, target);
  if (::rename(tmp.c_str(), target.c_str()) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    failErrno(err, path);
  }
  syncFolder(dir);
}

TempFile::~TempFile() {
  if (fd >= 0) ::close(fd);
  if (!keep) ::unlink(path.c_str());
}

void openTemp(TempFile& t, const fs::path& dir, mode_t mode, std::string_view path) {
  temporaries::sweep(dir);
  t.path = dir / temporaries::newName();
  t.fd = ::open(t.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (t.fd < 0) {
    t.keep = true;
    failErrno(errno, path);
  }
  t.onSignal.emplace(t.path);
}

void finishTemp(TempFile& t, std::string_view path) {
  if (::fsync(t.fd) != 0 || ::close(t.fd) != 0) {
    t.fd = -1;
    failErrno(errno, path);
  }
  t.fd = -1;
}

bool maskAdmits(uint8_t attrs, uint8_t mask) {
  return (attrs & static_cast<uint8_t>(~mask) & (kHidden | kSystem | kDirectory)) == 0;
}

// Names (host form) of the entries of folder matching pattern under mask.
std::vector<std::string> listMatching(const fs::path& folder, std::string_view pattern, uint8_t mask) {
  std::vector<std::string> out;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string host = it->path().filename().string();
    if (temporaries::isTemporary(host)) continue;
    std::string ansi = utf8ToAnsi(host);
    // A valid 8.3 name is its own short name; only other names are asked for
    // theirs, and only when the long one does not fit.
    bool hit = dosPatternMatches(pattern, ansi) ||
               (!isValid83(ansi) && dosPatternMatches(pattern, shortname::of(folder, host)));
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

}  // namespace platform::hostfs
