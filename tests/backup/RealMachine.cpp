#include "RealMachine.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

#include "platform/files.h"

namespace backuptest {

std::string quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

CommandResult runCommand(const std::string& command) {
  CommandResult r;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.output.append(buf.data(), n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::string readHost(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

RealMachine::RealMachine(bool me) {
  std::random_device rd;
  dir = fs::temp_directory_path() / ("brakvel-backup-test-" + std::to_string(rd()) + std::to_string(rd()));
  CommandResult r = runCommand(quote(BRAKVEL9X_MACHINE_TOOL) + " init " + quote(dir.string()) + (me ? " --me" : ""));
  if (r.status != 0) throw std::runtime_error("brakvel9x-machine init failed: " + r.output);
  machine_.emplace(platform::Machine::open(dir));
  platform::SaveSetting(*machine_, "Brakvel 9x", "Options", "Show Intro", "0");
  platform::SaveSetting(*machine_, "Brakvel 9x", "Options", "Show Tips at Startup", "0");
}

RealMachine::~RealMachine() {
  std::error_code ec;
  fs::remove_all(dir, ec);
}

Headless::Headless(RealMachine& m, std::string programFolder) : rm(m) {
  registry = std::make_unique<platform::reg::Registry>(rm.machine());
  launcher = std::make_unique<platform::Launcher>(rm.machine(), windows);
  program = std::make_unique<app::Program>(app::Context{rm.machine(), *registry, windows, *launcher, clock, desktop,
                                                        std::move(programFolder), "Brakvel 9x"});
  program->start();
  main = &program->form<app::frmGlavni>();
}

Headless::~Headless() {
  program.reset();
  launcher.reset();
  registry.reset();
}

bool Headless::waitForTools() {
  return clock.advanceUntil([&] { return !main->anyWatcherPolling(); }, 120000, 60000);
}

std::vector<std::string> Headless::newLines() {
  std::vector<std::string> out(desktop.lines.begin() + static_cast<long>(seen_), desktop.lines.end());
  seen_ = desktop.lines.size();
  return out;
}

std::vector<std::string> Headless::messages() const {
  std::vector<std::string> out;
  for (const auto& l : desktop.lines)
    if (l.rfind("message: ", 0) == 0) out.push_back(l);
  return out;
}

std::vector<std::string> cabMembers(const fs::path& cab) {
  CommandResult r = runCommand("cabextract -l " + quote(cab.string()));
  std::vector<std::string> names;
  if (r.status != 0) return names;
  std::istringstream in(r.output);
  bool table = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("-----------+", 0) == 0) {
      table = true;
      continue;
    }
    if (!table) continue;
    if (line.empty()) break;
    size_t bar = line.rfind(" | ");
    if (bar != std::string::npos) names.push_back(line.substr(bar + 3));
  }
  return names;
}

bool cabTests(const fs::path& cab) { return runCommand("cabextract -t " + quote(cab.string())).status == 0; }

fs::path cabExtract(const fs::path& cab, const fs::path& into) {
  fs::create_directories(into);
  runCommand("cabextract -q -d " + quote(into.string()) + " " + quote(cab.string()));
  return into;
}

void makeWindowsCab(const fs::path& cab, const std::vector<std::pair<std::string, std::string>>& members,
                    const fs::path& scratch) {
  fs::create_directories(scratch);
  std::string command = "gcab -c -n -z " + quote(cab.string());
  for (const auto& [name, content] : members) {
    std::ofstream(scratch / name, std::ios::binary) << content;
    command += " " + quote((scratch / name).string());
  }
  CommandResult r = runCommand(command);
  if (r.status != 0) throw std::runtime_error("gcab failed: " + r.output);
}

}  // namespace backuptest
