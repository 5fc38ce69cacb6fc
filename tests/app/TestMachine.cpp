#include "TestMachine.h"

namespace apptest {

testsupport::MachineOptions programMachine() {
  return {.layout = testsupport::Layout::Fresh,
          .floppy = testsupport::Floppy::None,
          .driveD = true,
          .environment = {{"WinDir", "C:\\WINDOWS"}, {"PATH", "C:\\WINDOWS;C:\\WINDOWS\\COMMAND"}}};
}

TestProgram::TestProgram(const testsupport::MachineOptions& options, std::string programFolder)
    : tm_(options), dir(tm_.dir()) {
  machine.emplace(tm_.open());
  registry = std::make_unique<platform::reg::Registry>(*machine);
  launcher = std::make_unique<platform::Launcher>(*machine, windows);
  program = std::make_unique<app::Program>(app::Context{*machine, *registry, windows, *launcher, clock,
                                                        desktop, std::move(programFolder), "Brakvel 9x"});
}

TestProgram::~TestProgram() {
  program.reset();
  launcher.reset();
  registry.reset();
  machine.reset();
}

std::string TestProgram::setting(const std::string& key) {
  return platform::GetSetting(*machine, "Brakvel 9x", "Options", key, "<absent>");
}

void TestProgram::setSetting(const std::string& key, const std::string& value) {
  platform::SaveSetting(*machine, "Brakvel 9x", "Options", key, value);
}

std::vector<std::string> TestProgram::linesStartingWith(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& l : desktop.lines)
    if (l.rfind(prefix, 0) == 0) out.push_back(l);
  return out;
}

std::vector<std::string> TestProgram::newLines() {
  std::vector<std::string> out(desktop.lines.begin() + static_cast<long>(seen_), desktop.lines.end());
  seen_ = desktop.lines.size();
  return out;
}

}  // namespace apptest
