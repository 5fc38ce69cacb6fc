#include "platform/shortname.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <set>
#include <tuple>
#include <vector>

#include "platform/machine.h"
#include "platform/text.h"

namespace platform::shortname {

namespace {

constexpr std::string_view kTempPrefix = ".~brakvel-";

bool validShortChar(unsigned char c) {
  if (c >= 0x80) return true;
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'()-@^_`{}~").find(static_cast<char>(c)) != std::string_view::npos;
}

// What a character of a long name becomes in the short name: nothing for
// blanks and dots, '_' for what a short name cannot hold.
std::string shortChar(unsigned char c) {
  if (c == ' ' || c == '.') return {};
  if (!validShortChar(c)) return "_";
  return std::string(1, upperAnsi(static_cast<char>(c)));
}

struct Entry {
  std::string host;
  int64_t born = 0;  // nanoseconds
};

int64_t birthOf(const fs::path& p) {
  struct statx sx {};
  if (statx(AT_FDCWD, p.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME, &sx) == 0) {
    const auto& t = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime;
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
  }
  return 0;
}

std::optional<std::string> readStored(const fs::path& file, const std::string& hostName) {
  char buf[1024];
  ssize_t n = lgetxattr(file.c_str(), kXattr, buf, sizeof buf);
  if (n <= 0) return std::nullopt;
  std::string_view v(buf, static_cast<size_t>(n));
  size_t nl = v.find('\n');
  if (nl == std::string_view::npos || v.substr(nl + 1) != hostName) return std::nullopt;
  std::string s(v.substr(0, nl));
  if (!isValid83(s)) return std::nullopt;
  return s;
}

std::string withTail(const Basis& b, unsigned n) {
  std::string tail = "~" + std::to_string(n);
  std::string base = b.base.substr(0, std::min(b.base.size(), 8 - tail.size()));
  std::string s = base + tail;
  if (!b.ext.empty()) s += "." + b.ext;
  return s;
}

// Gives every entry of dir that has no short name yet its name, oldest
// first, and returns all short names of the folder by host name.
std::vector<std::pair<std::string, std::string>> assignAll(const fs::path& dir) {
  FolderLock lock(dir);
  std::vector<std::pair<std::string, std::string>> named;
  std::vector<Entry> unnamed;
  std::set<std::string> taken;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string host = it->path().filename().string();
    if (isTemporary(host)) continue;
    std::string ansi = utf8ToAnsi(host);
    if (isValid83(ansi)) {
      named.emplace_back(host, upperAnsi(ansi));
      taken.insert(upperAnsi(ansi));
    } else if (auto s = readStored(it->path(), host)) {
      named.emplace_back(host, *s);
      taken.insert(*s);
    } else {
      unnamed.push_back({host, birthOf(it->path())});
    }
  }
  std::sort(unnamed.begin(), unnamed.end(), [](const Entry& a, const Entry& b) {
    return std::tie(a.born, a.host) < std::tie(b.born, b.host);
  });
  for (const Entry& e : unnamed) {
    Basis b = basis(utf8ToAnsi(e.host));
    std::string s;
    for (unsigned n = 1; n < 1000000; ++n) {
      s = withTail(b, n);
      if (!taken.count(s)) break;
    }
    taken.insert(s);
    store(dir / e.host, s, e.host);  // silently not kept where unsupported
    named.emplace_back(e.host, s);
  }
  return named;
}

}  // namespace

FolderLock::FolderLock(const fs::path& dir) {
  fd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ >= 0) {
    while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

Basis basis(std::string_view longAnsi) {
  std::string_view name = longAnsi;
  while (!name.empty() && (name.front() == '.' || name.front() == ' ')) name.remove_prefix(1);
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
  size_t dot = name.rfind('.');
  std::string_view stem = dot == std::string_view::npos ? name : name.substr(0, dot);
  std::string_view ext = dot == std::string_view::npos ? std::string_view{} : name.substr(dot + 1);
  Basis b;
  for (char c : stem) {
    if (b.base.size() >= 6) break;
    b.base += shortChar(static_cast<unsigned char>(c));
  }
  for (char c : ext) {
    if (b.ext.size() >= 3) break;
    b.ext += shortChar(static_cast<unsigned char>(c));
  }
  if (b.base.empty()) b.base = "_";
  return b;
}

std::string of(const fs::path& dir, const std::string& hostName) {
  std::string ansi = utf8ToAnsi(hostName);
  if (isValid83(ansi)) return upperAnsi(ansi);
  if (auto s = readStored(dir / hostName, hostName)) return *s;
  for (auto& [host, s] : assignAll(dir)) {
    if (host == hostName) return s;
  }
  return {};
}

std::optional<std::string> find(const fs::path& dir, std::string_view shortAnsi) {
  std::optional<std::string> best;
  for (auto& [host, s] : assignAll(dir)) {
    if (equalsNoCase(s, shortAnsi) && (!best || host < *best)) best = host;
  }
  return best;
}

std::optional<std::string> stored(const fs::path& file) {
  return readStored(file, file.filename().string());
}

void store(const fs::path& file, const std::string& shortName, const std::string& longHostName) {
  std::string v = shortName + "\n" + longHostName;
  lsetxattr(file.c_str(), kXattr, v.data(), v.size(), 0);
}

bool isTemporary(std::string_view hostName) { return hostName.starts_with(kTempPrefix); }

std::string temporaryName() {
  static std::atomic<unsigned> counter{0};
  return std::string(kTempPrefix) + std::to_string(::getpid()) + "-" +
         std::to_string(counter.fetch_add(1));
}

}  // namespace platform::shortname
