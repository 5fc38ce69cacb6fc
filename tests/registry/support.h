#pragma once
// The registry tests' machine (empty hives) and the registry editor and
// libcreg run as real child processes.
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/host_files.h"
#include "tests/support/process.h"
#include "tests/support/registry_dump.h"
#include "tests/support/test_machine.h"

namespace regtest {

namespace fs = std::filesystem;
using testsupport::dumpTree;
using testsupport::Ran;
using testsupport::slurp;

// A Windows 98 machine whose hives are empty registry files; with
// classesDat a Windows ME one, with Classes.dat.
class TempMachine : public testsupport::TestMachine {
 public:
  explicit TempMachine(bool classesDat = false);
};

// Runs the registry editor with args on machine dir, feeding input.
Ran regedit(const fs::path& machineDir, const std::vector<std::string>& args, const std::string& input = {});
// Starts it without waiting, its output thrown away.
testsupport::Child startRegedit(const fs::path& machineDir, const std::vector<std::string>& args);

// libcreg's reading of a registry file (python3-libcreg, through
// creg_dump.py) in the format of dumpTree; status 0 when it read the file
// without complaint.
Ran libcregDump(const fs::path& file);

}  // namespace regtest
