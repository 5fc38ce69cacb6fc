#pragma once
// A drive that is a host folder. Names are the host's (UTF-8 on the host,
// ANSI in the program), stored as given (trailing dots and blanks too,
// which a FAT volume drops); 8.3 names are made as VFAT makes them and stored
// with each file (platform/shortname.h); DOS attributes are the owner's
// write permission (read-only) and an extended attribute (hidden, system,
// archive; read-only of a folder), where the host has them; the creation
// time a replaced file keeps is an extended attribute too.
//
// A floppy drive (A:, B:) has no disk while its folder is missing (error
// 71), holds the capacity machine.ini gives it (what the files take,
// counted in bytes) and may be write-protected; other drives have the host
// file system's space.
//
// Writers write a temporary beside the target (platform/temporaries.h) that
// is flushed and renamed into place; a reader keeps its open descriptor, so
// it reads the file it opened whatever replaces it. A set goes in by
// building the folder's new contents beside it (what the set leaves alone
// linked in) and exchanging the two folders in one step; where the host
// cannot (a folder of more than 4096 entries, a file system without the
// exchange), the files are renamed into place one by one. A set may hold
// files of one folder and of its subfolders.
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/volume.h"

namespace platform {

class Machine;

struct HostVolumeOptions {
  std::string root = "C:";        // names the paths in messages
  bool floppy = false;            // no folder is no disk; the capacity below
  bool writeProtected = false;    // floppies only
  uint64_t capacity = 1457664;    // bytes, floppies only
};

class HostVolume : public Volume {
 public:
  HostVolume(std::filesystem::path folder, HostVolumeOptions options = {});
  // The folder of a folder drive of m, with the floppy settings m has now.
  HostVolume(const Machine& m, char letter);
  ~HostVolume() override;

  // machine.ini's floppy settings as they are now.
  void configure(const Machine& m);
  void setWriteProtected(bool on);

  const std::filesystem::path& folder() const { return folder_; }
  // The host path of path: its existing components as stored, the others as
  // given. Throws as the other calls do for no disk or a bad path.
  std::filesystem::path hostPath(std::string_view path);

  std::string label() const override;
  std::vector<FileEntry> walk(std::string_view path) override;
  std::vector<FileEntry> peek(std::string_view path) override;
  std::vector<FileEntry> list(std::string_view folder) override;
  std::unique_ptr<FileReader> open(std::string_view path) override;
  std::unique_ptr<FileWriter> create(std::string_view path, const NewFile& file = {}) override;
  void commitSet(const std::vector<FileWriter*>& files) override;
  void commitSetAndRemove(const std::vector<FileWriter*>& files, const std::vector<std::string>& removed) override;
  bool setsSpanSubfolders() const override { return true; }
  bool replacesReadOnly() const override { return true; }
  void writeInPlace(std::string_view path, std::string_view bytes, bool append) override;
  void makeFolder(std::string_view path) override;
  void removeFolder(std::string_view path) override;
  void remove(std::string_view path) override;
  void removeTree(std::string_view path) override;
  void rename(std::string_view from, std::string_view to, bool replace = false) override;
  void setAttributes(std::string_view path, uint8_t attributes) override;
  void setTimes(std::string_view path, const FileTimes& times) override;
  Space space() override;
  bool writeProtected() override;

  // The descriptor of a reader of a host volume (valid while it lives), or
  // -1 for another volume's reader.
  static int descriptorOf(FileReader& reader);
  // A descriptor of its own (the caller closes it) on the temporary of a
  // host volume's writer, or -1 for another volume's writer.
  static int duplicateOf(FileWriter& writer);
  // The reader's bytes and host permissions into the writer when both are
  // a host volume's; false (nothing done) otherwise.
  static bool copyBetween(FileReader& from, FileWriter& to);

  class Reader;
  class Writer;
  struct Where;

 private:
  Where where(std::string_view path);
  void ready(const std::string& shown) const;
  void checkWritable(const std::string& shown) const;
  void checkSpace(uint64_t adding, uint64_t freeing, const std::string& shown) const;
  // full: with its short name (made now when it has none) and creation time.
  FileEntry entryOf(const std::filesystem::path& dir, const std::string& hostName, bool full = true) const;
  std::vector<FileEntry> entries(std::string_view path, bool full);

  std::filesystem::path folder_;
  HostVolumeOptions options_;
  std::atomic<bool> writeProtected_{false};
  std::atomic<uint64_t> capacity_{0};
};

}  // namespace platform
