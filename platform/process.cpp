#include "platform/process.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

namespace platform {

namespace {

std::string statField22(pid_t pid, char* state) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!in || !std::getline(in, text)) return {};
  size_t paren = text.rfind(')');
  if (paren == std::string::npos) return {};
  std::istringstream rest(text.substr(paren + 1));
  std::string field;
  for (int i = 3; i <= 22 && rest >> field; ++i) {
    if (i == 3 && state) *state = field.empty() ? '?' : field[0];
    if (i == 22) return field;
  }
  return {};
}

}  // namespace

std::string processStartTime(pid_t pid) { return statField22(pid, nullptr); }

const std::string& ownStartTime() {
  // Per process id: a child forked from here has a start of its own.
  static pid_t pid = 0;
  static std::string started;
  if (pid != ::getpid()) {
    pid = ::getpid();
    started = processStartTime(pid);
  }
  return started;
}

bool processAlive(pid_t pid, const std::string& started) {
  if (pid <= 0) return false;
  if (::kill(pid, 0) != 0 && errno != EPERM) return false;
  char state = '?';
  std::string now = statField22(pid, &state);
  if (state == 'Z' || state == 'X') return false;
  return started.empty() || now.empty() || now == started;
}

}  // namespace platform
