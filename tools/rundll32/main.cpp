// RUNDLL32.EXE of the machine. Knows the one entry point the program calls:
// "shell32.dll,SHExitWindowsEx FLAGS" (2 restarts, 1 and 8 shut down,
// 0 logs off).
#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/machine.h"
#include "platform/tasks.h"
#include "platform/text.h"
#include "tools/rundll32/restart.h"

namespace {

std::string commandLine(int argc, char** argv) {
  // The launcher hands over the command line as written (in UTF-8).
  if (const char* tail = std::getenv("BRAKVEL9X_CMDLINE")) return platform::utf8ToAnsi(tail);
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += platform::utf8ToAnsi(argv[i]);
  }
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  std::string line = commandLine(argc, argv);
  size_t b = line.find_first_not_of(" \t");
  line = b == std::string::npos ? std::string() : line.substr(b);
  size_t comma = line.find(',');
  size_t blank = line.find_first_of(" \t", comma == std::string::npos ? 0 : comma);
  std::string dll = line.substr(0, comma);
  std::string entry = comma == std::string::npos
                          ? std::string()
                          : line.substr(comma + 1, blank == std::string::npos ? std::string::npos
                                                                               : blank - comma - 1);
  std::string args = blank == std::string::npos ? std::string() : line.substr(blank + 1);
  if (dll.empty()) {
    std::cerr << "usage: rundll32 shell32.dll,SHExitWindowsEx FLAGS\n";
    return 2;
  }
  bool shell32 = platform::equalsNoCase(dll, "shell32.dll") || platform::equalsNoCase(dll, "shell32");
  if (!shell32) {
    std::cerr << "Error loading " << dll << "\n";
    return 1;
  }
  if (!platform::equalsNoCase(entry, "SHExitWindowsEx")) {
    std::cerr << "Error in " << dll << "\nMissing entry: " << entry << "\n";
    return 1;
  }
  try {
    auto machine = platform::Machine::open(platform::Machine::defaultDir());
    int flags = std::atoi(args.c_str());
    if (flags & 2) return restart::restartMachine(machine, std::cout);
    auto left = platform::closeAllTasks(machine, 10000);
    if (!left.empty()) {
      for (auto& t : left) std::cout << t.title << " did not close\n";
      return 2;
    }
    if (flags & (1 | 8))
      std::cout << "It's now safe to turn off your computer.\n";
    else
      std::cout << "Logged off.\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "rundll32: " << e.what() << "\n";
    return 1;
  }
}
