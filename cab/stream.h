#pragma once
// Byte streams the cabinet code reads and writes. Format code sees only
// these, so it can be fed from memory in tests and fuzzers; the tools open
// the files.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace cab {

class InStream {
 public:
  virtual ~InStream() = default;
  // Reads up to n bytes at the current position; returns the count, 0 at
  // the end. Throws CabError when the source cannot be read.
  virtual size_t read(void* buf, size_t n) = 0;
  virtual void seek(uint64_t pos) = 0;
  virtual uint64_t tell() const = 0;
  virtual uint64_t size() const = 0;
};

class OutStream {
 public:
  virtual ~OutStream() = default;
  // Writes all of n bytes or throws CabError.
  virtual void write(const void* buf, size_t n) = 0;
  // Overwrites bytes already written (headers whose counts are known last).
  virtual void patch(uint64_t pos, const void* buf, size_t n) = 0;
  virtual uint64_t written() const = 0;
};

class MemoryInStream : public InStream {
 public:
  explicit MemoryInStream(std::string_view bytes) : bytes_(bytes) {}
  size_t read(void* buf, size_t n) override;
  void seek(uint64_t pos) override { pos_ = pos; }
  uint64_t tell() const override { return pos_; }
  uint64_t size() const override { return bytes_.size(); }

 private:
  std::string_view bytes_;
  uint64_t pos_ = 0;
};

class MemoryOutStream : public OutStream {
 public:
  void write(const void* buf, size_t n) override;
  void patch(uint64_t pos, const void* buf, size_t n) override;
  uint64_t written() const override { return bytes_.size(); }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// A file read through a window of its bytes, so that small reads cost no
// system call each; what the file is gives readAt and the size.
class WindowedInStream : public InStream {
 public:
  size_t read(void* buf, size_t n) override;
  void seek(uint64_t pos) override { pos_ = pos; }
  uint64_t tell() const override { return pos_; }
  uint64_t size() const override { return size_; }

 protected:
  // Up to n bytes at `at`; fewer only at the end. Throws CabError.
  virtual size_t readAt(char* buf, size_t n, uint64_t at) = 0;
  uint64_t size_ = 0;

 private:
  uint64_t pos_ = 0;
  std::string window_;  // bytes of the file from windowAt_
  uint64_t windowAt_ = 0;
};

// A host file opened for reading; `label` names it in messages.
class FileInStream : public WindowedInStream {
 public:
  explicit FileInStream(const std::filesystem::path& path, std::string label = {});
  ~FileInStream() override;
  FileInStream(const FileInStream&) = delete;
  FileInStream& operator=(const FileInStream&) = delete;
  const std::string& label() const { return label_; }

 private:
  size_t readAt(char* buf, size_t n, uint64_t at) override;
  int fd_ = -1;
  std::string label_;
};

// A new host file. Full buffers go to a thread of its own that writes them
// and starts their write-back, so the caller goes on producing meanwhile.
// Memory stays bounded: the caller waits when a few buffers are queued.
class FileOutStream : public OutStream {
 public:
  FileOutStream(int fd, std::string label);  // takes ownership of fd
  ~FileOutStream() override;
  FileOutStream(const FileOutStream&) = delete;
  FileOutStream& operator=(const FileOutStream&) = delete;
  void write(const void* buf, size_t n) override;
  void patch(uint64_t pos, const void* buf, size_t n) override;
  uint64_t written() const override { return written_; }
  // Hands the rest to the writing thread, which then makes the file
  // durable; no more writes after this. flush() waits for it.
  void startFlush();
  // Everything out and durable (fdatasync); throws CabError when any write
  // failed.
  void flush();

 private:
  struct Behind;
  void drain();
  void ensureBehind();
  void wait(bool forFlush);
  void writeBehind();                           // the writing thread
  std::string writeChunk(std::string_view chunk);  // on that thread; the failure or empty
  int fd_;
  std::string label_;
  std::string buf_;
  uint64_t written_ = 0;
  uint64_t filePos_ = 0, started_ = 0;  // the writing thread's: bytes out, write-back started
  std::unique_ptr<Behind> behind_;
};

}  // namespace cab
