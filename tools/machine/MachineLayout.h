#pragma once
// A new Windows 98 (or ME) machine: machine.ini, drives, the Windows folder
// with its system files, and the program folder; or a machine whose C: is a
// disk that holds Windows already.
#include <filesystem>
#include <optional>
#include <string>

namespace machine_tool {

struct InitOptions {
  bool me = false;            // Windows ME (Classes.dat, C:\_restore)
  bool floppyFolder = false;  // A: as the folder drive_a instead of floppy.img
  // C: is this existing raw disk image, used where it is; its Windows
  // folder and system files are checked before anything is written.
  std::optional<std::filesystem::path> disk;
};

// Creates the machine in dir (made when missing) and returns its version
// ("98" or "ME"); throws std::runtime_error when dir already holds a
// machine or the disk is no Windows 98 / ME disk.
std::string initMachine(const std::filesystem::path& dir, const InitOptions& options);

// Gives every entry of every drive its short name, oldest first, as Windows
// would have when the files were made.
void nameEverything(const std::filesystem::path& dir);

}  // namespace machine_tool
