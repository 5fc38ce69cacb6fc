// brakvel9x-script SCRIPT: runs the program headless on the machine named by
// BRAKVEL9X_MACHINE (or the demo machine), in real time with the real tools,
// and writes the transcript of what happens on standard output.
#include <csignal>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/program.h"
#include "platform/error.h"
#include "platform/launcher.h"
#include "platform/machine.h"
#include "platform/net/http.h"
#include "platform/net/internet.h"
#include "platform/registry/registry.h"
#include "platform/tasks.h"
#include "platform/timer.h"
#include "ui/common/ProgramLocation.h"
#include "ui/script/ScriptRunner.h"

namespace {
void onTerm(int) { script::ScriptRunner::closeRequested = true; }
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::string(argv[1]) == "--help") {
    std::cerr << "usage: brakvel9x-script SCRIPT\n"
                 "Runs the program headless on the machine named by BRAKVEL9X_MACHINE and\n"
                 "writes a transcript of what it does; see the README for the actions.\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << "brakvel9x-script: cannot read the script " << argv[1] << "\n";
    return 2;
  }
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);

  std::optional<platform::Machine> machine;
  try {
    machine.emplace(platform::Machine::open(platform::Machine::defaultDir()));
  } catch (const std::exception& e) {
    std::cerr << "brakvel9x-script: " << e.what() << "\n";
    return 2;
  }
  frontend::ProgramLocation where = frontend::locateProgram(*machine, nullptr);

  platform::reg::Registry registry(*machine);
  platform::WindowTable windows;
  platform::Launcher launcher(*machine, windows);
  platform::PlainLoop loop;
  script::ScriptDesktop desktop;
  platform::TaskRegistration task(*machine, app::kAppTitle);
  std::signal(SIGTERM, onTerm);

  int status = 0;
  {
    platform::net::HostInternet internet(*machine);
    platform::net::HostHttp http;
    app::Program program(app::Context{*machine, registry, windows, launcher, loop, desktop, where.folder,
                                      where.exeName, &internet, &http});
    script::ScriptRunner runner(program, desktop, loop, std::move(lines), std::cout);
    status = runner.run();
  }
  return status;
}
