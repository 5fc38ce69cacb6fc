#pragma once
// Programs of a machine that own a window register here, so that a restart
// of the machine (RUNDLL32 shell32.dll,SHExitWindowsEx) can close them first.
#include <string>
#include <vector>
#include <sys/types.h>

#include "platform/machine.h"

namespace platform {

struct Task {
  pid_t pid = 0;
  std::string title;
};

// Registers the calling process for its lifetime. A close request arrives as
// SIGTERM; the program closes its windows as on shutdown and ends.
class TaskRegistration {
 public:
  TaskRegistration(const Machine& m, std::string title);
  ~TaskRegistration();
  TaskRegistration(const TaskRegistration&) = delete;
  TaskRegistration& operator=(const TaskRegistration&) = delete;

 private:
  fs::path file_;
};

// Registered tasks whose process is alive (stale entries are removed).
std::vector<Task> runningTasks(const Machine& m);
// Asks every running task to close and waits up to timeoutMs for them to end.
// Returns the tasks that are still running.
std::vector<Task> closeAllTasks(const Machine& m, int timeoutMs);

}  // namespace platform
