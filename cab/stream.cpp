#include "cab/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cab/error.h"

namespace cab {

size_t MemoryInStream::read(void* buf, size_t n) {
  if (pos_ >= bytes_.size()) return 0;
  size_t k = std::min<uint64_t>(n, bytes_.size() - pos_);
  std::memcpy(buf, bytes_.data() + pos_, k);
  pos_ += k;
  return k;
}

void MemoryOutStream::write(const void* buf, size_t n) {
  bytes_.append(static_cast<const char*>(buf), n);
}

void MemoryOutStream::patch(uint64_t pos, const void* buf, size_t n) {
  if (pos + n > bytes_.size()) throw CabError("patch beyond the end of the output");
  std::memcpy(bytes_.data() + pos, buf, n);
}

namespace {
std::string sysError(const std::string& what, const std::string& label) {
  return what + " " + label + ": " + std::strerror(errno);
}
}  // namespace

FileInStream::FileInStream(const std::filesystem::path& path, std::string label)
    : label_(label.empty() ? path.string() : std::move(label)) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw CabError(sysError("cannot open", label_));
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    ::close(fd_);
    throw CabError(sysError("cannot read", label_));
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd_);
    throw CabError("cannot read " + label_ + ": it is a folder");
  }
  size_ = static_cast<uint64_t>(st.st_size);
  ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

FileInStream::~FileInStream() {
  if (fd_ >= 0) ::close(fd_);
}

size_t FileInStream::read(void* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::pread(fd_, static_cast<char*>(buf) + done, n - done, static_cast<off_t>(pos_));
    if (r < 0) {
      if (errno == EINTR) continue;
      throw CabError(sysError("cannot read", label_));
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
    pos_ += static_cast<uint64_t>(r);
  }
  return done;
}

FileOutStream::FileOutStream(int fd, std::string label) : fd_(fd), label_(std::move(label)) {
  buf_.reserve(1 << 18);
}

FileOutStream::~FileOutStream() {
  if (fd_ >= 0) ::close(fd_);
}

void FileOutStream::writeAll(const char* p, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::write(fd_, p + done, n - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      throw CabError(sysError("cannot write", label_));
    }
    done += static_cast<size_t>(r);
  }
  // Start writing back what is done so that flush() finds little left.
  filePos_ += n;
  if (filePos_ - synced_ >= (8u << 20)) {
    ::sync_file_range(fd_, static_cast<off_t>(synced_), static_cast<off_t>(filePos_ - synced_),
                      SYNC_FILE_RANGE_WRITE);
    synced_ = filePos_;
  }
}

void FileOutStream::drain() {
  writeAll(buf_.data(), buf_.size());
  buf_.clear();
}

void FileOutStream::write(const void* buf, size_t n) {
  written_ += n;
  if (buf_.size() + n > buf_.capacity()) drain();
  if (n >= buf_.capacity()) {
    writeAll(static_cast<const char*>(buf), n);
    return;
  }
  buf_.append(static_cast<const char*>(buf), n);
}

void FileOutStream::patch(uint64_t pos, const void* buf, size_t n) {
  drain();
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::pwrite(fd_, static_cast<const char*>(buf) + done, n - done,
                         static_cast<off_t>(pos + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      throw CabError(sysError("cannot write", label_));
    }
    done += static_cast<size_t>(r);
  }
}

void FileOutStream::flush() {
  drain();
  if (::fdatasync(fd_) != 0) throw CabError(sysError("cannot write", label_));
}

}  // namespace cab
