#pragma once
// A machine made by brakvel9x-machine init (Windows 98, or ME with
// Classes.dat) with the real tools linked in, and the program on it run
// headless on the virtual clock; plus the independent cabinet tools that
// check what it makes.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/frmGlavni.h"
#include "app/headless_desktop.h"
#include "app/program.h"
#include "platform/launcher.h"
#include "platform/machine.h"
#include "platform/registry/registry.h"
#include "platform/timer.h"
#include "tests/support/host_files.h"
#include "tests/support/process.h"
#include "tests/support/test_machine.h"

namespace backuptest {

namespace fs = std::filesystem;
using testsupport::slurp;

inline const std::string kProgram = "C:\\Program Files\\Brakvel 9x";

class RealMachine {
 public:
  // Shows neither the intro nor the tips, so the main window opens at once.
  explicit RealMachine(bool me);

 private:
  testsupport::TestMachine tm_;

 public:
  const fs::path dir;
  platform::Machine& machine() { return tm_.machine(); }
  fs::path host(const std::string& winPath) { return machine().toHost(winPath); }
};

// The program on the machine, headless.
class Headless {
 public:
  Headless(RealMachine& rm, std::string programFolder = kProgram);
  ~Headless();

  // Runs the ticks until no watcher polls (the tools run in real time).
  bool waitForTools();
  std::vector<std::string> newLines();
  std::vector<std::string> messages() const;

  RealMachine& rm;
  std::unique_ptr<platform::reg::Registry> registry;
  platform::WindowTable windows;
  std::unique_ptr<platform::Launcher> launcher;
  platform::VirtualClock clock;
  app::HeadlessDesktop desktop;
  std::unique_ptr<app::Program> program;
  app::frmGlavni* main = nullptr;

 private:
  size_t seen_ = 0;
};

// Member names of a cabinet as cabextract lists them, in order; empty when
// cabextract cannot read it.
std::vector<std::string> cabMembers(const fs::path& cab);
// cabextract -t passes.
bool cabTests(const fs::path& cab);
// Extracts into a new folder and returns it.
fs::path cabExtract(const fs::path& cab, const fs::path& into);
// A Windows backup cabinet made by gcab from name -> content.
void makeWindowsCab(const fs::path& cab, const std::vector<std::pair<std::string, std::string>>& members,
                    const fs::path& scratch);

}  // namespace backuptest
