#include "platform/fat/device.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/error.h"
#include "platform/volume.h"

namespace platform::fat {

void damaged(const Device& d, const std::string& what) {
  throw Error(kDeviceError, errorDescription(kDeviceError), d.label() + ": " + what);
}

void MemoryDevice::read(uint64_t at, void* buf, size_t n) {
  if (at > bytes_.size() || n > bytes_.size() - at) damaged(*this, "read beyond the end of the image");
  std::memcpy(buf, bytes_.data() + at, n);
}

void MemoryDevice::write(uint64_t at, const void* buf, size_t n) {
  if (!writable_) throw Error(kPermissionDenied, label_);
  if (at > bytes_.size() || n > bytes_.size() - at) damaged(*this, "write beyond the end of the image");
  std::memcpy(bytes_.data() + at, buf, n);
}

FileDevice::FileDevice(int fd, std::string label, bool writable)
    : fd_(fd), label_(std::move(label)), writable_(writable) {}

uint64_t FileDevice::size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return 0;
  return static_cast<uint64_t>(st.st_size);
}

void FileDevice::read(uint64_t at, void* buf, size_t n) {
  auto* p = static_cast<char*>(buf);
  while (n > 0) {
    ssize_t got = ::pread(fd_, p, n, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) damaged(*this, std::string("cannot be read: ") + std::strerror(errno));
    if (got == 0) damaged(*this, "the image file ends before the file system does (truncated)");
    p += got;
    at += static_cast<uint64_t>(got);
    n -= static_cast<size_t>(got);
  }
}

void FileDevice::write(uint64_t at, const void* buf, size_t n) {
  if (!writable_) throw Error(kPermissionDenied, label_);
  const auto* p = static_cast<const char*>(buf);
  while (n > 0) {
    ssize_t put = ::pwrite(fd_, p, n, static_cast<off_t>(at));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) {
      if (errno == ENOSPC || errno == EDQUOT) throw Error(kDiskFull, label_);
      damaged(*this, std::string("cannot be written: ") + std::strerror(errno));
    }
    p += put;
    at += static_cast<uint64_t>(put);
    n -= static_cast<size_t>(put);
  }
}

void FileDevice::sync() {
  if (writable_ && ::fdatasync(fd_) != 0 && errno != EINVAL && errno != EROFS)
    damaged(*this, std::string("cannot be flushed: ") + std::strerror(errno));
}

}  // namespace platform::fat
