#pragma once
// The temporary machine every suite builds on: a machine folder made for one
// test, removed with it. What it holds is chosen by MachineOptions; drives C:
// and A: are host folders or FAT disk images.
#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/machine.h"

namespace testsupport {

namespace fs = std::filesystem;

enum class Windows { Win98, WinME };

// What drive C: holds.
enum class Layout {
  // C:\WINDOWS, empty.
  Bare,
  // System.dat and User.dat (and Classes.dat on ME) as empty registry files.
  EmptyHives,
  // The system files with stand-in contents ("live System.dat"), the
  // program's folders and C:\My Documents; on ME also C:\_restore.
  SystemSet,
  // A fresh Windows folder (hives still in REGEDIT4 text, System.ini,
  // Win.ini, COMMAND, Sysbckup) and the program's folders, without tools.
  Fresh,
  // What brakvel9x-machine init makes: the whole Windows folder, the demo
  // registry, and the program with the built tools installed.
  Installed,
};

enum class Floppy { Inserted, None, WriteProtected };

// Folder: drive_c/, drive_a/ (no folder: no disk). Image: disk.img (FAT32)
// and floppy.img (a 1.44 MB FAT12 floppy; no file: no disk), filled by
// mtools with what the folder would have held.
enum class DriveForm { Folder, Image };

using Variables = std::vector<std::pair<std::string, std::string>>;

// The environment a machine gets unless told otherwise.
inline const Variables kWindowsEnvironment = {{"WinDir", "C:\\WINDOWS"},
                                              {"PATH", "C:\\WINDOWS;C:\\WINDOWS\\COMMAND"},
                                              {"TEMP", "C:\\WINDOWS\\TEMP"},
                                              {"COMSPEC", "C:\\WINDOWS\\COMMAND.COM"}};

struct MachineOptions {
  Windows windows = Windows::Win98;
  Layout layout = Layout::Bare;
  Floppy floppy = Floppy::Inserted;
  DriveForm c = DriveForm::Folder;
  DriveForm a = DriveForm::Folder;
  // Drive D: (drive_d, with a "Brakvel 9x" folder), for a program installed
  // away from the Windows drive.
  bool driveD = false;
  // machine.ini's [Environment], in this order (Installed: changes to
  // init's; nothing here keeps init's own).
  Variables environment = kWindowsEnvironment;
  // More machine.ini lines: {section, key, value}, e.g. {"Floppy", "Capacity", "512"}.
  std::vector<std::array<std::string, 3>> settings{};
  // The program opens at once: neither the intro nor the tips at startup.
  bool quietStart = false;
  // machine.ini exactly as given, instead of the one made from the options
  // (for the tests of machine.ini itself).
  std::optional<std::string> ini{};

  // Sets (or adds) a variable of the environment; unset removes it.
  MachineOptions& setVariable(const std::string& name, const std::string& value);
  MachineOptions& unsetVariable(const std::string& name);
};

class TestMachine {
 public:
  explicit TestMachine(const MachineOptions& options = {});
  ~TestMachine();
  TestMachine(const TestMachine&) = delete;
  TestMachine& operator=(const TestMachine&) = delete;

  const fs::path& dir() const { return dir_; }
  const MachineOptions& options() const { return options_; }
  // The machine, opened on first use and kept.
  platform::Machine& machine() const;
  // A new Machine on the folder as it is now (after writeIni, say).
  platform::Machine open() const { return platform::Machine::open(dir_); }

  // The host folder of drive C: and of C:\WINDOWS (folder form).
  fs::path c() const { return dir_ / "drive_c"; }
  fs::path windows() const { return c() / "WINDOWS"; }
  fs::path hive(const char* name) const { return windows() / name; }
  // Writes a host file under drive_c (relative path with /), making its folders.
  fs::path put(const std::string& rel, const std::string& bytes) const;
  // Replaces machine.ini; machine() then opens it again.
  void writeIni(const std::string& ini);
  // The image file of a drive in the image form (disk.img, floppy.img).
  fs::path image(char letter) const;

 private:
  void build();
  void fill(platform::Machine& m);
  void toImage(const fs::path& folder, const fs::path& image, bool floppy);
  MachineOptions options_;
  fs::path dir_;
  mutable std::optional<platform::Machine> machine_;
};

}  // namespace testsupport
