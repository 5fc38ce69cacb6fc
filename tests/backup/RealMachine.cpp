#include "RealMachine.h"

#include <chrono>
#include <sstream>
#include <stdexcept>

#include "platform/files.h"

namespace backuptest {

namespace {

constexpr testsupport::Budget kPeerBudget = std::chrono::seconds(120);

testsupport::Ran peer(const std::vector<std::string>& argv) {
  return testsupport::run(argv, kPeerBudget, {.mergeOutput = true});
}

}  // namespace

RealMachine::RealMachine(bool me)
    : tm_({.windows = me ? testsupport::Windows::WinME : testsupport::Windows::Win98,
           .layout = testsupport::Layout::Installed,
           .quietStart = true}),
      dir(tm_.dir()) {}

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
  testsupport::Ran r = peer({"cabextract", "-l", cab.string()});
  std::vector<std::string> names;
  if (r.status != 0) return names;
  std::istringstream in(r.out);
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

bool cabTests(const fs::path& cab) { return peer({"cabextract", "-t", cab.string()}).status == 0; }

fs::path cabExtract(const fs::path& cab, const fs::path& into) {
  fs::create_directories(into);
  peer({"cabextract", "-q", "-d", into.string(), cab.string()});
  return into;
}

void makeWindowsCab(const fs::path& cab, const std::vector<std::pair<std::string, std::string>>& members,
                    const fs::path& scratch) {
  fs::create_directories(scratch);
  std::vector<std::string> argv{"gcab", "-c", "-n", "-z", cab.string()};
  for (const auto& [name, content] : members) {
    testsupport::spit(scratch / name, content);
    argv.push_back((scratch / name).string());
  }
  testsupport::Ran r = peer(argv);
  if (r.status != 0) throw std::runtime_error("gcab failed: " + r.out);
}

}  // namespace backuptest
