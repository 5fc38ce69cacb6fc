#pragma once
// A machine made by brakvel9x-machine init, with the real tools installed,
// and the program on it headless: virtual clock for the timers, real time
// for the tools.
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/context.h"
#include "app/frmGlavni.h"
#include "app/headless_desktop.h"
#include "app/program.h"
#include "platform/launcher.h"
#include "platform/machine.h"
#include "platform/registry/registry.h"
#include "platform/timer.h"
#include "tests/support/test_machine.h"

namespace station {

namespace fs = std::filesystem;

inline const std::string kProgram = "C:\\Program Files\\Brakvel 9x";
inline const std::string kWin = "C:\\WINDOWS";

class Station {
 public:
  // A Windows 98 machine, or ME (Classes.dat, C:\_restore) with me set.
  // floppyIni: "Key=Value" lines (CR LF) for machine.ini's [Floppy] section.
  // floppyFolder: A: is the folder drive_a (which has a Capacity), not the
  // floppy image.
  explicit Station(bool me = false, const std::string& floppyIni = {}, bool floppyFolder = false);
  ~Station();

 private:
  testsupport::TestMachine tm_;

 public:
  const fs::path dir;
  std::optional<platform::Machine> machine;
  std::unique_ptr<platform::reg::Registry> registry;
  platform::WindowTable windows;
  std::unique_ptr<platform::Launcher> launcher;
  platform::VirtualClock clock;
  app::HeadlessDesktop desktop;
  std::unique_ptr<app::Program> program;
  app::frmGlavni* main = nullptr;

  // Machine files by Windows path.
  std::string read(const std::string& winPath) const;
  void write(const std::string& winPath, const std::string& bytes) const;
  bool exists(const std::string& winPath) const;
  void remove(const std::string& winPath) const;
  std::string shortPath(const std::string& winPath) const;
  // The system-file set of this machine.
  std::vector<std::string> set() const;

  // An archive NAME.kvt in the archive folder: the live set (with
  // replacements by name; an empty replacement leaves the member out) and
  // info.txt. Returns its Windows path.
  std::string makeArchive(const std::string& name, const std::string& info,
                          const std::map<std::string, std::string>& replace = {}) const;
  // util\NAME (ad.kvt, ard.kvt) of our own when the build has not put the
  // disk archive into the machine: DOSRESET.COM and README.TXT.
  void ensureDiskArchive(const std::string& name) const;
  // The archive as a row of a list, selected and clicked.
  void selectArchive(app::Control* list, const std::string& archive);
  // Lets time pass until no watcher polls (the tools finish meanwhile).
  bool settle();
  // Runs the restart the dialog started, and closes the dialog: the answer
  // for "Yes, reboot my computer now".
  void restartOnModal();
  // Transcript lines starting with prefix, since the last call.
  std::vector<std::string> take(const std::string& prefix);

 private:
  size_t seen_ = 0;
};

}  // namespace station
