#include "Station.h"

#include <chrono>
#include <deque>
#include <stdexcept>

#include "cab/stream.h"
#include "cab/writer.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/support/wait.h"

namespace station {

namespace {

testsupport::MachineOptions installed(bool me, const std::string& floppyIni, bool floppyFolder) {
  testsupport::MachineOptions o{.windows = me ? testsupport::Windows::WinME : testsupport::Windows::Win98,
                                .layout = testsupport::Layout::Installed,
                                .a = floppyFolder ? testsupport::DriveForm::Folder : testsupport::DriveForm::Image,
                                .quietStart = true};
  for (size_t at = 0; at < floppyIni.size();) {
    size_t end = floppyIni.find("\r\n", at);
    std::string line = floppyIni.substr(at, end - at);
    at = end == std::string::npos ? floppyIni.size() : end + 2;
    size_t eq = line.find('=');
    if (eq != std::string::npos) o.settings.push_back({"Floppy", line.substr(0, eq), line.substr(eq + 1)});
  }
  return o;
}

}  // namespace

Station::Station(bool me, const std::string& floppyIni, bool floppyFolder)
    : tm_(installed(me, floppyIni, floppyFolder)), dir(tm_.dir()) {
  ::setenv("BRAKVEL9X_MACHINE", dir.c_str(), 1);
  machine.emplace(tm_.open());
  registry = std::make_unique<platform::reg::Registry>(*machine);
  launcher = std::make_unique<platform::Launcher>(*machine, windows);
  program = std::make_unique<app::Program>(
      app::Context{*machine, *registry, windows, *launcher, clock, desktop, kProgram, "Brakvel 9x"});
  program->start();
  main = &program->form<app::frmGlavni>();
  if (!main->loaded()) throw std::runtime_error("the main window did not open");
}

Station::~Station() {
  program.reset();
  launcher.reset();
  registry.reset();
  machine.reset();
}

std::string Station::read(const std::string& p) const { return platform::readFile(*machine, p); }
void Station::write(const std::string& p, const std::string& bytes) const {
  if (platform::fileExists(*machine, p)) platform::setAttributes(*machine, p, platform::kArchive);
  platform::writeFile(*machine, p, bytes);
}
bool Station::exists(const std::string& p) const { return platform::fileExists(*machine, p); }
void Station::remove(const std::string& p) const {
  platform::setAttributes(*machine, p, platform::kArchive);
  platform::deleteFile(*machine, p);
}
std::string Station::shortPath(const std::string& p) const { return machine->shortPath(p); }

std::vector<std::string> Station::set() const {
  std::vector<std::string> s;
  if (exists(kWin + "\\Classes.dat")) s.push_back("Classes.dat");
  for (const char* n : {"System.dat", "User.dat", "System.ini", "Win.ini"}) s.push_back(n);
  return s;
}

std::string Station::makeArchive(const std::string& name, const std::string& info,
                                 const std::map<std::string, std::string>& replace) const {
  std::vector<cab::Source> sources;
  std::deque<std::string> contents;  // the streams only look at them
  auto add = [&](const std::string& member, std::string bytes) {
    cab::Source s;
    s.name = member;
    s.label = member;
    contents.push_back(std::move(bytes));
    s.data = std::make_unique<cab::MemoryInStream>(contents.back());
    sources.push_back(std::move(s));
  };
  for (const std::string& n : set()) {
    auto it = replace.find(n);
    if (it == replace.end()) {
      add(n, read(kWin + "\\" + n));
    } else if (!it->second.empty()) {
      add(n, it->second);
    }
  }
  add("info.txt", info);
  cab::MemoryOutStream out;
  cab::write(sources, out, {});
  std::string path = kProgram + "\\archive\\" + name + ".kvt";
  platform::writeFile(*machine, path, out.bytes());
  return path;
}

void Station::ensureDiskArchive(const std::string& name) const {
  std::string path = kProgram + "\\util\\" + name;
  if (exists(path)) return;
  std::vector<cab::Source> sources;
  std::deque<std::string> contents;
  for (const char* member : {"DOSRESET.COM", "README.TXT"}) {
    cab::Source src;
    src.name = member;
    src.label = member;
    contents.push_back(std::string("contents of ") + member);
    src.data = std::make_unique<cab::MemoryInStream>(contents.back());
    sources.push_back(std::move(src));
  }
  cab::MemoryOutStream out;
  cab::write(sources, out, {});
  platform::writeFile(*machine, path, out.bytes());
}

void Station::selectArchive(app::Control* list, const std::string& archive) {
  list->clearRows();
  list->addRow(app::ListRow{archive, platform::winBaseName(archive), "", 0});
  list->userSelectRow(0);
}

bool Station::settle() {
  return clock.advanceUntil([&] { return !main->anyWatcherPolling(); }, 120000);
}

void Station::restartOnModal() {
  desktop.onModal = [this](app::Form& form) {
    // The restart's finished window tells that Windows has started again.
    platform::HWND finished = 0;
    testsupport::waitUntil(
        [&] {
          for (const auto& w : windows.all())
            if (w.title == "Finished - RUNDLL32") finished = w.handle;
          return finished != 0;
        },
        std::chrono::seconds(30), "the restart's finished window");
    if (finished) windows.postClose(finished);
    form.Unload();
  };
}

std::vector<std::string> Station::take(const std::string& prefix) {
  std::vector<std::string> out;
  for (size_t i = seen_; i < desktop.lines.size(); ++i)
    if (desktop.lines[i].rfind(prefix, 0) == 0) out.push_back(desktop.lines[i]);
  seen_ = desktop.lines.size();
  return out;
}

}  // namespace station
