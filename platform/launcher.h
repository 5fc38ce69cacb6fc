#pragma once
// Starting programs of the machine the way the classic Shell call does, and
// the "Finished - NAME" windows a Windows 9x console leaves when its program
// ends.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine.h"

namespace platform {

// Window styles of the Shell call.
enum class WindowStyle : int {
  Hide = 0,
  NormalFocus = 1,
  MinimizedFocus = 2,
  MaximizedFocus = 3,
  NormalNoFocus = 4,
  MinimizedNoFocus = 6,
};
const char* windowStyleName(WindowStyle s);  // "hidden", "minimized-focus", "normal-focus", ...

// One start of a program. 0 is no job.
struct JobId {
  uint64_t value = 0;
  explicit operator bool() const { return value != 0; }
  bool operator==(const JobId&) const = default;
};

using HWND = intptr_t;  // 0 is no window

struct FinishedWindow {
  HWND handle = 0;
  std::string title;      // "Finished - pux"
  JobId job;
  int exitStatus = 0;     // the program's exit status (128+N for a signal)
  bool hidden = true;
  std::string output;     // what the program wrote to its console (last 16 KiB)
};

// Top-level windows left by finished programs. Thread-safe: the launcher adds
// from its reaper thread, the user-interface thread looks up and closes.
class WindowTable {
 public:
  HWND add(FinishedWindow w);  // assigns the handle
  // FindWindow with a null class: the oldest open window with exactly this
  // title, 0 when none. Hidden windows count.
  HWND find(std::string_view title) const;
  // The open window of this title that belongs to job, 0 when none.
  HWND find(std::string_view title, JobId job) const;
  std::optional<FinishedWindow> get(HWND h) const;
  // PostMessage WM_CLOSE: the window goes away; false when there is none.
  bool postClose(HWND h);
  std::vector<FinishedWindow> all() const;

 private:
  mutable std::mutex mu_;
  std::vector<FinishedWindow> windows_;
  HWND next_ = 0x1000;
};

class Launcher {
 public:
  Launcher(const Machine& m, WindowTable& windows);
  ~Launcher();  // leaves running programs running
  Launcher(const Launcher&) = delete;
  Launcher& operator=(const Launcher&) = delete;

  struct Resolved {
    // The host program that runs the file found: the file itself on a
    // folder drive (our tools are links to the built programs there); for a
    // stand-in (the tools on an image drive) the built program it names,
    // from the folder the running program lives in; empty for an image's
    // file that stands in for nothing.
    fs::path host;
    std::string winPath;            // its Windows path
    std::string baseName;           // program name as written, no extension ("kvt", "pux")
    std::string argTail;            // the command line after the program, as given
    std::vector<std::string> args;  // argTail split as Windows C programs split it
    bool batch = false;             // a .bat, run by the machine's command interpreter
  };
  // Resolves as Windows does: a quoted program path; an unquoted path with
  // blanks tried prefix by prefix ("C:\Program", "C:\Program Files\Brakvel",
  // ...); .exe, .com, .bat tried when no extension is given; a bare name
  // searched in the current folder's place (the Windows folder) and on the
  // machine's PATH. Throws Error(kFileNotFound) naming the program.
  Resolved resolve(std::string_view commandLine) const;

  // Starts without waiting. A host executable (our tools are installed into
  // the machine as links to them, or as stand-ins on an image drive) runs as
  // a child process with the split arguments, BRAKVEL9X_MACHINE set,
  // BRAKVEL9X_CMDLINE holding argTail, BRAKVEL9X_WINDOW the style name and
  // BRAKVEL9X_CURRENT_FOLDER the Windows folder it starts in (the Windows
  // folder; its host folder is the working directory when it has one, the
  // machine folder otherwise); a .bat runs through the machine's
  // COMMAND.COM. When it ends, a window "Finished - " + baseName is added to
  // the window table with the job and exit status. Throws Error with number
  // and description when the program cannot be found or started.
  JobId start(std::string_view commandLine, WindowStyle style);

  bool running(JobId job) const;
  std::optional<int> exitStatus(JobId job) const;  // nullopt while running
  // Waits up to timeoutMs (negative: forever); true when the job has ended
  // and its window has been recorded.
  bool wait(JobId job, int timeoutMs) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Splits a command-line tail as Windows C programs do (blanks separate,
// double quotes group, backslashes before a quote escape it).
std::vector<std::string> splitCommandLine(std::string_view tail);

}  // namespace platform
