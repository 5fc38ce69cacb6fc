#pragma once
// Files of one folder replaced as one set. Every new file is written
// through its drive's Volume to new space first; commit() then puts all of
// them in place at once (Volume::commitSet), so that the folder holds the
// old files or every new one, never a mix, whenever the process is killed
// and whoever looks at the files. On a folder drive the set may reach into
// subfolders and its removals go in with it (platform/host_volume.h); on an
// image, the set is one per folder and removals follow it. Every check a
// write gets is made before anything is written, and write protection and
// space once more before commit: names Windows can hold, no disk, write
// protection, capacity, read-only files.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/machine.h"
#include "platform/volume.h"

namespace platform {

namespace fs = std::filesystem;

class FileSet {
 public:
  struct File {
    std::string name;   // below the folder, parts separated by "\" or "/"; program text
    uint64_t size = 0;  // what it will hold, for the check of free space
  };
  // A folder of machine m (Windows path). Throws Error naming the file or
  // folder that cannot be written; nothing has been written then.
  // replaceReadOnly: a read-only file of the set is replaced all the same
  // (the program's own working copies); otherwise it is refused.
  FileSet(const Machine& m, std::string_view folder, std::vector<File> files, bool replaceReadOnly = false);
  // A host folder (a path in program text) for tools run without a machine.
  FileSet(const fs::path& hostFolder, std::vector<File> files);
  ~FileSet();  // removes every temporary unless committed
  FileSet(const FileSet&) = delete;
  FileSet& operator=(const FileSet&) = delete;

  size_t size() const;
  // File i's path as the caller names paths (a Windows path on a machine).
  const std::string& path(size_t i) const;
  // A file of that name is there now, and commit() replaces it.
  bool exists(size_t i) const;
  // The temporary that becomes file i, open for writing: the caller writes
  // it and closes the descriptor. Folder drives only.
  int create(size_t i);
  // Bytes appended to file i's new contents, on any drive (no create()).
  void write(size_t i, std::string_view bytes);
  // File i, written through create(): its date, time and DOS attributes.
  void setInfo(size_t i, const DateTime& t, uint8_t attributes);
  // File i becomes a copy of the machine's file from, with its date, time
  // and attributes (machine only).
  void copyFrom(size_t i, std::string_view from);
  // File i is gone after commit().
  void remove(size_t i);
  // Every file in place as one set. Throws Error when it cannot be done;
  // the folder is then as it was.
  void commit();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Copies files of the machine into a folder as one set (the folder holds
// every new copy or every old one), replacing the copies there even when
// they are read-only. Each pair: the file to copy, its name in the folder.
void copyFilesAsSet(const Machine& m, std::string_view folder,
                    const std::vector<std::pair<std::string, std::string>>& fromAndName);

// The named files of a folder as they are now, kept aside (copied to the
// host's temporary folder) so that they can be put back as one set,
// whatever replaced them meanwhile.
class FolderSnapshot {
 public:
  FolderSnapshot(const Machine& m, std::string_view folder, std::vector<std::string> names);
  ~FolderSnapshot();  // drops what it kept
  FolderSnapshot(const FolderSnapshot&) = delete;
  FolderSnapshot& operator=(const FolderSnapshot&) = delete;
  // The named files as they were, those absent then removed; as one set.
  void restore();
  // The folder's file of that name is still the one kept (or still absent):
  // nothing has replaced it since.
  bool unchanged(const std::string& name) const;

 private:
  const Machine& m_;
  std::string folder_;
  std::vector<std::string> names_;
  std::vector<bool> kept_;
  fs::path keep_;  // host folder holding copies of the kept files
  std::vector<FileEntry> keptEntries_;
};

}  // namespace platform
