#pragma once
// A throw-away Windows 98 machine in a temporary folder, and running the
// registry editor on it as a real child process.
#include <filesystem>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "platform/registry/key_tree.h"

namespace regtest {

namespace fs = std::filesystem;

class TempMachine {
 public:
  explicit TempMachine(bool classesDat = false);
  ~TempMachine();
  TempMachine(const TempMachine&) = delete;
  TempMachine& operator=(const TempMachine&) = delete;

  const fs::path& dir() const { return dir_; }
  const platform::Machine& machine() const { return m_; }
  fs::path windows() const { return dir_ / "drive_c" / "WINDOWS"; }
  fs::path hive(const char* name) const { return windows() / name; }
  // Writes a host file under drive_c (relative path with /).
  fs::path put(const std::string& rel, const std::string& bytes) const;

 private:
  static fs::path make(bool classesDat);
  fs::path dir_;
  platform::Machine m_;
};

std::string slurp(const fs::path& p);

struct Run {
  int status = -1;  // exit status, or 128 + signal
  std::string out, err;
};
// Runs argv (argv[0] a path) with BRAKVEL9X_MACHINE set to machineDir when
// given, feeding input.
Run run(const std::vector<std::string>& argv, const fs::path& machineDir = {}, const std::string& input = {});
// Runs the registry editor with args on machine dir, feeding input.
Run regedit(const fs::path& machineDir, const std::vector<std::string>& args,
            const std::string& input = {});
// Starts it without waiting; returns the process id.
int startRegedit(const fs::path& machineDir, const std::vector<std::string>& args);

// A hive's keys and values in the format of creg_dump.py: what a file
// must give back when libcreg reads it.
std::string dumpTree(const platform::hive::Key& top);
// libcreg's reading of a registry file (python3-libcreg, through
// creg_dump.py); status 0 when it read the file without complaint.
Run libcregDump(const fs::path& file);

}  // namespace regtest
