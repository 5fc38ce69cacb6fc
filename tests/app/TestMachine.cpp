#include "TestMachine.h"

#include <fstream>
#include <random>

namespace apptest {

namespace {
void writeText(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  out << text;
}
}  // namespace

fs::path makeMachine(const fs::path& dir, const MachineOptions& options) {
  fs::create_directories(dir);
  std::string ini = "[Machine]\r\nVersion=98\r\n[Drives]\r\nC=drive_c\r\nD=drive_d\r\nA=drive_a\r\n[Environment]\r\n";
  for (const auto& [k, v] : options.environment) ini += k + "=" + v + "\r\n";
  writeText(dir / "machine.ini", ini);
  const fs::path win = dir / "drive_c" / "WINDOWS";
  writeText(win / "System.dat", "REGEDIT4\r\n\r\n");
  writeText(win / "User.dat", "REGEDIT4\r\n\r\n");
  writeText(win / "System.ini", "[boot]\r\nshell=Explorer.exe\r\n");
  writeText(win / "Win.ini", "[windows]\r\n");
  fs::create_directories(win / "COMMAND");
  fs::create_directories(win / "Sysbckup");
  const fs::path prog = dir / "drive_c" / "Program Files" / "Brakvel 9x";
  for (const char* sub : {"archive", "Exchange", "undo", "Rescue", "util"}) fs::create_directories(prog / sub);
  fs::create_directories(dir / "drive_d" / "Brakvel 9x");
  return dir;
}

TestProgram::TestProgram(const MachineOptions& options, std::string programFolder) {
  std::random_device rd;
  dir = fs::temp_directory_path() / ("brakvel-app-test-" + std::to_string(rd()) + std::to_string(rd()));
  makeMachine(dir, options);
  machine.emplace(platform::Machine::open(dir));
  registry = std::make_unique<platform::reg::Registry>(*machine);
  launcher = std::make_unique<platform::Launcher>(*machine, windows);
  program = std::make_unique<app::Program>(app::Context{*machine, *registry, windows, *launcher, clock,
                                                        desktop, std::move(programFolder), "Brakvel 9x"});
}

TestProgram::~TestProgram() {
  program.reset();
  launcher.reset();
  registry.reset();
  std::error_code ec;
  fs::remove_all(dir, ec);
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
