#pragma once
// The bytes a FAT file system lives on. The format code reads and writes
// only through this, so it runs on an image file and, in tests and the
// fuzzer, on bytes in memory.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::fat {

class Device {
 public:
  virtual ~Device() = default;
  virtual uint64_t size() const = 0;
  // Whole reads and writes or Error(kDeviceError) naming the device.
  virtual void read(uint64_t at, void* buf, size_t n) = 0;
  virtual void write(uint64_t at, const void* buf, size_t n) = 0;
  // What was written so far is durable before anything written later.
  virtual void sync() = 0;
  virtual bool writable() const = 0;
  virtual const std::string& label() const = 0;
};

class MemoryDevice : public Device {
 public:
  MemoryDevice(std::string bytes, std::string label, bool writable = true)
      : bytes_(std::move(bytes)), label_(std::move(label)), writable_(writable) {}
  uint64_t size() const override { return bytes_.size(); }
  void read(uint64_t at, void* buf, size_t n) override;
  void write(uint64_t at, const void* buf, size_t n) override;
  void sync() override {}
  bool writable() const override { return writable_; }
  const std::string& label() const override { return label_; }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
  std::string label_;
  bool writable_;
};

// An open image file; does not own the descriptor.
class FileDevice : public Device {
 public:
  FileDevice(int fd, std::string label, bool writable);
  uint64_t size() const override;
  void read(uint64_t at, void* buf, size_t n) override;
  void write(uint64_t at, const void* buf, size_t n) override;
  void sync() override;
  bool writable() const override { return writable_; }
  const std::string& label() const override { return label_; }
  void setFd(int fd, bool writable) {
    fd_ = fd;
    writable_ = writable;
  }

 private:
  int fd_;
  std::string label_;
  bool writable_;
};

// Error(kDeviceError) whose text names the device and what is wrong.
[[noreturn]] void damaged(const Device& d, const std::string& what);

}  // namespace platform::fat
