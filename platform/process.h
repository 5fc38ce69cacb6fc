#pragma once
// Who owns a process id: the id and the time the process started, so that
// an id the system has given to another process since is not taken for the
// one that was meant.
#include <string>
#include <sys/types.h>

namespace platform {

// The start time of a process (field 22 of /proc/PID/stat, in clock ticks
// since boot); empty when the host has no /proc or the process is gone.
std::string processStartTime(pid_t pid);
// The start time of the calling process, read once.
const std::string& ownStartTime();
// The process is alive and, when started is not empty, is the one that
// started then. A zombie counts as gone.
bool processAlive(pid_t pid, const std::string& started);

}  // namespace platform
