#pragma once
// What a restart of the machine does: close its running programs, then what
// Windows 9x does before it starts again: carry out the [Rename] section of
// WinInit.ini and keep the file as WinInit.bak.
#include <ostream>
#include <string>
#include <vector>

#include "platform/machine.h"

namespace restart {

struct WinInitResult {
  bool present = false;               // there was a WinInit.ini
  int carriedOut = 0;                 // lines done
  std::vector<std::string> problems;  // lines that could not be carried out, and why
};

// Every line of [Rename] in order: "TARGET=SOURCE" moves SOURCE onto TARGET
// (replacing it), "NUL=FILE" deletes FILE. Paths are 8.3 paths, as WININIT
// runs before long names exist. Other sections are left as they are; the
// whole file is then renamed to WinInit.bak (replacing an older one).
// Reports each step on out.
WinInitResult runWinInit(const platform::Machine& m, std::ostream& out);

// The restart: asks the machine's programs to close (waiting up to
// closeTimeoutMs) and runs WININIT. Returns 0 when the machine restarted and
// every line was carried out; 1 when a line failed; 2 when a program did not
// close, which cancels the restart as Windows cancels it.
int restartMachine(const platform::Machine& m, std::ostream& out, int closeTimeoutMs = 10000);

}  // namespace restart
