#pragma once
// A Windows path taken apart and matched against the drive folders. Shared
// by machine.cpp and files.cpp; not an interface for the program.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine.h"

namespace platform::winpath {

struct Walk {
  char drive = 0;                 // upper case
  fs::path host;                  // the whole path on the host
  fs::path driveFolder;
  std::vector<std::string> hostNames;  // each component as stored, or as given (UTF-8)
  size_t existing = 0;            // leading components found on the host
  bool trailingSeparator = false;
  bool complete() const { return existing == hostNames.size(); }
};

// Components of the path after "X:", with "." and ".." applied.
// Throws Error(kBadFileNameSyntax) when it is not a drive path.
std::vector<std::string> split(std::string_view winPath, char* drive, bool* trailingSeparator);

// Throws as Machine::toHost does.
Walk walk(const Machine& m, std::string_view winPath);

}  // namespace platform::winpath
