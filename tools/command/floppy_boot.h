#pragma once
// Starting the machine from the floppy in drive A:: DOS runs A:\AUTOEXEC.BAT
// and sees only 8.3 names.
#include <istream>
#include <ostream>

#include "platform/machine.h"
#include "tools/command/interpreter.h"

namespace command {

struct BootResult {
  bool booted = false;  // false: no disk, or no AUTOEXEC.BAT on it (said on err)
  Outcome outcome;
};

// Prints the screen output on out. terminal: out and in are a console.
BootResult bootFloppy(const platform::Machine& m, std::ostream& out, std::ostream& err,
                      bool terminal = false, std::istream* in = nullptr);

}  // namespace command
