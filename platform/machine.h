#pragma once
// An emulated Windows 9x machine: a host folder with machine.ini, one folder
// per drive, the registry inside the system files. Everything the program and
// the tools do to "Windows" goes through a Machine.
//
// machine.ini:
//   [Machine]      Version=98 | ME
//   [Drives]       C=drive_c            (relative to the machine folder)
//                  A=drive_a            (A: and B: are floppy drives: a missing
//                                        folder means "no disk")
//                  C=disk.img           a FAT disk image: a value naming a
//                  A=floppy.img         regular file or ending in ".img"; a
//                                       missing floppy image is "no disk"
//   [Floppy]       WriteProtected=0|1   Capacity=1457664 (bytes)
//   [Environment]  WinDir=C:\WINDOWS    PATH=C:\WINDOWS;C:\WINDOWS\COMMAND ...
//   [Internet]     Connection=host|lan|modem|proxy|offline|none
//                  UpdateServer=http://...   WorkMode=online|offline
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

namespace fs = std::filesystem;

class Volume;

class Machine {
 public:
  // Opens the machine in dir; throws MachineError naming machine.ini (or the
  // folder) when it is missing, malformed, or maps a drive folder that does
  // not exist (floppy drives excepted).
  static Machine open(const fs::path& dir);

  // BRAKVEL9X_MACHINE, or the demo machine under $XDG_DATA_HOME/brakvel9x/demo
  // (default ~/.local/share/brakvel9x/demo). Does not create it.
  static fs::path defaultDir();

  const fs::path& root() const { return root_; }

  // --- machine.ini -------------------------------------------------------
  std::optional<std::string> ini(std::string_view section, std::string_view key) const;
  // Rewrites machine.ini atomically, keeping every other line.
  void setIni(std::string_view section, std::string_view key, std::string_view value);

  // --- drives --------------------------------------------------------------
  // Host folder of a drive letter (any case), nullopt when not mapped or
  // when the drive is a disk image.
  std::optional<fs::path> driveFolder(char letter) const;
  // The drive is mapped, as a folder or as an image.
  bool hasDrive(char letter) const;
  // The image file of a drive that is a disk image, nullopt otherwise.
  std::optional<fs::path> driveImage(char letter) const;
  // The file system of an image drive, opened on first use and shared by
  // the copies of this Machine; nullptr for a folder drive. Throws
  // Error(kDiskNotReady) when the image is gone and Error(57) naming the
  // image when it holds no usable FAT file system.
  Volume* imageVolume(char letter) const;
  // The file system of a drive, image or folder (platform/host_volume.h),
  // shared by the copies of this Machine; nullptr when the drive is not
  // mapped. Throws as imageVolume does.
  Volume* volume(char letter) const;
  bool isFloppy(char letter) const;  // A: and B:
  std::vector<char> drives() const;

  // --- environment -------------------------------------------------------
  // The machine's environment block, names compared without case. A variable
  // set in the host environment wins (BRAKVEL9X_ENV_<NAME> always wins; a
  // plain host variable of the same name wins except for PATH, TEMP, TMP,
  // COMSPEC, which are the host's own); a winning value that is empty removes
  // the variable, so "WinDir= cmd" runs cmd with WinDir unset.
  std::optional<std::string> env(std::string_view name) const;
  std::vector<std::pair<std::string, std::string>> environment() const;

  // --- paths ---------------------------------------------------------------
  // Windows path (ANSI) -> host path. Drive letter required; "\" and "/" both
  // separate; every existing component is matched without case in its long
  // or its 8.3 form; components that do not exist are kept as given (so a
  // file can be created under its long name). "." and ".." are resolved
  // lexically and never leave the drive. Throws Error(kPathNotFound) for an
  // unmapped drive, Error(kDiskNotReady) for a floppy drive without disk,
  // Error(kBadFileNameSyntax) for a path that is not a drive path,
  // Error(kPathFileAccess) for a drive that is a disk image, which has no
  // host path.
  fs::path toHost(std::string_view winPath) const;
  // Host path inside a drive folder -> Windows path with long names, e.g.
  // "C:\Program Files\Brakvel 9x". nullopt when outside every drive.
  std::optional<std::string> toWindows(const fs::path& host) const;

  // The short (8.3) form of an existing path, every component short and
  // upper case ("C:\PROGRA~1\BRAKVE~1\EXCHANGE"); empty text when the path
  // does not exist. Short names are assigned as VFAT does and stored with
  // the file, so they never change while the file exists.
  std::string shortPath(std::string_view winPath) const;
  // The long form of an existing path (each component as stored).
  std::string longPath(std::string_view winPath) const;

 private:
  Machine() = default;
  fs::path root_;
  std::map<char, fs::path> drives_;  // folder or image file
  std::map<char, bool> images_;
  struct Volumes;
  std::shared_ptr<Volumes> volumes_;
  // section -> key -> value, keys lower-cased for lookup
  std::map<std::string, std::map<std::string, std::string>> ini_;
  std::vector<std::pair<std::string, std::string>> iniEnv_;
};

// Windows-path helpers that need no machine.
std::string winJoin(std::string_view folder, std::string_view name);  // adds "\" when missing
std::string winBaseName(std::string_view path);                       // after the last "\" or "/" or ":"
std::string winDirName(std::string_view path);                        // up to the last "\"
bool isValid83(std::string_view name);                                // already a valid 8.3 name

}  // namespace platform
