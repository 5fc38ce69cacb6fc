#pragma once
// The cabinet code's streams over the machine's files: what lets the cabinet
// tools read and write on drives whose files have no host path (disk
// images) as well as on folder drives.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cab/stream.h"
#include "platform/error.h"
#include "platform/fileset.h"
#include "platform/volume.h"

namespace cabfiles {

// A file of the machine, read through a window of its bytes so that the
// cabinet code's small reads cost no call to the file system each. A read
// the platform refuses becomes a CabError naming label.
class ReaderInStream : public cab::WindowedInStream {
 public:
  ReaderInStream(std::unique_ptr<platform::FileReader> reader, std::string label);

 private:
  size_t readAt(char* buf, size_t n, uint64_t at) override;
  std::unique_ptr<platform::FileReader> reader_;
  std::string label_;
};

// A cabinet held in a host temporary file while it is written: the writer
// patches its headers at the end, which a file written front to back (the
// only way onto an image drive) cannot take. Gone with the stream.
class SpoolOutStream : public cab::OutStream {
 public:
  explicit SpoolOutStream(std::string label);  // throws CabError without a temporary
  ~SpoolOutStream() override;
  SpoolOutStream(const SpoolOutStream&) = delete;
  SpoolOutStream& operator=(const SpoolOutStream&) = delete;
  void write(const void* buf, size_t n) override;
  void patch(uint64_t pos, const void* buf, size_t n) override;
  uint64_t written() const override { return written_; }
  // Every byte, front to back, in pieces.
  void copyTo(const std::function<void(std::string_view)>& put);

 private:
  void drain();
  int fd_ = -1;
  std::string label_;
  std::string buf_;      // bytes after the file's end, not yet written
  uint64_t written_ = 0;
};

// The bytes of file i of a set, appended in pieces of a few hundred KiB
// (FileSet::write, which works on every drive). A write the platform
// refuses is kept: the cabinet reader turns it into a message of its own,
// and its number (disk full, write-protected) must outlive that.
class SetOutStream : public cab::OutStream {
 public:
  SetOutStream(platform::FileSet& set, size_t i) : set_(set), i_(i) {}
  void write(const void* buf, size_t n) override;
  void patch(uint64_t pos, const void* buf, size_t n) override;  // throws CabError
  uint64_t written() const override { return written_; }
  // The rest out; throws the platform's error.
  void flush();
  const std::optional<platform::Error>& failure() const { return failure_; }

 private:
  void drain();
  platform::FileSet& set_;
  size_t i_;
  std::string buf_;
  uint64_t written_ = 0;
  std::optional<platform::Error> failure_;
};

}  // namespace cabfiles
