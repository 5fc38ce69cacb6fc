#pragma once
// Temporary files and folders of the machine's writers (an atomic write, a
// set of files being replaced). Each is named after the process that made
// it, its id and start time, so that whoever next makes a temporary in a
// folder removes those whose owner has gone (a killed run leaves its
// temporaries behind). Folder listings never show them.
#include <filesystem>
#include <string>
#include <string_view>

namespace platform::temporaries {

namespace fs = std::filesystem;

bool isTemporary(std::string_view hostName);
// A name no other temporary has: ".~brakvel-PID-START-N".
std::string newName();
// Removes the temporaries in dir (files, and folders with what they hold)
// whose owner process no longer runs. Names of another form are left alone.
void sweep(const fs::path& dir);

// A temporary file that SIGINT, SIGTERM or SIGHUP should take along when the
// process has no handler of its own for them (a kill cannot be caught; the
// next sweep removes what it leaves).
class OnSignal {
 public:
  explicit OnSignal(const fs::path& file);
  ~OnSignal();  // forgets it
  OnSignal(const OnSignal&) = delete;
  OnSignal& operator=(const OnSignal&) = delete;

 private:
  int slot_ = -1;
};

}  // namespace platform::temporaries
