#pragma once
// Files of the machine opened for reading at any offset and written in
// pieces, on folder drives and image drives alike: what the tools that read
// and write cabinets need, which a whole-file read or write cannot give.
#include <memory>
#include <string>
#include <string_view>

#include "platform/machine.h"
#include "platform/volume.h"

namespace platform {

// The file at path, open for reading; throws as readFile does.
std::unique_ptr<FileReader> openFile(const Machine& m, std::string_view path);

// The whole of a file, read-only, valid while the object lives: a folder
// drive's file is mapped, not copied (a script of megabytes then costs no
// fresh memory to clear and fill); an image drive's file is read whole.
class FileBytes {
 public:
  FileBytes() = default;
  FileBytes(FileBytes&& o) noexcept;
  FileBytes& operator=(FileBytes&& o) noexcept;
  ~FileBytes();
  std::string_view view() const { return map_ ? std::string_view(static_cast<const char*>(map_), size_) : copy_; }

 private:
  friend FileBytes mapFile(const Machine& m, std::string_view path);
  void* map_ = nullptr;
  size_t size_ = 0;
  std::string copy_;
};
// Throws as readFile does.
FileBytes mapFile(const Machine& m, std::string_view path);

// A new file that takes path's place whole when committed (the replaced
// file keeps its short name); until then nothing is visible, and abort or
// destruction leaves the old file as it was. Throws before anything is
// written when the folder is missing, the drive is write-protected or the
// target is a folder or read-only; a disk that cannot hold the bytes fails
// the write or the commit with error 61.
std::unique_ptr<FileWriter> createFile(const Machine& m, std::string_view path, const NewFile& file = {});

}  // namespace platform
