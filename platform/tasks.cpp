#include "platform/tasks.h"

#include "platform/process.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace platform {

namespace {

fs::path runFolder(const Machine& m) { return m.root() / ".run"; }

struct Entry {
  Task task;
  std::string started;
  fs::path file;
};

std::vector<Entry> entries(const Machine& m) {
  std::vector<Entry> out;
  std::error_code ec;
  for (fs::directory_iterator it(runFolder(m), ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    Entry e;
    e.file = it->path();
    e.task.pid = static_cast<pid_t>(std::stol(name));
    std::ifstream in(e.file);
    std::getline(in, e.task.title);
    std::getline(in, e.started);
    out.push_back(std::move(e));
  }
  std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) { return a.task.pid < b.task.pid; });
  return out;
}

}  // namespace

TaskRegistration::TaskRegistration(const Machine& m, std::string title) {
  std::error_code ec;
  fs::create_directories(runFolder(m), ec);
  pid_t pid = ::getpid();
  file_ = runFolder(m) / std::to_string(pid);
  fs::path tmp = runFolder(m) / (".new-" + std::to_string(pid));
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << title << "\n" << processStartTime(pid) << "\n";
  }
  fs::rename(tmp, file_, ec);
  if (ec) file_.clear();
}

TaskRegistration::~TaskRegistration() {
  if (!file_.empty()) {
    std::error_code ec;
    fs::remove(file_, ec);
  }
}

std::vector<Task> runningTasks(const Machine& m) {
  std::vector<Task> out;
  for (auto& e : entries(m)) {
    if (processAlive(e.task.pid, e.started)) {
      out.push_back(e.task);
    } else {
      std::error_code ec;
      fs::remove(e.file, ec);  // stale: its process is gone
    }
  }
  return out;
}

std::vector<Task> closeAllTasks(const Machine& m, int timeoutMs) {
  const pid_t self = ::getpid();
  std::vector<Task> asked;
  for (const Task& t : runningTasks(m)) {
    if (t.pid == self) continue;  // the caller cannot wait for itself
    if (::kill(t.pid, SIGTERM) == 0) asked.push_back(t);
  }
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (;;) {
    std::vector<Task> left;
    for (const Task& t : asked) {
      if (processAlive(t.pid, {})) left.push_back(t);
    }
    if (left.empty() || std::chrono::steady_clock::now() >= end) {
      runningTasks(m);  // clears the entries of those that ended
      return left;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace platform
