#pragma once
// Paths and file details for the cabinet tools: Windows paths of the
// emulated machine when BRAKVEL9X_MACHINE is set, host paths otherwise.
// Paths are program text (ANSI) on both sides. On a machine every file is
// reached through the platform's file functions, so the tools work on
// drives that are disk images as on folder drives.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cab/stream.h"
#include "platform/files.h"
#include "platform/fileset.h"
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
  // Both name one existing file (the same file under another name form, on
  // a machine: long or short, any letter case).
  bool sameFile(const std::string& a, const std::string& b) const;

  // The file open for reading; throws CabError naming it.
  std::unique_ptr<cab::InStream> open(const std::string& path) const;
  // New files of a folder, put in place as one set.
  std::unique_ptr<platform::FileSet> newFiles(const std::string& folder,
                                              std::vector<platform::FileSet::File> files) const;
  // The path lies on a drive that is a disk image: a file set there is
  // written through FileSet::write, never through a descriptor.
  bool onImage(const std::string& path) const;

 private:
  fs::path hostPath(const std::string& path) const;  // without a machine only
  std::optional<platform::Machine> machine_;
};

}  // namespace cabfiles
