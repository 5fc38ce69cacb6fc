#pragma once
// A file that appears under its name only when complete: written to a
// temporary file in the same folder and renamed over the target on commit.
// Until then the old file (if any) stays untouched; an abandoned temporary is
// removed, also when the process is ended by SIGINT, SIGTERM or SIGHUP.
#include <filesystem>
#include <memory>
#include <string>

#include "cab/stream.h"

namespace cab {

class AtomicFile {
 public:
  // Throws CabError naming `label` when the folder of target does not exist
  // or refuses a new file. The temporary goes into tempFolder when given
  // (same file system as target), else beside the target.
  AtomicFile(const std::filesystem::path& target, std::string label,
             const std::filesystem::path& tempFolder = {});
  ~AtomicFile();  // removes the temporary unless committed
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  FileOutStream& stream() { return *stream_; }
  const std::filesystem::path& tempPath() const { return temp_; }
  // Lets the rest be written and made durable in the background while the
  // caller goes on; close() or commit() waits for it.
  void startClose();
  // Flushes and closes the temporary, keeping it for commit(); frees the
  // file handle and buffer while other files are being written.
  void close();
  // Flushes, then renames over the target.
  void commit();
  // Drops the temporary at once.
  void abandon();

 private:
  std::filesystem::path target_;
  std::filesystem::path temp_;
  std::string label_;
  std::unique_ptr<FileOutStream> stream_;
  int slot_ = -1;
  bool done_ = false;
};

}  // namespace cab
