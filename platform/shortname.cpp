#include "platform/shortname.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "platform/hostfs.h"
#include "platform/machine.h"
#include "platform/temporaries.h"
#include "platform/text.h"
#include "platform/volume.h"

namespace platform::shortname {

namespace {

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

// Host names of a folder's entries, our temporary files left out.
std::vector<std::string> entryNames(const fs::path& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return names;
  while (dirent* e = ::readdir(d)) {
    std::string_view n(e->d_name);
    if (n == "." || n == ".." || temporaries::isTemporary(n)) continue;
    names.emplace_back(n);
  }
  ::closedir(d);
  return names;
}

bool byBirth(const Entry& a, const Entry& b) { return std::tie(a.born, a.host) < std::tie(b.born, b.host); }

// Gives every entry of dir that has no short name yet its name, oldest
// first, and returns all short names of the folder by host name.
std::vector<std::pair<std::string, std::string>> assignAll(const fs::path& dir) {
  FolderLock lock(dir);
  std::vector<std::pair<std::string, std::string>> named;
  std::vector<Entry> unnamed;
  std::map<std::string, std::vector<Entry>> stored;  // by short name
  std::set<std::string> taken;
  for (std::string& host : entryNames(dir)) {
    std::string ansi = utf8ToAnsi(host);
    if (isValid83(ansi)) {
      named.emplace_back(host, upperAnsi(ansi));
      taken.insert(upperAnsi(ansi));
    } else if (auto s = readStored(dir / host, host)) {
      stored[*s].push_back({std::move(host), 0});
    } else {
      unnamed.push_back({std::move(host), 0});
    }
  }
  // A file copied in with its attributes (cp -a) may bring a name that is
  // taken here already: the older file keeps it, the newcomer gets a new one.
  for (auto& [s, holders] : stored) {
    if (holders.size() > 1 || taken.count(s)) {
      for (Entry& e : holders) e.born = birthOf(dir / e.host);
      std::sort(holders.begin(), holders.end(), byBirth);
    }
    for (Entry& e : holders) {
      if (taken.insert(s).second) {
        named.emplace_back(e.host, s);
      } else {
        unnamed.push_back(e);
      }
    }
  }
  for (Entry& e : unnamed) e.born = birthOf(dir / e.host);
  std::sort(unnamed.begin(), unnamed.end(), byBirth);
  std::map<std::string, unsigned> nextTail;  // per basis: no tail below is free
  for (const Entry& e : unnamed) {
    Basis b = basis(utf8ToAnsi(e.host));
    unsigned& n = nextTail[b.base + "." + b.ext];
    std::string s;
    for (n = std::max(n, 1u); n < 1000000; ++n) {
      s = tailed(b, n);
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

std::string tailed(const Basis& b, unsigned n) {
  std::string tail = "~" + std::to_string(n);
  std::string base = b.base.substr(0, std::min(b.base.size(), 8 - tail.size()));
  std::string s = base + tail;
  if (!b.ext.empty()) s += "." + b.ext;
  return s;
}

std::string make(std::string_view longAnsi, const std::function<bool(const std::string&)>& taken,
                 const std::function<bool(char)>& holds) {
  std::string upper = upperAnsi(longAnsi);
  bool lossy = false;
  if (holds) {
    for (char c : upper) lossy = lossy || !holds(c);
  }
  if (!lossy && isValid83(longAnsi) && !taken(upper)) return upper;
  Basis b = basis(longAnsi);
  if (holds) {
    for (std::string* part : {&b.base, &b.ext}) {
      for (char& c : *part) {
        if (!holds(c)) c = '_';
      }
    }
  }
  for (unsigned n = 1; n < 1000000; ++n) {
    std::string s = tailed(b, n);
    if (!taken(s)) return s;
  }
  return {};
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
  // Only a name whose basis gives this short name can hold it, so most
  // entries are ruled out without asking the host about them.
  size_t tilde = shortAnsi.rfind('~');
  size_t dot = shortAnsi.find('.');
  if (tilde == std::string_view::npos || (dot != std::string_view::npos && dot < tilde)) return std::nullopt;
  unsigned n = 0;
  for (size_t i = tilde + 1; i < shortAnsi.size() && i != dot; ++i) {
    if (shortAnsi[i] < '0' || shortAnsi[i] > '9' || n > 100000) return std::nullopt;
    n = n * 10 + static_cast<unsigned>(shortAnsi[i] - '0');
  }
  if (n == 0) return std::nullopt;
  std::vector<std::string> candidates;
  for (std::string& host : entryNames(dir)) {
    std::string ansi = utf8ToAnsi(host);
    if (isValid83(ansi)) continue;
    if (equalsNoCase(tailed(basis(ansi), n), shortAnsi)) candidates.push_back(std::move(host));
  }
  std::sort(candidates.begin(), candidates.end());
  bool unnamed = false;
  for (const std::string& host : candidates) {
    auto s = readStored(dir / host, host);
    if (s && equalsNoCase(*s, shortAnsi)) return host;
    if (!s) unnamed = true;
  }
  if (!unnamed) return std::nullopt;
  for (auto& [host, s] : assignAll(dir)) {
    if (equalsNoCase(s, shortAnsi)) return host;
  }
  return std::nullopt;
}

std::optional<std::string> entryNamed(const fs::path& dir, const std::string& ansi) {
  std::string host = ansiToUtf8(ansi);
  struct stat st;
  if (host.size() <= 255 && !temporaries::isTemporary(host) && ::lstat((dir / host).c_str(), &st) == 0)
    return host;
  std::string_view plain = volume::withoutTrailing(ansi);
  if (plain.empty()) return std::nullopt;
  std::optional<std::string> best;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (temporaries::isTemporary(name)) continue;
    if (equalsNoCase(utf8ToAnsi(name), plain) && (!best || name < *best)) best = name;
  }
  if (best) return best;
  if (plain.find('~') != std::string_view::npos && isValid83(plain)) return find(dir, plain);
  return std::nullopt;
}

std::optional<std::string> stored(const fs::path& file) {
  return readStored(file, file.filename().string());
}

void store(const fs::path& file, const std::string& shortName, const std::string& longHostName) {
  std::string v = shortName + "\n" + longHostName;
  hostfs::setUserXattr(file, kXattr, v);
}


}  // namespace platform::shortname
