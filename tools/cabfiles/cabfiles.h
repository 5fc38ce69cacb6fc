#pragma once
// Paths and file details for the cabinet tools: Windows paths of the
// emulated machine when BRAKVEL9X_MACHINE is set, host paths otherwise.
// Paths are program text (ANSI) on both sides.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/files.h"
#include "platform/machine.h"

namespace cabfiles {

namespace fs = std::filesystem;

struct FileInfo {
  platform::DateTime time;
  uint8_t attributes = platform::kArchive;
};

class Files {
 public:
  // Opens the machine of BRAKVEL9X_MACHINE, or none; throws
  // platform::MachineError when the machine cannot be opened.
  static Files fromEnvironment();

  bool onMachine() const { return machine_.has_value(); }
  const platform::Machine* machine() const { return machine_ ? &*machine_ : nullptr; }
  // A command-line argument as program text (host arguments are UTF-8).
  std::string argument(const char* arg) const;
  // Program text for the console (UTF-8).
  static std::string show(const std::string& text);

  fs::path toHost(const std::string& path) const;
  std::string join(const std::string& folder, const std::string& name) const;
  std::string dirName(const std::string& path) const;
  std::string baseName(const std::string& path) const;
  bool isAbsolute(const std::string& path) const;

  bool isFolder(const std::string& path) const;
  bool isFile(const std::string& path) const;
  FileInfo info(const std::string& path) const;
  // Gives an existing file the date, time and attributes.
  void apply(const std::string& path, const FileInfo& info) const;
  void makeFolders(const std::string& path) const;
  // Before a finished temporary replaces the host file target: on a machine
  // the new file keeps the short name of the one it replaces.
  void keepShortName(const fs::path& temp, const fs::path& target) const;

 private:
  std::optional<platform::Machine> machine_;
};

}  // namespace cabfiles
