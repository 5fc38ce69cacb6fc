#pragma once
// Where the program runs from on the machine: the Windows path of its
// executable, the program folder and the application name.
#include <string>

#include "platform/machine.h"

namespace frontend {

struct ProgramLocation {
  std::string exePath;  // C:\Program Files\Brakvel 9x\Brakvel 9x.exe
  std::string folder;   // C:\Program Files\Brakvel 9x (C:\ at a drive root)
  std::string exeName;  // Brakvel 9x
};

inline constexpr const char* kDefaultProgramPath = "C:\\Program Files\\Brakvel 9x\\Brakvel 9x.exe";

// argv0 when it lies inside one of the machine's drives (the machine's
// "Brakvel 9x.exe" started by the launcher or by hand), otherwise the
// Windows path in BRAKVEL9X_PROGRAM, otherwise the default.
ProgramLocation locateProgram(const platform::Machine& m, const char* argv0);
// Splits a Windows path of the executable.
ProgramLocation programAt(const std::string& exeWinPath);

}  // namespace frontend
