#include "support.h"

namespace regtest {

using namespace testsupport;

namespace {

MachineOptions hives(bool me) {
  MachineOptions o;
  o.windows = me ? Windows::WinME : Windows::Win98;
  o.layout = Layout::EmptyHives;
  return o;
}

std::vector<std::string> regeditArgs(const std::vector<std::string>& args) {
  std::vector<std::string> a{REGEDIT_EXE};
  a.insert(a.end(), args.begin(), args.end());
  return a;
}

}  // namespace

TempMachine::TempMachine(bool classesDat) : TestMachine(hives(classesDat)) {}

Ran regedit(const fs::path& machineDir, const std::vector<std::string>& args, const std::string& input) {
  return run(regeditArgs(args), 120s, {.input = input, .machine = machineDir});
}

Child startRegedit(const fs::path& machineDir, const std::vector<std::string>& args) {
  return Child(regeditArgs(args), Child::Output::Discard, {.machine = machineDir});
}

Ran libcregDump(const fs::path& file) { return run({PYCREG_PYTHON, CREG_DUMP_PY, file.string()}, 120s); }

}  // namespace regtest
