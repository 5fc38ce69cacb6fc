#include "platform/temporaries.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/process.h"

namespace platform::temporaries {

namespace {

constexpr std::string_view kPrefix = ".~brakvel-";

struct Owner {
  pid_t pid = 0;
  std::string started;  // empty: not recorded
};

bool number(std::string_view s, long long& out) {
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// "PID-START-N", or "PID-N" as older runs named them.
std::optional<Owner> ownerOf(std::string_view name) {
  if (!isTemporary(name)) return std::nullopt;
  name.remove_prefix(kPrefix.size());
  std::vector<std::string_view> parts;
  for (size_t dash; parts.size() < 4; name.remove_prefix(dash + 1)) {
    dash = name.find('-');
    parts.push_back(name.substr(0, dash));
    if (dash == std::string_view::npos) break;
  }
  long long pid = 0, n = 0;
  if ((parts.size() != 2 && parts.size() != 3) || !number(parts.front(), pid) || pid <= 0 ||
      !number(parts.back(), n))
    return std::nullopt;
  Owner o;
  o.pid = static_cast<pid_t>(pid);
  if (parts.size() == 3) {
    if (!number(parts[1], n)) return std::nullopt;
    if (parts[1] != "0") o.started = std::string(parts[1]);
  }
  return o;
}

void makeWritable(const fs::path& p) {
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
  ::chmod(p.c_str(), (st.st_mode & 07777) | S_IRWXU);
  std::error_code ec;
  for (fs::directory_iterator it(p, ec), end; !ec && it != end; it.increment(ec)) makeWritable(it->path());
}

// Fixed storage: the signal handler may use nothing but unlink.
constexpr int kSlots = 64;
struct Slot {
  std::atomic<bool> used{false};
  char path[4096] = {};
};
Slot slots[kSlots];

extern "C" void removeOnSignal(int sig) {
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
      sa.sa_handler = removeOnSignal;
      ::sigemptyset(&sa.sa_mask);
      ::sigaction(sig, &sa, nullptr);
    }
  });
}

}  // namespace

bool isTemporary(std::string_view hostName) { return hostName.starts_with(kPrefix); }

std::string newName() {
  static std::atomic<unsigned> counter{0};
  const std::string& started = ownStartTime();
  return std::string(kPrefix) + std::to_string(::getpid()) + "-" + (started.empty() ? "0" : started) + "-" +
         std::to_string(counter.fetch_add(1));
}

void sweep(const fs::path& dir) {
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    auto owner = ownerOf(name);
    if (!owner || processAlive(owner->pid, owner->started)) continue;
    std::error_code rm;
    if (fs::is_directory(fs::symlink_status(it->path(), rm))) {
      makeWritable(it->path());
      fs::remove_all(it->path(), rm);
    } else {
      fs::remove(it->path(), rm);
    }
  }
}

OnSignal::OnSignal(const fs::path& file) {
  installHandlers();
  const std::string path = file.string();
  if (path.size() >= sizeof(Slot::path)) return;
  for (int i = 0; i < kSlots; ++i) {
    if (slots[i].used.load()) continue;
    // Fill the path before the flag can be seen as set by the handler.
    std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
    bool expected = false;
    if (slots[i].used.compare_exchange_strong(expected, true)) {
      slot_ = i;
      return;
    }
  }
}

OnSignal::~OnSignal() {
  if (slot_ >= 0) slots[slot_].used.store(false);
}

}  // namespace platform::temporaries
