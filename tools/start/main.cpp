// START.EXE: opens a document or web address with the host's associated
// program (xdg-open), the way the Windows start command hands it to the
// default browser. Returns without waiting for the browser.
//   start ADDRESS
// A Windows path of the machine (C:\...) is opened as its host file; a file
// of a drive that is a disk image has none, so a copy of it is opened.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/text.h"

namespace {

// The opener on PATH, or empty text.
std::string findOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return {};
  std::string dirs = path;
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = dirs.substr(start, end - start);
    if (!dir.empty()) {
      const std::string candidate = dir + "/" + name;
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    start = end + 1;
  }
  return {};
}

// A host copy of an image drive's file, under its own name so that the
// opener picks the program by its extension. It stays: the opener outlives us.
std::string hostCopy(const platform::Machine& m, const std::string& winPath) {
  std::string bytes = platform::readFile(m, winPath);
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/brakvel9x-start-XXXXXX";
  if (::mkdtemp(dir.data()) == nullptr) throw std::runtime_error(dir + ": " + std::strerror(errno));
  std::string path = dir + "/" + platform::ansiToUtf8(platform::winBaseName(m.longPath(winPath)));
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) throw std::runtime_error(path + ": " + std::strerror(errno));
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) throw std::runtime_error(path + ": cannot be written");
  return path;
}

bool isWindowsPath(const std::string& s) {
  return s.size() >= 3 && std::isalpha(static_cast<unsigned char>(s[0])) && s[1] == ':' &&
         (s[2] == '\\' || s[2] == '/');
}

}  // namespace

int main(int argc, char** argv) {
  // The launcher hands the command line's tail as written; quoting is
  // optional for a single address.
  std::string target;
  if (const char* tail = std::getenv("BRAKVEL9X_CMDLINE"); tail != nullptr && *tail != '\0') {
    target = tail;
  } else {
    for (int i = 1; i < argc; ++i) target += (i > 1 ? " " : "") + std::string(argv[i]);
  }
  while (!target.empty() && target.front() == ' ') target.erase(target.begin());
  while (!target.empty() && target.back() == ' ') target.pop_back();
  if (target.size() >= 2 && target.front() == '"' && target.back() == '"') {
    target = target.substr(1, target.size() - 2);
  }
  if (target.empty()) {
    std::fprintf(stderr, "usage: start ADDRESS\n");
    return 2;
  }

  std::string opened = platform::ansiToUtf8(target);
  if (isWindowsPath(target)) {
    try {
      const auto machine = platform::Machine::open(platform::Machine::defaultDir());
      if (machine.driveImage(target[0]) && platform::fileExists(machine, target))
        opened = hostCopy(machine, target);
      else if (machine.driveImage(target[0]) && !platform::pathExists(machine, target))
        throw platform::Error(platform::kFileNotFound, target);
      else
        opened = machine.toHost(target).string();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "start: cannot open %s: %s\n", opened.c_str(), e.what());
      return 1;
    }
  }

  const std::string opener = findOnPath("xdg-open");
  if (opener.empty()) {
    std::fprintf(stderr,
                 "start: cannot open %s: this host has no program to open it with "
                 "(xdg-open not found)\n",
                 opened.c_str());
    return 1;
  }

  const pid_t child = ::fork();
  if (child < 0) {
    std::fprintf(stderr, "start: cannot open %s: %s\n", opened.c_str(), std::strerror(errno));
    return 1;
  }
  if (child == 0) {
    // The browser outlives us and must not hold the console of the job.
    ::setsid();
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, 0);
      ::dup2(null, 1);
    }
    ::execl(opener.c_str(), "xdg-open", opened.c_str(), static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  // An opener that fails at once is reported; one that keeps running has
  // handed the address over.
  for (int i = 0; i < 40; ++i) {
    int status = 0;
    const pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done == child) {
      if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return 0;
      std::fprintf(stderr, "start: cannot open %s: xdg-open failed (exit status %d)\n",
                   opened.c_str(), WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return 0;
}
