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

// A host file opened for reading; `label` names it in messages.
class FileInStream : public InStream {
 public:
  explicit FileInStream(const std::filesystem::path& path, std::string label = {});
  ~FileInStream() override;
  FileInStream(const FileInStream&) = delete;
  FileInStream& operator=(const FileInStream&) = delete;
  size_t read(void* buf, size_t n) override;
  void seek(uint64_t pos) override { pos_ = pos; }
  uint64_t tell() const override { return pos_; }
  uint64_t size() const override { return size_; }
  const std::string& label() const { return label_; }

 private:
  int fd_ = -1;
  uint64_t pos_ = 0;
  uint64_t size_ = 0;
  std::string label_;
};

// A new host file written through a buffer; flush() makes it durable.
class FileOutStream : public OutStream {
 public:
  FileOutStream(int fd, std::string label);  // takes ownership of fd
  ~FileOutStream() override;
  FileOutStream(const FileOutStream&) = delete;
  FileOutStream& operator=(const FileOutStream&) = delete;
  void write(const void* buf, size_t n) override;
  void patch(uint64_t pos, const void* buf, size_t n) override;
  uint64_t written() const override { return written_; }
  void flush();  // buffer out and fsync
  int fd() const { return fd_; }

 private:
  void drain();
  void writeAll(const char* p, size_t n);
  int fd_;
  std::string label_;
  std::string buf_;
  uint64_t written_ = 0;
  uint64_t filePos_ = 0;  // bytes handed to the file so far
  uint64_t synced_ = 0;   // bytes whose write-back has been started
};

}  // namespace cab
