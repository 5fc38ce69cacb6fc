#pragma once
// A small Windows 98 machine in a temporary folder and a program on it,
// driven headless: virtual clock, transcript desktop.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/context.h"
#include "app/headless_desktop.h"
#include "app/program.h"
#include "platform/launcher.h"
#include "platform/machine.h"
#include "platform/registry/registry.h"
#include "platform/timer.h"
#include "tests/support/test_machine.h"

namespace apptest {

namespace fs = std::filesystem;

// The machine the form tests run on: the folder layout a fresh machine has
// (no tools installed), drive D: beside C:, no disk in A:.
testsupport::MachineOptions programMachine();

class TestProgram {
 public:
  explicit TestProgram(const testsupport::MachineOptions& options = programMachine(),
                       std::string programFolder = "C:\\Program Files\\Brakvel 9x");
  ~TestProgram();

 private:
  testsupport::TestMachine tm_;

 public:
  fs::path dir;
  std::optional<platform::Machine> machine;
  std::unique_ptr<platform::reg::Registry> registry;
  platform::WindowTable windows;
  std::unique_ptr<platform::Launcher> launcher;
  platform::VirtualClock clock;
  app::HeadlessDesktop desktop;
  std::unique_ptr<app::Program> program;

  // The preference, or "<absent>".
  std::string setting(const std::string& key);
  void setSetting(const std::string& key, const std::string& value);
  // Transcript lines that start with prefix.
  std::vector<std::string> linesStartingWith(const std::string& prefix) const;
  // Transcript lines added since the last call.
  std::vector<std::string> newLines();

 private:
  size_t seen_ = 0;
};

}  // namespace apptest
